#pragma once
#include "history/HistoryPlan.h"
#include "history/HistoryPoint.h"
#include "history/HistorySource.h"

#include <QList>
#include <QTemporaryFile>
#include <functional>
#include <memory>

namespace fw {

// A line the point forming writes while it reads a run: the same in every pass, whatever the group size.
struct WalkLine {
    enum class Kind : quint8 { Log, Error };
    qint64 ordinal = -1; // the run being read when it was written
    Kind kind = Kind::Log;
    QString text;        // Log: the line; Error: the description
    qint32 number = 0;   // Error: its number
    qint32 line = 0;     // Error: the statement
};

// The per-run lines of a walk, kept for every pass that writes them again. Few in sound data; past a few
// thousand they go to a temporary file, so memory stays flat however many runs mismatch.
class WalkLineSpool {
public:
    WalkLineSpool();
    ~WalkLineSpool();
    void append(WalkLine line);
    qint64 size() const { return m_count; }
    void forEach(const std::function<void(const WalkLine&)>& f);

private:
    void spill();
    QList<WalkLine> m_memory;
    std::unique_ptr<QTemporaryFile> m_file;
    qint64 m_inFile = 0;
    qint64 m_count = 0;
};

// A point as formed, with the run it ended at (where its trace line falls among the per-run lines).
struct FormedPoint {
    HistoryPoint point;
    qint64 lastOrdinal = 0;
};

// One walk over the three result sets: forms the points of several group sizes side by side and gathers
// the run counts between changes. Every statement of the point forming is in here once.
class HistoryWalk {
public:
    // pointCap: a group size stops storing points past it; dropAbove: a group size whose point count passes
    // it is dropped altogether (it can be neither accepted nor shown); 0 keeps every size.
    HistoryWalk(HistorySide side, QList<qint64> groupSizes, qint64 pointCap, qint64 dropAbove, WalkLineSpool* spool);
    ~HistoryWalk();

    void run(HistoryCursor& cursor);

    const SegmentCounts& counts() const { return m_counts; }
    bool emptyRunList() const { return m_empty; }
    // The points of a group size, or nullptr when it was not formed (or dropped).
    const QList<FormedPoint>* pointsFor(qint64 groupSize) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    SegmentCounts m_counts;
    bool m_empty = true;
};

} // namespace fw
