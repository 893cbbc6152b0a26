#include "history/HistoryBuilder.h"

#include "context/AppContext.h"
#include "db/Database.h"
#include "history/CursorPump.h"
#include "history/HistoryFormat.h"
#include "history/HistoryWalk.h"
#include "log/ActivityLog.h"
#include "log/ErrorReport.h"
#include "log/NumberFormat.h"
#include "platform/Prompter.h"

#include <thread>

namespace fw {

namespace {

// Keeps the load's lines and error reports, in order, for report().
class LoadLog {
public:
    LoadLog(SyncSide side, bool tracing, HistoryResult& r) : m_side(side), m_tracing(tracing), m_r(r) {}

    bool tracing() const { return m_tracing; }
    void write(const QString& text) { add(HistoryReport::Kind::Log, text); }
    void trace(const QString& text)
    {
        if (m_tracing)
            add(HistoryReport::Kind::Trace, text);
    }
    // The window's error path: a message box, then the same report in the log (the GC box has no line number).
    void error(const FwError& e, int line)
    {
        const QString form = HistoryBuilder::formName(m_side);
        const QString withLine = errorReportText(e, QStringLiteral("Form_Load"), form, OwnerKind::Form, line);
        add(HistoryReport::Kind::Error, withLine,
            m_side == SyncSide::DC ? withLine : errorReportText(e, QStringLiteral("Form_Load"), form));
    }
    void message(const QString& text) { add(HistoryReport::Kind::Message, text); }

private:
    void add(HistoryReport::Kind kind, const QString& text, const QString& box = {})
    {
        m_r.reports.append({kind, text, box});
        m_r.logLines.append(text);
    }
    SyncSide m_side;
    bool m_tracing;
    HistoryResult& m_r;
};

// Everything the load reads sees one state of the tables; ended however the load ends.
class SnapshotScope {
public:
    explicit SnapshotScope(HistorySource& source) : m_source(source), m_begun(source.beginSnapshot()) {}
    ~SnapshotScope()
    {
        if (m_begun)
            m_source.endSnapshot();
    }
    const Result<void>& begun() const { return m_begun; }

private:
    HistorySource& m_source;
    Result<void> m_begun;
};

} // namespace

HistoryBuilder::HistoryBuilder(AppContext& ctx, SyncSide side)
    : m_ctx(ctx), m_side(side), m_connectionString(ctx.connectionString), m_tracing(ctx.traceSetting > 0),
      m_factor(side == SyncSide::DC ? ctx.dcSafetyFactor : ctx.gcSafetyFactor)
{
}

QString HistoryBuilder::formName(SyncSide side)
{
    return side == SyncSide::DC ? QStringLiteral("frmDCViewHistory") : QStringLiteral("frmGCViewHistory");
}

QString HistoryBuilder::factorName(SyncSide side)
{
    return side == SyncSide::DC ? QStringLiteral("DistinctDCIncAndIntervalSafetyFactor")
                                : QStringLiteral("DistinctGCIncAndIntervalSafetyFactor");
}

HistoryResult HistoryBuilder::BuildHistoryPoints()
{
    HistoryResult r = collect();
    report(r);
    return r;
}

HistoryResult HistoryBuilder::BuildHistoryPoints(HistorySource& source)
{
    HistoryResult r = collect(source);
    report(r);
    return r;
}

void HistoryBuilder::report(const HistoryResult& r)
{
    if (r.cancelled)
        return;
    for (const HistoryReport& e : r.reports) {
        switch (e.kind) {
        case HistoryReport::Kind::Log: m_ctx.log().WriteLog(e.text, true); break;
        case HistoryReport::Kind::Trace: m_ctx.log().WriteTraceLog(e.text, true); break;
        case HistoryReport::Kind::Error:
            m_ctx.prompter().inform(e.box);
            m_ctx.log().WriteLog(e.text, true);
            break;
        case HistoryReport::Kind::Message:
            m_ctx.prompter().inform(e.text);
            m_ctx.log().WriteLog(e.text, true);
            break;
        }
    }
    (m_side == SyncSide::DC ? m_ctx.dcSafetyFactor : m_ctx.gcSafetyFactor) = r.finalFactor;
    m_factor = r.finalFactor;
}

HistoryResult HistoryBuilder::collect()
{
    Result<std::unique_ptr<Database>> db = Database::open(m_connectionString, Database::Access::ReadOnly);
    if (!db) {
        HistoryResult r;
        r.startFactor = r.finalFactor = m_factor;
        LoadLog log(m_side, m_tracing, r);
        log.error(db.error(), 10);
        r.failure = db.error().description;
        return r;
    }
    SqlHistorySource source(**db, m_side);
    return collect(source);
}

HistoryResult HistoryBuilder::collect(HistorySource& source)
{
    HistoryResult r;
    LoadLog log(m_side, m_tracing, r);
    qint16 factor = m_factor;
    r.startFactor = r.finalFactor = factor;
    // A failed query ends the load: a chart of what could be read would be a wrong one.
    auto failed = [&](const QList<HistorySource::CountFailure>& failures) {
        for (const auto& f : failures)
            log.error(f.error, f.line);
        if (failures.isEmpty())
            return false;
        r.failure = failures.first().error.description;
        return true;
    };

    const SnapshotScope snapshot(source);
    if (!snapshot.begun()) {
        failed({{5, snapshot.begun().error()}});
        return r;
    }
    HistorySource::Counts counts;
    if (failed(source.counts(counts)))
        return r;
    r.totalRows = counts.totalRows;
    r.distinctIncrements = counts.distinctIncrements;
    r.distinctIntervals = counts.distinctIntervals;
    const qint64 distinct = counts.distinctIncrements + counts.distinctIntervals;

    // The group sizes formed side by side (why these: see HistoryWalk.h).
    QList<qint64> sizes = retryGroupSizes(counts.totalRows, distinct, factor, m_trackedRetries);
    HistoryPass start;
    const bool startValid = passFor(counts.totalRows, distinct, factor, start);
    if (startValid)
        for (qint64 g = start.groupSize + 1; g <= start.groupSize + m_fallbackWindow && g <= 32767; ++g)
            sizes.append(g);

    const bool tracing = log.tracing();
    WalkLineSpool spool;
    RunSpill kept; // what each run adds, for any size the walk did not form
    HistoryWalk walk(m_side, tracing ? WalkOptions::everyPass(sizes, &spool)
                                     : WalkOptions::shownPassOnly(sizes, startValid ? start.budget : 0, &spool));
    const qint64 total = static_cast<qint64>(counts.totalRows);
    const std::function<bool(qint64)> progress = [&](qint64 read) { return !m_progress || m_progress(read, total); };
    // The walked queries can take seconds to give their first row (the DC run list groups every domain row
    // first): the counting is over by then, and the reading is what the user waits for.
    if (!progress(0)) {
        r.cancelled = true;
        return r;
    }
    {
        QList<HistorySource::CountFailure> failures;
        auto cursor = source.open(failures);
        ++r.walks;
        if (failed(failures))
            return r;
        // The points are formed on a second thread while this one, the connection's, reads the rows.
        bool walked = false;
        CursorPump pump(*cursor);
        std::thread former([&] {
            walked = walk.run(pump.cursor(), progress, &kept);
            pump.finished();
        });
        pump.run();
        former.join();
        if (!walked) {
            r.cancelled = true;
            return r;
        }
        // A query failing part way would otherwise read as a shorter history, and chart it.
        if (failed(cursor->failures()))
            return r;
    }

    const HistoryPlan plan = planHistory(counts.totalRows, distinct, factor, walk.counts());
    r.outcome = plan.outcome;
    if (plan.outcome == HistoryPlan::Outcome::Impossible) {
        if (!startValid)
            r.failure = QStringLiteral("The history cannot be charted: the point budget 2000 - %1 x %2 is 0 or less, or the "
                                       "group size of %3 runs does not fit 16 bits. Lower %4 by restarting the program.")
                            .arg(distinct)
                            .arg(factor)
                            .arg(plainNumber(counts.totalRows), factorName(m_side));
        else
            r.failure = QStringLiteral("The history cannot be charted: its runs hold %1 stretches between increment or interval "
                                       "changes, more than the %2 points allowed.")
                            .arg(walk.counts().segments())
                            .arg(start.budget);
        log.message(r.failure);
        r.finalFactor = factor;
        return r;
    }

    // The passes written in order: every rejected one (its lines), then the one shown. Points are needed for the
    // shown pass, and with trace lines for every pass.
    QList<HistoryPass> passes = plan.rejected;
    passes.append(plan.final);
    auto needsPoints = [&](qsizetype i) { return tracing || i == passes.size() - 1; };
    // A size the walk did not form is formed from the runs it kept, with the next few such sizes alongside, so
    // that only a few sizes' points are held at any time.
    constexpr qsizetype kSizesPerReplay = 32;
    std::unique_ptr<HistoryWalk> extra;
    FwError replayError; // why the kept runs or lines could not be read back; none when the replay was abandoned
    bool replayStopped = false;
    const std::function<bool()> goOn = [&] { return !m_progress || m_progress(total, total); };
    auto pointsOf = [&](qsizetype index) -> const QList<FormedPoint>* {
        const qint64 g = passes[index].groupSize;
        if (walk.kept(g))
            return walk.pointsFor(g);
        if (extra && extra->kept(g))
            return extra->pointsFor(g);
        if (replayStopped)
            return nullptr;
        QList<qint64> batch;
        for (qsizetype j = index; j < passes.size() && batch.size() < kSizesPerReplay; ++j)
            if (needsPoints(j) && !walk.kept(passes[j].groupSize) && !batch.contains(passes[j].groupSize))
                batch.append(passes[j].groupSize);
        extra.reset();
        extra = std::make_unique<HistoryWalk>(m_side, WalkOptions::missingSizes(batch));
        const Result<bool> formed = extra->replay(kept, goOn);
        if (!formed || !*formed) {
            replayStopped = true;
            if (!formed)
                replayError = formed.error();
            return nullptr;
        }
        return extra->pointsFor(g);
    };

    // Write each pass's lines as the loop writes them.
    auto writePass = [&](qsizetype index) {
        const HistoryPass& pass = passes[index];
        if (m_side == SyncSide::DC)
            log.trace(QStringLiteral("iMaxPointsAllowed: %1 dTotalRows: %2 iGroupSize: %3")
                          .arg(pass.budget)
                          .arg(plainNumber(counts.totalRows))
                          .arg(pass.groupSize));
        r.passGroupSizes.append(pass.groupSize);
        if (walk.emptyRunList())
            log.error(FwError::noCurrentRecord(), 100); // the run list has no row to start a pass with
        const QList<FormedPoint>* points = tracing ? pointsOf(index) : nullptr;
        qsizetype next = 0;
        auto traceUpTo = [&](qint64 ordinal) {
            while (points && next < points->size() && (*points)[next].lastOrdinal < ordinal)
                log.trace(history_format::processedLine((*points)[next++].point));
        };
        const Result<void> read = spool.forEach([&](const WalkLine& l) {
            traceUpTo(l.ordinal);
            if (l.kind == WalkLine::Kind::Log)
                log.write(l.text);
            else
                log.error({l.number, l.text}, l.line);
        });
        // The passes' lines cannot be written whole: the load fails as when the kept runs cannot be read.
        if (!read && !replayStopped) {
            replayStopped = true;
            replayError = read.error();
        }
        traceUpTo(std::numeric_limits<qint64>::max());
    };

    const qsizetype firstPassReport = r.reports.size();
    for (qsizetype i = 0; i < passes.size(); ++i) {
        writePass(i);
        if (i < passes.size() - 1) {
            ++factor;
            log.write(QStringLiteral("Exceed max data points allowed. Increment %1 to %2 and try again")
                          .arg(factorName(m_side))
                          .arg(factor));
        }
    }
    const QList<FormedPoint>* shown = pointsOf(passes.size() - 1);
    if (replayStopped) {
        if (!replayError) {
            r.cancelled = true;
            return r;
        }
        // Nothing of the passes is reported: the load failed before its points were formed.
        r.reports.resize(firstPassReport);
        r.logLines.resize(firstPassReport);
        r.passGroupSizes.clear();
        r.outcome = HistoryPlan::Outcome::Impossible;
        r.finalFactor = r.startFactor;
        r.failure = replayError.description;
        log.error(replayError, 70);
        return r;
    }
    if (shown)
        for (const FormedPoint& f : *shown)
            r.points.append(f.point);
    r.groupSize = plan.final.groupSize;
    r.budget = plan.final.budget;
    if (plan.outcome == HistoryPlan::Outcome::Accepted) {
        log.write(QStringLiteral("Points:%1 GroupSize:%2").arg(r.points.size()).arg(r.groupSize));
    } else {
        log.write(
            QStringLiteral("Point budget %1 could not be met by raising %2; kept it at %3 and used group size %4 (%5 points)")
                .arg(plan.final.budget)
                .arg(factorName(m_side))
                .arg(factor)
                .arg(r.groupSize)
                .arg(r.points.size()));
    }
    r.finalFactor = factor;
    return r;
}

} // namespace fw
