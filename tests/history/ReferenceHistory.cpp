#include "ReferenceHistory.h"

#include "history/HistoryFormat.h"
#include "log/ErrorReport.h"
#include "log/NumberFormat.h"

#include <cmath>

#include <gtest/gtest.h>

namespace fw::test {

namespace {

// Half to even on an exact quotient, written out long-hand: compare twice the remainder with the divisor.
qint64 halfEven(__int128 n, __int128 d)
{
    if (d < 0) {
        n = -n;
        d = -d;
    }
    __int128 q = n / d, r = n % d;
    if (r < 0) {
        q -= 1;
        r += d;
    }
    if (2 * r > d || (2 * r == d && (q & 1)))
        q += 1;
    return static_cast<qint64>(q);
}

} // namespace

ReferenceHistory::ReferenceHistory(HistorySource& source, bool trace) : m_side(source.side()), m_trace(trace)
{
    const auto failed = source.counts(counts);
    QList<HistorySource::CountFailure> more;
    auto cursor = source.open(more);
    const QString form = m_side == SyncSide::DC ? QStringLiteral("frmDCViewHistory") : QStringLiteral("frmGCViewHistory");
    for (const auto& f : failed + more)
        queryLines << errorReportText(f.error, QStringLiteral("Form_Load"), form, OwnerKind::Form, f.line);
    HistoryRunRow r;
    while (cursor->nextRun(r))
        m_runs.append(r);
    HistoryTotalRow t;
    while (cursor->nextTotal(t))
        m_totals.append(t);
    HistoryDomainRow d;
    while (cursor->nextDomain(d))
        m_domains.append(d);
}

bool ReferenceHistory::budgetFor(qint32 factor, qint64& budget, qint64& groupSize) const
{
    budget = 2000 - (counts.distinctIncrements + counts.distinctIntervals) * factor;
    if (budget <= 0 || factor > 32767)
        return false;
    const double total = counts.totalRows;
    if (total >= budget) {
        const double whole = std::floor(total / budget);
        const double rest = std::fmod(total, static_cast<double>(budget));
        groupSize = static_cast<qint64>(whole) + (rest != 0 ? 1 : 0);
    } else {
        groupSize = 1;
    }
    return groupSize <= 32767;
}

ReferenceHistory::Pass ReferenceHistory::pass(qint64 budget, qint64 g) const
{
    const bool dc = m_side == SyncSide::DC;
    const QString table = dc ? QStringLiteral("SyncHistoryDC") : QStringLiteral("SyncHistoryGC");
    const QString form = dc ? QStringLiteral("frmDCViewHistory") : QStringLiteral("frmGCViewHistory");
    Pass out;
    if (g < 1) {
        ADD_FAILURE() << "no pass with a group size of " << g; // it would never get past the first run
        return out;
    }
    auto report = [&](const FwError& e, int line) {
        out.lines << errorReportText(e, QStringLiteral("Form_Load"), form, OwnerKind::Form, line);
    };
    if (dc && m_trace)
        out.lines << QStringLiteral("iMaxPointsAllowed: ") + QString::number(budget) + QStringLiteral(" dTotalRows: ") +
                         plainNumber(counts.totalRows) + QStringLiteral(" iGroupSize: ") + QString::number(g);

    qint32 curInc = 0, curInt = 0;
    if (m_runs.isEmpty()) {
        report(
            {3021,
             QStringLiteral(
                 "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current record.")},
            100);
    } else {
        curInc = m_runs[0].increment;
        curInt = m_runs[0].interval;
    }
    QList<std::pair<QString, QString>> previous;
    QString previousServer;
    bool firstRun = true;
    bool pendingInc = false, pendingInt = false;
    qint32 oldInc = 0, newInc = 0, oldInt = 0, newInt = 0;
    WallTime incTime, intTime;
    qsizetype i = 0, ti = 0, di = 0;
    const qsizetype n = m_runs.size();
    while (i < n) {
        qint64 lagSum = 0, secSum = 0, objSum = 0, rows = 0;
        qint64 errors = 0, resyncs = 0, servers = 0;
        WallTime firstErr, firstResync, firstServer;
        // EventFlags bit 1 is an error, bit 2 a total resynchronisation; each point keeps the first one's time.
        auto events = [&](qint64 flags, const WallTime& at) {
            if ((flags & 1) && errors++ == 0)
                firstErr = at;
            if ((flags & 2) && resyncs++ == 0)
                firstResync = at;
        };
        const WallTime pointStart = m_runs[i].start;
        qint64 syncId = 0;
        bool stoppedAtChange = false;
        while (i < n && rows < g) {
            const HistoryRunRow& row = m_runs[i];
            if (row.increment != curInc || row.interval != curInt) {
                stoppedAtChange = true;
                break;
            }
            syncId = row.syncId;
            if (row.lagNull)
                report(FwError::invalidUseOfNull(), 210);
            else
                lagSum += row.lag;
            if (!row.start.valid || !row.end.valid)
                report(FwError::invalidUseOfNull(), 220);
            else
                secSum += row.end.secs - row.start.secs;
            while (ti < m_totals.size() && m_totals[ti].syncId < syncId) {
                out.lines << QStringLiteral("Warning: Mismatch data - Data in SyncHistoryObject with SyncId = ") +
                                 QString::number(m_totals[ti].syncId) + QStringLiteral(" while no data in ") + table +
                                 QStringLiteral(" where the next SyncID = ") + QString::number(syncId);
                ++ti;
            }
            if (ti < m_totals.size()) {
                if (m_totals[ti].syncId == syncId) {
                    if (m_totals[ti].totalNull)
                        report(FwError::invalidUseOfNull(), 230);
                    else
                        objSum += m_totals[ti].total;
                    ++ti;
                } else {
                    out.lines << QStringLiteral("Info: Mismatch data - Data in ") + table + QStringLiteral(" with SyncId = ") +
                                     QString::number(syncId) +
                                     QStringLiteral(" while no data in SyncHistoryObject where the next SyncID = ") +
                                     QString::number(m_totals[ti].syncId);
                }
            }
            if (dc) {
                while (di < m_domains.size() && m_domains[di].syncId < syncId) {
                    out.lines << QStringLiteral("Warning: Mismatch data - Data in SyncHistoryDCDomain with SyncId = ") +
                                     QString::number(m_domains[di].syncId) +
                                     QStringLiteral(" while no data in SyncHistoryDC where the next SyncID = ") +
                                     QString::number(syncId);
                    ++di;
                }
                QList<std::pair<QString, QString>> current;
                for (; di < m_domains.size() && m_domains[di].syncId == syncId; ++di) {
                    const HistoryDomainRow& d = m_domains[di];
                    events(d.eventFlags, WallTime::fromVariant(d.start));
                    current.append({d.domain, d.server});
                }
                if (!previous.isEmpty() && !current.isEmpty()) {
                    bool changed = false;
                    for (const auto& a : current)
                        for (const auto& b : previous)
                            if (a.first == b.first && a.second != b.second)
                                changed = true;
                    if (changed) {
                        if (servers == 0)
                            firstServer = row.start;
                        ++servers;
                    }
                }
                previous = current;
            } else {
                events(row.eventFlags, row.start);
                if (!firstRun && row.server != previousServer) {
                    if (servers == 0)
                        firstServer = row.start;
                    ++servers;
                }
                previousServer = row.server;
                firstRun = false;
            }
            ++rows;
            ++i;
        }
        if (rows > 0) {
            HistoryPoint p;
            p.ObjectsProcessed = static_cast<float>(halfEven(objSum, rows));
            p.ElapsedSeconds = static_cast<float>(halfEven(secSum, rows));
            if (curInc != 0)
                p.LatencyMinutes = static_cast<float>(
                    halfEven(static_cast<__int128>(lagSum) * curInt * 10, static_cast<__int128>(rows) * curInc) / 10.0);
            p.ErrorCount = static_cast<float>(errors);
            p.TotalResyncCount = static_cast<float>(resyncs);
            p.ServerChangeCount = static_cast<float>(servers);
            if (errors)
                p.FirstErrorTime = firstErr.toDateTime();
            if (resyncs)
                p.FirstTotalResyncTime = firstResync.toDateTime();
            if (servers)
                p.FirstServerChangeTime = firstServer.toDateTime();
            p.NewIncrementCount = pendingInc ? 1 : 0;
            p.NewIntervalCount = pendingInt ? 1 : 0;
            p.OldIncrement = oldInc;
            p.NewIncrement = newInc;
            p.IncrementChangeTime = incTime.toDateTime();
            p.OldInterval = oldInt;
            p.NewInterval = newInt;
            p.IntervalChangeTime = intTime.toDateTime();
            p.Start = pointStart.toDateTime();
            p.Label = p.Start.toString(QStringLiteral("MM/dd/yy HH:mm"));
            p.LastSyncId = syncId;
            p.Runs = static_cast<qint32>(rows);
            if (m_trace && out.points.size() < 2001)
                out.lines << history_format::processedLine(p);
            out.points.append(p);
            pendingInc = pendingInt = false;
        }
        if (stoppedAtChange) {
            const HistoryRunRow& row = m_runs[i];
            if (row.increment != curInc) {
                oldInc = curInc;
                newInc = row.increment;
                incTime = row.start;
                curInc = row.increment;
                pendingInc = true;
            }
            if (row.interval != curInt) {
                oldInt = curInt;
                newInt = row.interval;
                intTime = row.start;
                curInt = row.interval;
                pendingInt = true;
            }
        }
    }
    return out;
}

ReferenceHistory::Result ReferenceHistory::run(qint16 startFactor, int maxPasses) const
{
    Result res;
    res.lines = queryLines;
    const QString name = m_side == SyncSide::DC ? QStringLiteral("DistinctDCIncAndIntervalSafetyFactor")
                                                : QStringLiteral("DistinctGCIncAndIntervalSafetyFactor");
    qint32 factor = startFactor;
    for (int k = 0; k < maxPasses; ++k) {
        qint64 budget = 0, g = 0;
        if (!budgetFor(factor, budget, g))
            break;
        Pass p = pass(budget, g);
        ++res.passes;
        res.lines += p.lines;
        if (p.points.size() <= budget) {
            res.accepted = true;
            res.points = p.points;
            res.groupSize = g;
            res.factor = static_cast<qint16>(factor);
            res.lines << QStringLiteral("Points:") + QString::number(p.points.size()) + QStringLiteral(" GroupSize:") +
                             QString::number(g);
            return res;
        }
        ++factor;
        res.lines << QStringLiteral("Exceed max data points allowed. Increment ") + name + QStringLiteral(" to ") +
                         QString::number(factor) + QStringLiteral(" and try again");
    }
    res.factor = static_cast<qint16>(std::min<qint32>(factor, 32767));
    return res;
}

} // namespace fw::test
