#include "history/HistoryWalk.h"

#include "db/StoredValue.h"
#include "history/HistoryFormat.h"

#include <array>
#include <limits>
#include <vector>

namespace fw {

namespace {
enum EventKind { ErrorEvent = 0, ResyncEvent = 1, ServerEvent = 2 };
} // namespace

// ---- walk --------------------------------------------------------------------------------------------

namespace {

// Running totals over all runs read so far; a point's sums are the difference between two of them.
struct Totals {
    qint64 lag = 0;
    qint64 secs = 0;
    qint64 objects = 0;
    std::array<qint64, 3> events{};
};

struct OpenPoint {
    Totals at;
    WallTime start;
    std::array<WallTime, 3> first{};
    std::array<bool, 3> firstSet{};
    bool firstOfStretch = true;
};

// A point as the walk closes it: sums and times only; the chart's values and texts are made for the one
// or two group sizes that are finally needed, not for every size formed.
struct RawPoint {
    qint64 rows = 0;
    Totals sums;
    std::array<WallTime, 3> first{};
    WallTime start;
    qint32 increment = 0, interval = 0;
    bool newIncrement = false, newInterval = false;
    qint32 oldIncrement = 0, newIncrementValue = 0, oldInterval = 0, newIntervalValue = 0;
    WallTime incrementTime, intervalTime;
    qint64 lastSyncId = 0;
    qint64 lastOrdinal = 0;
};

struct Track {
    qint64 groupSize = 1;
    bool alive = true;
    OpenPoint open;
    QList<RawPoint> raw;
    QList<FormedPoint> points; // made from raw on first request: only the one or two sizes finally needed
    bool made = false;
};

FormedPoint makePoint(const RawPoint& r)
{
    HistoryPoint p;
    p.ObjectsProcessed = static_cast<float>(history_format::roundHalfEven(r.sums.objects, r.rows));
    p.ElapsedSeconds = static_cast<float>(history_format::roundHalfEven(r.sums.secs, r.rows));
    // (lag / rows) x interval / increment, kept exact until the rounding; no increment, no latency.
    if (r.increment != 0)
        p.LatencyMinutes = static_cast<float>(history_format::roundHalfEvenTenths(static_cast<__int128>(r.sums.lag) * r.interval,
                                                                                  static_cast<__int128>(r.rows) * r.increment));
    p.ErrorCount = static_cast<float>(r.sums.events[0]);
    p.TotalResyncCount = static_cast<float>(r.sums.events[1]);
    p.ServerChangeCount = static_cast<float>(r.sums.events[2]);
    if (r.sums.events[0] > 0)
        p.FirstErrorTime = r.first[0].toDateTime();
    if (r.sums.events[1] > 0)
        p.FirstTotalResyncTime = r.first[1].toDateTime();
    if (r.sums.events[2] > 0)
        p.FirstServerChangeTime = r.first[2].toDateTime();
    p.NewIncrementCount = r.newIncrement ? 1 : 0;
    p.NewIntervalCount = r.newInterval ? 1 : 0;
    p.OldIncrement = r.oldIncrement;
    p.NewIncrement = r.newIncrementValue;
    p.IncrementChangeTime = r.incrementTime.toDateTime();
    p.OldInterval = r.oldInterval;
    p.NewInterval = r.newIntervalValue;
    p.IntervalChangeTime = r.intervalTime.toDateTime();
    p.Start = r.start.toDateTime();
    p.Label = history_format::pointLabel(p.Start);
    p.LastSyncId = r.lastSyncId;
    p.Runs = static_cast<qint32>(r.rows);
    return {std::move(p), r.lastOrdinal};
}

// The increment and interval in force and the last change taken over.
struct ChangeState {
    qint32 increment = 0;
    qint32 interval = 0;
    bool pendingIncrement = false;
    bool pendingInterval = false;
    qint32 oldIncrement = 0, newIncrement = 0;
    WallTime incrementTime;
    qint32 oldInterval = 0, newInterval = 0;
    WallTime intervalTime;
};

} // namespace

struct HistoryWalk::Impl {
    SyncSide side;
    QList<Track> tracks;
    qint64 pointCap;
    qint64 dropAbove;
    WalkLineSpool* spool;
    Totals totals;
    ChangeState change;
    // Where each size's open point starts and where it closes, so that a run which closes nothing costs one
    // comparison however many sizes are formed; a dropped size has no open point and never closes again.
    static constexpr qint64 kNone = -1;
    static constexpr qint64 kNever = std::numeric_limits<qint64>::max();
    std::vector<qint64> sizes;
    std::vector<qint64> openAt;  // ordinal of the open point's first run; kNone when none is open
    std::vector<qint64> closeAt; // ordinal its open point closes at when no change comes first; kNever when none
    qint64 nextClose = kNever;   // at most the smallest closeAt
    std::vector<int> toOpen;     // sizes whose next point starts with the next run

