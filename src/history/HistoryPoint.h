#pragma once
#include <QDateTime>
#include <QString>

namespace fw {

// One chart point of a history window: consecutive finished runs merged into one value per series.
struct HistoryPoint {
    float ObjectsProcessed = 0;
    float ElapsedSeconds = 0;
    float LatencyMinutes = 0;
    float ErrorCount = 0;
    float TotalResyncCount = 0;
    float ServerChangeCount = 0;
    float NewIncrementCount = 0;
    float NewIntervalCount = 0;
    qint32 OldIncrement = 0;
    qint32 NewIncrement = 0;
    QDateTime IncrementChangeTime;
    qint32 OldInterval = 0;
    qint32 NewInterval = 0;
    QDateTime IntervalChangeTime;
    QDateTime FirstErrorTime;
    QDateTime FirstTotalResyncTime;
    QDateTime FirstServerChangeTime;
    QString Label;

    // Not shown by the chart; kept for the trace line and the command line.
    QDateTime Start;
    qint64 LastSyncId = 0;
    qint32 Runs = 0;

    // The value of the "Events" series.
    float events() const { return ErrorCount + TotalResyncCount + ServerChangeCount + NewIncrementCount + NewIntervalCount; }

    bool operator==(const HistoryPoint&) const = default;
};

} // namespace fw
