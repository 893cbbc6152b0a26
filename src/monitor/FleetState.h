#pragma once
#include "log/FwError.h"
#include "monitor/SyncSide.h"

#include <QList>
#include <QString>
#include <optional>

namespace fw {

class AppContext;

// One side as a monitoring system sees it: whether a run is going on, and the newest finished run.
struct FleetSide {
    bool inProgress = false;
    bool hasFinishedRun = false;
    qint64 finishedSyncId = -1;
    std::optional<qint64> lastFinishedEpoch; // Unix time the newest finished run ended; none when not recorded
    std::optional<qint64> lastDurationSeconds;
    qint64 lastObjects = 0;           // objects that run synchronised (no object rows: 0)
    int syncIntervalMinutes = 0;      // that run's SyncInterval
    std::optional<qint64> ageSeconds; // from its end to now, wall clock
};

struct FleetDomain {
    QString name;
    QString currentDc;
    bool reconnectEnabled = false;
    QString id; // AdDomainObjectID: two rows may carry the same name
};

// What the fleet tools (metrics, check-sync) read in one go, from the same code that fills the Status
// page and the settings pages. `complete` is the Status refresh's own "read completely" (a null is no
// failure) and, besides, the newest finished runs and the settings read without failure; `failures` names
// the parts that were not read.
// Ages are measured in the zone of the clock's now, by that zone's rules.
struct FleetState {
    bool complete = false;
    QStringList failures;
    QString reason; // what the first failure said ("database is locked"), when it said anything
    FleetSide dc;
    FleetSide gc;
    QList<FleetDomain> domains;
    bool gcReconnectEnabled = false;
    QString velmoraVersion;

    const FleetSide& side(SyncSide s) const { return s == SyncSide::DC ? dc : gc; }
};

// Reads the state on ctx.connectionString (set by the caller), ages measured against ctx.clock().
FleetState readFleetState(AppContext& ctx);

} // namespace fw
