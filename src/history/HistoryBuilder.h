#pragma once
#include "history/HistoryPlan.h"
#include "history/HistoryPoint.h"
#include "history/HistorySource.h"

#include <QList>
#include <QStringList>

namespace fw {

class AppContext;

// What one load of a history window ends with.
struct HistoryResult {
    QList<HistoryPoint> points;
    HistoryPlan::Outcome outcome = HistoryPlan::Outcome::Impossible;
    qint64 groupSize = 0;        // of the pass shown
    qint64 budget = 0;           // iMaxPointsAllowed of the pass shown
    qint16 startFactor = 0;
    qint16 finalFactor = 0;      // the side's safety factor after the load
    double totalRows = 0;        // dTotalRows
    qint64 distinctIncrements = 0;
    qint64 distinctIntervals = 0;
    QList<qint64> passGroupSizes; // every pass's group size, in order (the details table's "group size:" cell)
    QStringList logLines;        // the lines written to the activity log, without time stamps
    QString failure;             // why no points could be formed (outcome Impossible)
    int walks = 0;               // how many times the result sets were read
};

// Builds the chart points of one side's finished synchronisation runs (BuildHistoryPoints).
//
// The written procedure forms points pass after pass, raising the side's safety factor until the point
// count fits the budget. Here the result sets are read once: the points of the group sizes the loop can end
// with are formed side by side while the run counts between increment and interval changes are gathered;
// the counts then decide which pass the loop accepts, and the log lines of every pass, retries included,
// are written as the loop would have written them.
class HistoryBuilder {
public:
    HistoryBuilder(AppContext& ctx, SyncSide side);

    // Opens the database of the context's connection string.
    HistoryResult BuildHistoryPoints();
    HistoryResult BuildHistoryPoints(HistorySource& source);

    // How many of the loop's first retries, and of the sizes just above the starting one, the first walk forms
    // side by side (see HistoryWalk.h).
    void setTracking(int retries, int window)
    {
        m_trackedRetries = retries;
        m_fallbackWindow = window;
    }

    static QString formName(SyncSide side);
    static QString factorName(SyncSide side);

private:
    AppContext& m_ctx;
    SyncSide m_side;
    int m_trackedRetries = 16;
    int m_fallbackWindow = 32;
};

} // namespace fw
