#include "monitor/ReadAhead.h"

#include "db/Database.h"
#include "db/StoredValue.h"
#include "monitor/DcSyncOverview.h"
#include "monitor/StatusSummary.h"
#include "settings/SettingsStore.h"

#include <optional>

namespace fw {

namespace {

// The SyncId of the run a prefetched statement found, bound as the readers bind it.
std::optional<QVariant> runId(const Database& db, const Database::Statement& s, SyncSide side)
{
    std::optional<QSqlQuery> run = db.prefetched(s);
    if (!run || !run->next())
        return std::nullopt;
    const Result<qint64> id = stored::integer(run->value(QStringLiteral("SyncId")),
                                              side == SyncSide::DC ? column::dcSyncId : column::gcSyncId);
    if (!id)
        return std::nullopt; // the reader meets the failure itself
    return QVariant::fromValue<qint64>(*id);
}

} // namespace

void ReadAhead::run(Database& db) const
{
    if (db.dialect().engine() != SqlDialect::Engine::SqlServer)
        return; // a file costs no round trips
    const SqlDialect& d = db.dialect();
    QList<Database::Statement> first = {{StatusSummary::latestRunSql(SyncSide::DC)}, {StatusSummary::latestRunSql(SyncSide::GC)}};
    if (finishedRuns)
        first += QList<Database::Statement>{{StatusSummary::latestFinishedRunSql(SyncSide::DC)},
                                            {StatusSummary::latestFinishedRunSql(SyncSide::GC)}};
    if (settings)
        first += QList<Database::Statement>{{SettingsStore::domainListSql().arg(d.textOrder(QStringLiteral("DomainName")),
                                                                                d.textOrder(QStringLiteral("AdDomainObjectID")))},
                                            {SettingsStore::configurationSql().arg(d.textOrder(QStringLiteral("FullNodeName")))}};
    const Database::Statement domains{DcSyncOverview::domainsSql(d)};
    if (overview)
        first.append(domains);
    db.prefetch(first);

    QList<Database::Statement> second;
    for (qsizetype i = 0; i < (finishedRuns ? 4 : 2); ++i) {
        const SyncSide side = i % 2 == 0 ? SyncSide::DC : SyncSide::GC;
        if (const std::optional<QVariant> id = runId(db, first[i], side))
            second.append({StatusSummary::objectTotalSql(side), {*id}});
    }
    if (const std::optional<QVariant> id = overview ? runId(db, first[0], SyncSide::DC) : std::nullopt) {
        second += QList<Database::Statement>{{DcSyncOverview::runSql(), {*id}}, {DcSyncOverview::totalsSql(), {*id}}};
        if (std::optional<QSqlQuery> names = db.prefetched(domains))
            while (names->next())
                second.append({DcSyncOverview::domainStatusSql(), {*id, names->value(0).toString()}});
    }
    db.prefetch(second);
}

} // namespace fw
