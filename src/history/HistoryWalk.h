#pragma once
#include "history/HistoryPlan.h"
#include "history/HistoryPoint.h"
#include "history/HistorySource.h"
#include "history/RunSpill.h"
#include "history/WalkLineSpool.h"

#include <QList>
#include <functional>
#include <memory>

// The history walk reads the run list, object totals and domain rows once, forming the points of several
// group sizes side by side and counting the runs of each stretch between changes; the counts then decide which
// pass the retry loop ends with (HistoryPlan). Reading is the whole cost, so the sizes the loop is likely to end
// with are tracked in that one read: its first retries, and the sizes just above the starting one (where the
// smallest size fitting the starting budget lies when no retry fits). The walk also keeps what each run adds
// (RunSpill), so any other size is formed afterwards from that, without reading the database again.
// Invariant: final points <= final budget <= starting budget. So unless trace lines need every pass's points,
// a size past the starting budget can never be shown and is dropped as soon as it passes it.

namespace fw {

// A point as formed, with the run it ended at (where its trace line falls among the per-run lines).
struct FormedPoint {
    HistoryPoint point;
    qint64 lastOrdinal = 0;
};

// What one walk forms and keeps.
struct WalkOptions {
    static constexpr qint64 kPointTable = 2001; // places of the chart's point table

    QList<qint64> groupSizes;       // formed side by side
    qint64 pointCap = kPointTable;  // a size stores no more points than this
    qint64 dropAbove = 0;           // a size with more points than this is dropped altogether; 0 keeps every size
    WalkLineSpool* spool = nullptr; // keeps the per-run lines for every pass that writes them; none: not kept

    // With trace lines: every pass writes its points, so each size keeps them, up to the point table.
    static WalkOptions everyPass(QList<qint64> sizes, WalkLineSpool* spool);
    // Without: only the shown pass needs points, at most `startBudget` of them (0: no pass can be shown).
    static WalkOptions shownPassOnly(QList<qint64> sizes, qint64 startBudget, WalkLineSpool* spool);
    // Sizes the first walk did not form, formed from the runs it kept; the first kept the lines.
    static WalkOptions missingSizes(QList<qint64> sizes);
};

// One walk over the three result sets. Every statement of the point forming is in here once.
class HistoryWalk {
public:
    HistoryWalk(SyncSide side, WalkOptions options);
    ~HistoryWalk();

    // Reads the result sets to their end, handing what each run adds to `keep` (when set); `progress` (when set)
    // hears the runs read every few thousand and abandons the walk by returning false, and so does run().
    bool run(HistoryCursor& cursor, const std::function<bool(qint64 read)>& progress = {}, RunSpill* keep = nullptr);
    // Forms the points from the runs a first walk kept: true when formed, false when `goOn` (asked every few
    // thousand runs) abandons it; fails when the kept runs cannot be read back.
    Result<bool> replay(RunSpill& runs, const std::function<bool()>& goOn);

    const SegmentCounts& counts() const { return m_counts; }
    bool emptyRunList() const { return m_empty; }
    // Whether a group size was formed and kept (not dropped).
    bool kept(qint64 groupSize) const;
    // The points of a group size, made from what the walk kept on the first request; nullptr when not kept.
    const QList<FormedPoint>* pointsFor(qint64 groupSize);

private:
    void finish();
    struct Impl;
    std::unique_ptr<Impl> d;
    SegmentCounts m_counts;
    bool m_empty = true;
};

} // namespace fw