    void line(qint64 ordinal, QString text)
    {
        if (spool)
            spool->append({ordinal, WalkLine::Kind::Log, std::move(text), 0, 0});
    }
    void error(qint64 ordinal, const FwError& e, int statement)
    {
        if (spool)
            spool->append({ordinal, WalkLine::Kind::Error, e.description, e.number, statement});
    }

    void event(int kind, qint32 count, const WallTime& when)
    {
        totals.events[kind] += count;
        for (Track& t : tracks) {
            if (t.alive && !t.open.firstSet[kind]) {
                t.open.firstSet[kind] = true;
                t.open.first[kind] = when;
            }
        }
    }

    void close(int i, qint64 lastOrdinal, qint64 lastSyncId)
    {
        Track& t = tracks[i];
        const OpenPoint& o = t.open;
        if (pointCap <= 0 || t.raw.size() < pointCap) {
            RawPoint r;
            r.rows = lastOrdinal - openAt[i] + 1;
            r.sums.lag = totals.lag - o.at.lag;
            r.sums.secs = totals.secs - o.at.secs;
            r.sums.objects = totals.objects - o.at.objects;
            for (int k = 0; k < 3; ++k)
                r.sums.events[k] = totals.events[k] - o.at.events[k];
            r.first = o.first;
            r.start = o.start;
            r.increment = change.increment;
            r.interval = change.interval;
            r.newIncrement = o.firstOfStretch && change.pendingIncrement;
            r.newInterval = o.firstOfStretch && change.pendingInterval;
            r.oldIncrement = change.oldIncrement;
            r.newIncrementValue = change.newIncrement;
            r.incrementTime = change.incrementTime;
            r.oldInterval = change.oldInterval;
            r.newIntervalValue = change.newInterval;
            r.intervalTime = change.intervalTime;
            r.lastSyncId = lastSyncId;
            r.lastOrdinal = lastOrdinal;
            t.raw.append(r);
        }
        t.open.firstOfStretch = false;
        openAt[i] = kNone;
        closeAt[i] = kNever;
        if (dropAbove > 0 && t.raw.size() > dropAbove) {
            t.alive = false;
            t.raw = {};
            return;
        }
        toOpen.push_back(i);
    }

    void closeAll(qint64 lastOrdinal, qint64 lastSyncId)
    {
        for (int i = 0; i < static_cast<int>(tracks.size()); ++i)
            if (openAt[i] != kNone)
                close(i, lastOrdinal, lastSyncId);
    }

    // The point forming proper: one run, as read and merged, into every group size formed.
    qint64 ordinal = -1;
    qint64 stretch = 0;
    qint64 lastSyncId = 0;
    SegmentCounts counts;

    void take(const RunDigest& run)
    {
        ++ordinal;
        if (ordinal == 0) {
            change.increment = run.increment;
            change.interval = run.interval;
        } else if (run.increment != change.increment || run.interval != change.interval) {
            // A group never spans a change: every open point ends with the run before.
            closeAll(ordinal - 1, lastSyncId);
            counts.add(stretch);
            stretch = 0;
            ChangeState& c = change;
            c.pendingIncrement = run.increment != c.increment;
            c.pendingInterval = run.interval != c.interval;
            if (c.pendingIncrement) {
                c.oldIncrement = c.increment;
                c.newIncrement = run.increment;
                c.incrementTime = run.start;
                c.increment = run.increment;
            }
            if (c.pendingInterval) {
                c.oldInterval = c.interval;
                c.newInterval = run.interval;
                c.intervalTime = run.start;
                c.interval = run.interval;
            }
            for (Track& t : tracks)
                t.open.firstOfStretch = true;
        }
        ++stretch;
        for (int i : toOpen) {
            OpenPoint& o = tracks[i].open;
            o.at = totals;
            o.start = run.start;
            o.firstSet = {};
            o.first = {};
            openAt[i] = ordinal;
            closeAt[i] = ordinal + sizes[i] - 1;
            nextClose = std::min(nextClose, closeAt[i]);
        }
        toOpen.clear();

        totals.lag += run.lag;
        totals.secs += run.secs;
        totals.objects += run.objects;
        for (int k = 0; k < 3; ++k)
            if (run.events[k] > 0)
                event(k, run.events[k], run.eventTimes[k]);

        lastSyncId = run.syncId;
        if (ordinal >= nextClose) {
            qint64 next = kNever;
            const int n = static_cast<int>(sizes.size());
            for (int i = 0; i < n; ++i) {
                if (closeAt[i] == ordinal)
                    close(i, ordinal, run.syncId); // reopens with the next run
                else
                    next = std::min(next, closeAt[i]);
            }
            nextClose = next;
        }
    }

