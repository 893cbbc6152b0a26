#include "monitor/FleetState.h"

#include "context/AppContext.h"
#include "db/Database.h"
#include "db/WallTime.h"
#include "monitor/RowValues.h"
#include "monitor/StatusSummary.h"
#include "platform/Clock.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"

#include <QSqlQuery>

namespace fw {
namespace {

// A stored wall time as Unix time, read in the server's own zone.
qint64 epochOfWallTime(const QDateTime& wall)
{
    return QDateTime(wall.date(), wall.time(), Qt::LocalTime).toSecsSinceEpoch();
}

bool readFinishedRun(Database& db, SyncSide side, const QDateTime& now, FleetSide& out, QStringList& failures)
{
    const QString prefix = side == SyncSide::DC ? QStringLiteral("dc.") : QStringLiteral("gc.");
    FwError err;
    const std::optional<FinishedRun> run = StatusSummary::latestFinishedRun(db, side, &err);
    if (err) {
        failures.append(prefix + QStringLiteral("latestFinishedRun"));
        return false;
    }
    if (!run)
        return true;
    out.hasFinishedRun = true;
    out.finishedSyncId = run->syncId;
    out.syncIntervalMinutes = run->syncIntervalMinutes;
    if (run->end.isValid()) {
        out.lastFinishedEpoch = epochOfWallTime(run->end);
        out.ageSeconds = wallSecondsBetween(run->end, now);
        if (run->start.isValid())
            out.lastDurationSeconds = wallSecondsBetween(run->start, run->end);
    }
    QSqlQuery t = db.run(StatusSummary::objectTotalSql(side), {run->syncId}, &err);
    if (err) {
        failures.append(prefix + QStringLiteral("finishedObjectTotal"));
        return false;
    }
    const FirstRow total = FirstRow::from(t);
    const QVariant sum = total.exists() ? total.value(QStringLiteral("TotalCount")) : QVariant();
    try {
        out.lastObjects = sum.isNull() ? 0 : rowvalue::integer(sum);
    } catch (const FwException&) {
        failures.append(prefix + QStringLiteral("finishedObjectTotal"));
        return false;
    }
    return true;
}

} // namespace

FleetState readFleetState(AppContext& ctx)
{
    FleetState s;
    s.velmoraVersion = ctx.localVersion.Text;

    // The Status page's refresh: which runs are going on, and whether it could read everything.
    const StatusSnapshot snap = StatusSummary(ctx).PopulateDCGCStatus();
    if (!snap.readCompletely()) {
        for (const ReadFailure& f : snap.failures)
            s.failures.append(f.part);
        if (s.failures.isEmpty())
            s.failures.append(QStringLiteral("database"));
        return s;
    }
    s.dc.inProgress = snap.dc.hasRun && snap.dc.active;
    s.gc.inProgress = snap.gc.hasRun && snap.gc.active;

    FwError err;
    auto db = Database::open(StatusSummary::connectionStringOf(ctx), &err);
    if (!db) {
        s.failures.append(QStringLiteral("database"));
        return s;
    }
    const QDateTime now = ctx.clock().now();
    // Stops at the first part it cannot read: a locked database would make each further part wait too.
    if (!readFinishedRun(*db, SyncSide::DC, now, s.dc, s.failures) || !readFinishedRun(*db, SyncSide::GC, now, s.gc, s.failures))
        return s;
    db.reset();

    // The settings pages' sources: the domain list and the global catalog's reconnect node.
    const SettingsStore store(StatusSummary::connectionStringOf(ctx));
    const QList<DomainSettings> domains = store.readDomains(&err);
    if (err) {
        s.failures.append(QStringLiteral("domains"));
        return s;
    }
    for (const DomainSettings& d : domains)
        s.domains.append({d.domainName, DomainSettings::text(d.currentDC), DomainSettings::flag(d.reconnectEnabled)});
    const ConfigurationSnapshot config = store.readConfiguration(&err);
    const ConfigurationNode* node = err ? nullptr : config.find(settings_text::kDsgcPrefix + QStringLiteral("ReconnectEnabled"));
    if (!node) {
        s.failures.append(QStringLiteral("gc.ReconnectEnabled"));
    } else {
        // As the panel reads it: any text other than "0" is on.
        s.gcReconnectEnabled = node->value.isNull() || node->value.toString() != QLatin1String("0");
    }
    s.complete = s.failures.isEmpty();
    return s;
}

} // namespace fw
