#include "monitor/RunAgeCheck.h"

#include "db/WallTime.h"
#include "monitor/StatusSummary.h"

namespace fw {

Result<RunAge> RunAgeCheck::check(Database& db, SyncSide side, const QDateTime& now, std::optional<qint64> maxAgeMinutes)
{
    const Result<std::optional<FinishedRun>> read = StatusSummary::latestFinishedRun(db, side);
    if (!read)
        return read.error();
    const std::optional<FinishedRun>& run = *read;
    RunAge a;
    a.maxAgeMinutes = maxAgeMinutes.value_or(0);
    if (!run)
        return a;
    a.hasFinishedRun = true;
    a.syncId = run->syncId;
    a.end = run->end;
    a.syncIntervalMinutes = run->syncIntervalMinutes;
    if (!maxAgeMinutes)
        a.maxAgeMinutes = static_cast<qint64>(kDefaultIntervals) * run->syncIntervalMinutes;
    if (a.end.isValid()) {
        a.ageSeconds = secondsSinceWallTime(a.end, now);
        // A run that ended after now is no sign of freshness: the clocks disagree, and its real age is unknown.
        a.fresh = a.ageSeconds >= 0 && a.ageSeconds < a.maxAgeMinutes * 60;
    }
    return a;
}

} // namespace fw
