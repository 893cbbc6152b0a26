#pragma once
#include "history/HistoryPoint.h"
#include "history/HistorySource.h"

#include <QList>
#include <QStringList>
#include <optional>

namespace fw::test {

// The point forming exactly as the written procedure goes: every row in memory, one full pass per factor,
// raising the factor until a pass fits. Only the tests use it, to check the streaming builder against it.
class ReferenceHistory {
public:
    ReferenceHistory(HistorySource& source, bool trace);

    struct Pass {
        QList<HistoryPoint> points;
        QStringList lines; // the per-pass lines, trace lines included when tracing
    };
    // One pass with a given budget and group size (no end-of-pass line).
    Pass pass(qint64 budget, qint64 groupSize) const;

    struct Result {
        bool accepted = false; // false: the loop ends without an accepted pass
        QList<HistoryPoint> points;
        qint64 groupSize = 0;
        qint16 factor = 0;
        int passes = 0;
        QStringList lines;
    };
    Result run(qint16 startFactor, int maxPasses = 100000) const;

    // The written budget and group size; false where the loop cannot go on (budget <= 0, group over 16 bits).
    bool budgetFor(qint32 factor, qint64& budget, qint64& groupSize) const;

    HistorySource::Counts counts;
    QStringList queryLines; // the reports of failed queries

private:
    SyncSide m_side;
    bool m_trace;
    QList<HistoryRunRow> m_runs;
    QList<HistoryTotalRow> m_totals;
    QList<HistoryDomainRow> m_domains;
};

} // namespace fw::test
