#include "monitor/FleetState.h"

#include "context/AppContext.h"
#include "db/Database.h"
#include "db/WallTime.h"
#include "db/StoredValue.h"
#include "monitor/ReadAhead.h"
#include "monitor/StatusSummary.h"
#include "platform/Clock.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"

#include <QSqlQuery>

namespace fw {
namespace {

void fail(FleetState& s, const QString& part, const FwError& err)
{
    s.failures.append(part);
    if (s.reason.isEmpty())
        s.reason = err.description;
}

bool readFinishedRun(Database& db, SyncSide side, const QDateTime& now, FleetSide& out, FleetState& s)
{
    const QString prefix = side == SyncSide::DC ? QStringLiteral("dc.") : QStringLiteral("gc.");
    const Result<std::optional<FinishedRun>> read = StatusSummary::latestFinishedRun(db, side);
    if (!read) {
        fail(s, prefix + QStringLiteral("latestFinishedRun"), read.error());
        return false;
    }
    const std::optional<FinishedRun>& run = *read;
    if (!run)
        return true;
    out.hasFinishedRun = true;
    out.finishedSyncId = run->syncId;
    out.syncIntervalMinutes = run->syncIntervalMinutes;
    if (run->end.isValid()) {
        // Read in the zone of the clock, by its rules: an age across a daylight-saving change is the real one.
        out.lastFinishedEpoch = earliestEpochOfWallTime(run->end, now.timeZone());
        out.ageSeconds = now.toSecsSinceEpoch() - *out.lastFinishedEpoch;
        if (run->start.isValid())
            out.lastDurationSeconds = wallSecondsBetween(run->start, run->end);
    }
    const Result<std::optional<qint64>> objects = StatusSummary::objectTotal(db, side, run->syncId);
    if (!objects) {
        fail(s, prefix + QStringLiteral("finishedObjectTotal"), objects.error());
        return false;
    }
    out.lastObjects = objects->value_or(0);
    return true;
}

} // namespace

FleetState readFleetState(AppContext& ctx)
{
    FleetState s;
    s.velmoraVersion = ctx.localVersion.Text;

    // One connection for all of it (see DatabaseSession); a failure to open is the Status refresh's to report.
    const Result<Database*> db = StatusSummary::connectionFor(ctx, nullptr);
    if (db)
        ReadAhead{.finishedRuns = true, .settings = true}.run(**db);

    // The Status page's refresh: which runs are going on, and whether it could read everything.
    const StatusSnapshot snap = StatusSummary(ctx).PopulateDCGCStatus(db ? *db : nullptr);
    if (!snap.readCompletely()) {
        for (const ReadFailure& f : snap.failures)
            fail(s, f.part, f.error);
        if (s.failures.isEmpty())
            s.failures.append(QStringLiteral("database"));
        return s;
    }
    s.dc.inProgress = snap.dc.hasRun && snap.dc.active;
    s.gc.inProgress = snap.gc.hasRun && snap.gc.active;

    const QDateTime now = ctx.clock().now();
    // Stops at the first part it cannot read: a locked database would make each further part wait too.
    if (!readFinishedRun(**db, SyncSide::DC, now, s.dc, s) || !readFinishedRun(**db, SyncSide::GC, now, s.gc, s))
        return s;

    // The settings pages' sources: the domain list and the global catalog's reconnect node.
    const SettingsStore store(ctx.databaseSession(), StatusSummary::connectionStringOf(ctx));
    const Result<QList<DomainSettings>> domains = store.readDomains();
    if (!domains) {
        fail(s, QStringLiteral("domains"), domains.error());
        return s;
    }
    for (const DomainSettings& d : *domains) {
        const Result<bool> enabled = DomainSettings::flag(d.reconnectEnabled, column::adReconnectEnabled);
        if (!enabled) {
            fail(s, QStringLiteral("domains"), enabled.error());
            return s;
        }
        s.domains.append({d.domainName, DomainSettings::text(d.currentDC), *enabled, d.objectId});
    }
    const Result<ConfigurationSnapshot> config = store.readConfiguration();
    const ConfigurationNode* node = !config ? nullptr
                                            : config->find(settings_text::kDsgcPrefix + QStringLiteral("ReconnectEnabled"));
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