    // After the last run: the open points end with it.
    void finish()
    {
        if (ordinal >= 0) {
            closeAll(ordinal, lastSyncId);
            counts.add(stretch);
        }
    }
};

WalkOptions WalkOptions::everyPass(QList<qint64> sizes, WalkLineSpool* spool)
{
    return {std::move(sizes), kPointTable, 0, spool};
}

WalkOptions WalkOptions::shownPassOnly(QList<qint64> sizes, qint64 startBudget, WalkLineSpool* spool)
{
    // One point past the budget is stored so that passing it is seen.
    return {std::move(sizes), startBudget + 1, startBudget, spool};
}

WalkOptions WalkOptions::missingSizes(QList<qint64> sizes)
{
    return {std::move(sizes), kPointTable, 0, nullptr};
}

HistoryWalk::HistoryWalk(SyncSide side, WalkOptions options) : d(std::make_unique<Impl>())
{
    d->side = side;
    d->pointCap = options.pointCap;
    d->dropAbove = options.dropAbove;
    d->spool = options.spool;
    for (qint64 g : options.groupSizes) {
        if (g <= 0)
            continue;
        bool seen = false;
        for (const Track& t : d->tracks)
            seen = seen || t.groupSize == g;
        if (!seen) {
            Track t;
            t.groupSize = g;
            d->tracks.append(std::move(t));
            d->toOpen.push_back(static_cast<int>(d->sizes.size()));
            d->sizes.push_back(g);
            d->openAt.push_back(Impl::kNone);
            d->closeAt.push_back(Impl::kNever);
        }
    }
}

HistoryWalk::~HistoryWalk() = default;

bool HistoryWalk::kept(qint64 groupSize) const
{
    for (const Track& t : d->tracks)
        if (t.groupSize == groupSize)
            return t.alive;
    return false;
}

const QList<FormedPoint>* HistoryWalk::pointsFor(qint64 groupSize)
{
    for (Track& t : d->tracks) {
        if (t.groupSize != groupSize || !t.alive)
            continue;
        if (!t.made) {
            t.points.reserve(t.raw.size());
            for (const RawPoint& r : t.raw)
                t.points.append(makePoint(r));
            t.made = true;
        }
        return &t.points;
    }
    return nullptr;
}

bool HistoryWalk::run(HistoryCursor& cursor, const std::function<bool(qint64 read)>& progress, RunSpill* keep)
{
    Impl& w = *d;
    const QString table = runTable(w.side);
    const bool dc = w.side == SyncSide::DC;

    HistoryRunRow row;
    HistoryTotalRow total;
    HistoryDomainRow domain;
    bool haveTotal = cursor.nextTotal(total);
    bool haveDomain = dc && cursor.nextDomain(domain);

    QList<std::pair<QString, QString>> previousDomains, currentDomains;
    QString previousServer;
    bool havePreviousServer = false;

    RunDigest run;
    qint64 ordinal = -1;
    while (cursor.nextRun(row)) {
        ++ordinal;
        if (progress && (ordinal & 4095) == 0 && !progress(ordinal))
            return false;
        const qint64 id = row.syncId;
        run.syncId = id;
        run.increment = row.increment;
        run.interval = row.interval;
        run.start = row.start;
        run.events = {};
        run.eventTimes = {};
        auto event = [&](int kind, const WallTime& when) {
            if (run.events[kind]++ == 0)
                run.eventTimes[kind] = when;
        };

        for (const HistoryQueryFailure& f : row.faults)
            w.error(ordinal, f.error, f.line);
        run.lag = 0;
        if (row.lagNull)
            w.error(ordinal, FwError::invalidUseOfNull(), 210);
        else
            run.lag = row.lag;
        run.secs = 0;
        if (!row.start.valid || !row.end.valid) {
            if (!row.timeFaulted)
                w.error(ordinal, FwError::invalidUseOfNull(), 220);
        } else
            run.secs = row.end.secs - row.start.secs;

        // Object totals, merged by SyncId.
        run.objects = 0;
        while (haveTotal && total.syncId < id) {
            w.line(
                ordinal,
                QStringLiteral(
                    "Warning: Mismatch data - Data in SyncHistoryObject with SyncId = %1 while no data in %2 where the next SyncID = %3")
                    .arg(total.syncId)
                    .arg(table)
                    .arg(id));
            for (const HistoryQueryFailure& f : total.faults)
                w.error(ordinal, f.error, f.line);
            haveTotal = cursor.nextTotal(total);
        }
        if (haveTotal) {
            if (total.syncId == id) {
                for (const HistoryQueryFailure& f : total.faults)
                    w.error(ordinal, f.error, f.line);
                if (total.totalNull)
                    w.error(ordinal, FwError::invalidUseOfNull(), 230);
                else
                    run.objects = total.total;
                haveTotal = cursor.nextTotal(total);
            } else {
                w.line(
                    ordinal,
                    QStringLiteral(
                        "Info: Mismatch data - Data in %1 with SyncId = %2 while no data in SyncHistoryObject where the next SyncID = %3")
                        .arg(table)
                        .arg(id)
                        .arg(total.syncId));
            }
        }

        if (dc) {
            while (haveDomain && domain.syncId < id) {
                w.line(
                    ordinal,
                    QStringLiteral(
                        "Warning: Mismatch data - Data in SyncHistoryDCDomain with SyncId = %1 while no data in SyncHistoryDC where the next SyncID = %2")
                        .arg(domain.syncId)
                        .arg(id));
                for (const HistoryQueryFailure& f : domain.faults)
                    w.error(ordinal, f.error, f.line);
                haveDomain = cursor.nextDomain(domain);
            }
            currentDomains.clear();
            while (haveDomain && domain.syncId == id) {
                for (const HistoryQueryFailure& f : domain.faults)
                    w.error(ordinal, f.error, f.line);
                if (domain.eventFlags & 3) {
                    // The time is read only for an event; one that cannot be read leaves the event without a time.
                    const Result<WallTime> when = stored::wallTime(domain.start, column::domainSyncStart);
                    if (!when)
                        w.error(ordinal, when.error(), 220);
                    if (domain.eventFlags & 1)
                        event(ErrorEvent, when.valueOr(WallTime{}));
                    if (domain.eventFlags & 2)
                        event(ResyncEvent, when.valueOr(WallTime{}));
                }
                currentDomains.append({domain.domain, domain.server});
                haveDomain = cursor.nextDomain(domain);
            }
            bool serverChanged = false;
            if (!previousDomains.isEmpty() && !currentDomains.isEmpty()) {
                for (const auto& now : currentDomains)
                    for (const auto& before : previousDomains)
                        serverChanged = serverChanged || (now.first == before.first && now.second != before.second);
            }
            if (serverChanged)
                event(ServerEvent, row.start);
            std::swap(previousDomains, currentDomains);
        } else {
            if (row.eventFlags & 1)
                event(ErrorEvent, row.start);
            if (row.eventFlags & 2)
                event(ResyncEvent, row.start);
            if (havePreviousServer && row.server != previousServer)
                event(ServerEvent, row.start);
            previousServer.swap(row.server); // the row's server is read afresh with the next run
            havePreviousServer = true;
        }

        if (keep)
            keep->append(run);
        w.take(run);
    }
    finish();
    return !progress || progress(ordinal + 1);
}

Result<bool> HistoryWalk::replay(RunSpill& runs, const std::function<bool()>& goOn)
{
    Impl& w = *d;
    qint64 n = 0;
    bool stopped = false;
    const Result<void> read = runs.forEach([&](const RunDigest& run) {
        if (goOn && (n++ & 4095) == 0 && !goOn()) {
            stopped = true;
            return false;
        }
        w.take(run);
        return true;
    });
    if (!read)
        return read.error();
    if (stopped)
        return false;
    finish();
    return !goOn || goOn();
}

void HistoryWalk::finish()
{
    d->finish();
    m_counts = d->counts;
    m_empty = d->ordinal < 0;
}

} // namespace fw
