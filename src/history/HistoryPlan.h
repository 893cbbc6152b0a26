#pragma once
#include <QList>
#include <map>

namespace fw {

// How many runs each stretch between increment or interval changes holds, gathered while the run list is read.
// The point count of a pass follows from these alone: each stretch of L runs gives ceil(L / group size) points.
class SegmentCounts {
public:
    void add(qint64 runs);
    qint64 segments() const { return m_segments; }
    qint64 runs() const { return m_runs; }
    qint64 pointsFor(qint64 groupSize) const;
    qint64 longest() const { return m_lengths.empty() ? 0 : m_lengths.rbegin()->first; }

private:
    std::map<qint64, qint64> m_lengths; // length -> how many stretches have it
    qint64 m_segments = 0;
    qint64 m_runs = 0;
};

// One pass of the point forming: the factor it starts with, its budget and its group size.
struct HistoryPass {
    qint32 factor = 0;
    qint64 budget = 0;
    qint64 groupSize = 0;
    bool operator==(const HistoryPass&) const = default;
};

// What the safety-factor retry loop ends with, decided from the counts.
struct HistoryPlan {
    enum class Outcome {
        Accepted,      // a pass fitted its budget, possibly after raising the factor
        FittedAtStart, // raising the factor never fits: the smallest group size fitting the starting budget is used
        Impossible,    // not even that exists (budget 0 or below, or more stretches than the budget)
    };
    Outcome outcome = Outcome::Impossible;
    QList<HistoryPass> rejected; // passes the loop rejects, in order (empty unless Accepted)
    HistoryPass final;           // the pass whose points are shown
};

// The budget and group size of a pass, as 16-bit values; false when either leaves the 16-bit range or
// the budget is 0 or below.
bool passFor(double totalRows, qint64 distinctValues, qint64 factor, HistoryPass& out);

// The retry loop as written, from the counts: raise the factor until a pass fits its budget.
HistoryPlan planHistory(double totalRows, qint64 distinctValues, qint16 startFactor, const SegmentCounts& counts);

// The distinct group sizes of the first passes the loop can try, in order (at most `limit`).
QList<qint64> retryGroupSizes(double totalRows, qint64 distinctValues, qint16 startFactor, int limit);

} // namespace fw
