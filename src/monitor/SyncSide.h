#pragma once
#include <QString>

namespace fw {

// The two halves of the directory synchronisation: per-domain DC runs and global catalog runs.
enum class SyncSide { DC, GC };

inline QString syncSideName(SyncSide s)
{
    return s == SyncSide::DC ? QStringLiteral("DC") : QStringLiteral("GC");
}

// The table with one row per run of a side. The names are fixed, never taken from input.
inline QString runTable(SyncSide s)
{
    return s == SyncSide::DC ? QStringLiteral("SyncHistoryDC") : QStringLiteral("SyncHistoryGC");
}

// The number of finished runs, as column TotalRows of a query over a run table: a column rather than a
// WHERE clause, so that the history counts them in the same scan as the distinct increments and intervals.
inline QString finishedRunCountColumn()
{
    return QStringLiteral("COUNT(CASE WHEN IsActive = 0 THEN SyncId END) AS TotalRows");
}

// One row with the number of finished runs of a side in column TotalRows.
inline QString finishedRunCountSql(SyncSide s)
{
    return QStringLiteral("SELECT ") + finishedRunCountColumn() + QStringLiteral(" FROM ") + runTable(s);
}

} // namespace fw
