#pragma once
#include "log/Result.h"
#include "monitor/SyncSide.h"

#include <QDateTime>
#include <optional>

namespace fw {

class Database;

// Whether the newest finished run of a side is recent enough, for monitoring systems.
struct RunAge {
    bool hasFinishedRun = false;
    qint64 syncId = -1;
    QDateTime end;               // invalid when the run recorded no end
    qint64 ageSeconds = -1;      // from the end to now; -1 when unknown
    qint64 maxAgeMinutes = 0;    // the limit applied
    int syncIntervalMinutes = 0; // of that run
    bool fresh = false;          // younger than the limit
};

class RunAgeCheck {
public:
    // The limit defaults to three sync intervals of the newest finished run.
    static constexpr int kDefaultIntervals = 3;

    // Fails when the history cannot be read.
    static Result<RunAge> check(Database& db, SyncSide side, const QDateTime& now, std::optional<qint64> maxAgeMinutes);
};

} // namespace fw
