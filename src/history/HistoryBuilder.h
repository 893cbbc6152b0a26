#pragma once
#include "history/HistoryPlan.h"
#include "history/HistoryPoint.h"
#include "history/HistorySource.h"

#include <QList>
#include <QStringList>
#include <functional>

namespace fw {

class AppContext;

// One thing the load reports, kept in order so that a load formed off the user-interface thread is reported on it.
struct HistoryReport {
    enum class Kind : quint8 { Log, Trace, Error, Message };
    Kind kind = Kind::Log;
    QString text; // the log line (Message: also the box)
    QString box;  // Error: the message box text
};

// What one load of a history window ends with.
struct HistoryResult {
    QList<HistoryPoint> points;
    HistoryPlan::Outcome outcome = HistoryPlan::Outcome::Impossible;
    qint64 groupSize = 0; // of the pass shown
    qint64 budget = 0;    // iMaxPointsAllowed of the pass shown
    qint16 startFactor = 0;
    qint16 finalFactor = 0; // the side's safety factor after the load
    double totalRows = 0;   // dTotalRows
    qint64 distinctIncrements = 0;
    qint64 distinctIntervals = 0;
    QList<qint64> passGroupSizes; // every pass's group size, in order (the details table's "group size:" cell)
    QStringList logLines;         // the lines written to the activity log, without time stamps
    QList<HistoryReport> reports; // what report() writes and shows, in order
    QString failure;              // why no points could be formed (outcome Impossible)
    int walks = 0;                // how many times the result sets were read
    bool cancelled = false;       // abandoned by the user: nothing is reported, the factor stays
};

// Builds the chart points of one side's finished synchronisation runs (BuildHistoryPoints).
//
// The written procedure forms points pass after pass, raising the side's safety factor until the point
// count fits the budget. Here the result sets are read once: the points of the group sizes the loop is likely
// to end with are formed side by side while the run counts between increment and interval changes are gathered,
// and what each run adds is kept (in a temporary file past a few thousand runs) for any other size; the counts
// then decide which pass the loop accepts, and the log lines of every pass, retries included, are written as
// the loop would have written them.
//
// collect() touches nothing of the context beyond the values copied when the builder is made, so it may run on
// another thread (with its own database connection); report() then writes the log lines, shows the errors and
// stores the raised safety factor, on the thread that owns the context.
class HistoryBuilder {
public:
    HistoryBuilder(AppContext& ctx, SyncSide side);

    // Opens the database of the context's connection string; collects and reports.
    HistoryResult BuildHistoryPoints();
    HistoryResult BuildHistoryPoints(HistorySource& source);

    // Called every few thousand runs read with the runs read so far and the finished runs counted; returning
    // false abandons the load (the result comes back cancelled).
    using Progress = std::function<bool(qint64 read, qint64 total)>;
    void setProgress(Progress progress) { m_progress = std::move(progress); }

    HistoryResult collect(); // opens its own connection
    HistoryResult collect(HistorySource& source);
    void report(const HistoryResult& result);

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
    QString m_connectionString;
    bool m_tracing;
    qint16 m_factor;
    Progress m_progress;
    int m_trackedRetries = 16;
    int m_fallbackWindow = 32;
};

} // namespace fw
