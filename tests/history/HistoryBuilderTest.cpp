// The streaming builder against the written loop (ReferenceHistory), and the behaviours named for the history.
#include "HistoryFixture.h"

#include "app/StartupGate.h"
#include "history/HistoryFormat.h"
#include "log/NumberFormat.h"
#include "support/Must.h"

#include <gtest/gtest.h>

#include <QSqlQuery>
#include <cstdio>
#include <limits>

using namespace fw;
using namespace fw::test;

namespace {

RunSpec sideRun(SyncSide side, qint64 id, qint32 increment = 500)
{
    return side == SyncSide::DC ? dcRun(id, 100, increment) : gcRun(id, QStringLiteral("gc01"), 100, increment);
}

// A point in one line: label, runs and last SyncId; objects, seconds and minutes of latency; errors, total resyncs
// and server changes; increment and interval changes (old>new). Each count with its time when the point has one.
QString brief(const HistoryPoint& p)
{
    const auto at = [](float n, const QDateTime& t, const QString& more = {}) {
        return t.isValid() ? plainNumber(n) + QLatin1Char('@') + history_format::detailTime(t) + more : plainNumber(n);
    };
    const auto change = [](qint32 from, qint32 to) { return QStringLiteral(" %1>%2").arg(from).arg(to); };
    return QStringLiteral("%1 %2 runs to %3: %4 objects %5 s %6 min; events %7 %8 %9; changes %10 %11")
        .arg(p.Label, QString::number(p.Runs), QString::number(p.LastSyncId), plainNumber(p.ObjectsProcessed),
             plainNumber(p.ElapsedSeconds), plainNumber(p.LatencyMinutes), at(p.ErrorCount, p.FirstErrorTime),
             at(p.TotalResyncCount, p.FirstTotalResyncTime), at(p.ServerChangeCount, p.FirstServerChangeTime),
             at(p.NewIncrementCount, p.IncrementChangeTime, change(p.OldIncrement, p.NewIncrement)),
             at(p.NewIntervalCount, p.IntervalChangeTime, change(p.OldInterval, p.NewInterval)));
}

QStringList briefs(const QList<HistoryPoint>& points)
{
    QStringList out;
    for (const HistoryPoint& p : points)
        out << brief(p);
    return out;
}

void expectSamePoints(const QList<HistoryPoint>& got, const QList<HistoryPoint>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (qsizetype i = 0; i < got.size(); ++i)
        ASSERT_TRUE(got[i] == want[i]) << "point " << i << "\n got:  " << brief(got[i]).toStdString()
                                       << "\n want: " << brief(want[i]).toStdString();
}

// The points, then the log lines (the first differing line named before the counts).
void expectSame(const HistoryResult& got, const QList<HistoryPoint>& points, const QStringList& lines)
{
    expectSamePoints(got.points, points);
    for (qsizetype i = 0; i < std::min(got.logLines.size(), lines.size()); ++i)
        ASSERT_EQ(got.logLines[i].toStdString(), lines[i].toStdString()) << "log line " << i;
    ASSERT_EQ(got.logLines.size(), lines.size());
}

// The cases that read what the engine hands over (types, sort order, sums) on each engine.
class HistoryOnEngine : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override { FW_SKIP_UNLESS_ENGINE(GetParam()); }
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Engines, HistoryOnEngine, kEngines, engineName);

// Many generated histories, both sides, trace on and off, tight and loose budgets: the one walk gives the
// points, group size, factor and log lines of the loop as written, retries included. Each is built again with
// no sizes formed side by side: every needed size (with trace on, every rejected pass's too) then comes from the
// runs the walk kept, still in one walk, whose rows only the connection's thread reads.
TEST_P(HistoryOnEngine, GeneratedHistoriesAgreeWithTheWrittenLoop)
{
    // The server takes each row in a round trip: fewer histories there, the coverage counted on SQLite.
    const bool sqlite = GetParam() == Engine::Sqlite;
    int retried = 0, accepted = 0, fitted = 0;
    for (quint32 seed = 1; seed <= (sqlite ? 64u : 6u); ++seed) {
        BuilderHarness h(GetParam());
        ASSERT_TRUE(h.db.ready());
        const bool dc = seed % 2 == 1;
        const SyncSide side = dc ? SyncSide::DC : SyncSide::GC;
        const GeneratorSpec g{.seed = seed,
                              .runs = 1 + static_cast<int>((seed * 7919) % 1600),
                              .changes = static_cast<int>((seed * 31) % 60),
                              .distinctIncrements = 1 + static_cast<int>(seed % 4),
                              .distinctIntervals = 1 + static_cast<int>((seed / 4) % 3),
                              .oddities = seed % 3 != 0};
        generateHistory(g, side, h.db);
        h.tc.ctx().traceSetting = seed % 4 < 2 ? 1 : 0;
        ReferenceHistory ref = h.reference(side);
        ASSERT_TRUE(ref.queryLines.isEmpty())
            << "the written loop could not read the history: " << ref.queryLines.join(QLatin1Char('\n')).toStdString();
        // A starting budget between 40 and about 440 points, so that groups are large and retries common.
        const qint64 k = ref.counts.distinctIncrements + ref.counts.distinctIntervals;
        ASSERT_GT(k, 0) << "every history has a running run with an increment and an interval of its own";
        const qint64 targetBudget = 40 + (seed * 37) % 400;
        auto factor = static_cast<qint16>(std::max<qint64>(1, (2000 - targetBudget) / k));
        if (seed % 2 == 0) {
            // Every other history: look for a starting factor the loop has to raise before a pass fits.
            for (qint64 budget = 20; budget < 1200; budget += 7) {
                const auto f = static_cast<qint16>(std::max<qint64>(1, (2000 - budget) / k));
                const auto probe = ref.run(f, 4);
                if (probe.accepted && probe.passes > 1) {
                    factor = f;
                    break;
                }
            }
        }
        const ReferenceHistory::Result want = ref.run(factor);
        WalkTally tally;
        const HistoryResult got = h.build(side, factor, &tally);
        SCOPED_TRACE(QStringLiteral("seed %1 runs %2 changes %3 factor %4")
                         .arg(seed)
                         .arg(g.runs)
                         .arg(g.changes)
                         .arg(factor)
                         .toStdString());
        // A build that failed has no group size to compare the loop's passes with.
        ASSERT_GT(got.groupSize, 0) << got.failure.toStdString();
        EXPECT_EQ(tally.opened, 1);
        // The points are formed on another thread, but the rows are read on the connection's alone.
        EXPECT_EQ(tally.readsElsewhere, 0);
        EXPECT_EQ(dc ? h.tc.ctx().dcSafetyFactor : h.tc.ctx().gcSafetyFactor, got.finalFactor); // kept for the next opening
        WalkTally untrackedTally;
        const HistoryResult untracked = h.build(side, factor, &untrackedTally, 0, 0);
        EXPECT_EQ(untrackedTally.opened, 1);
        EXPECT_EQ(untracked.outcome, got.outcome);
        EXPECT_EQ(untracked.groupSize, got.groupSize);
        EXPECT_EQ(untracked.finalFactor, got.finalFactor);
        expectSame(untracked, got.points, got.logLines);
        if (!want.accepted) {
            // The loop never accepts: the smallest group size fitting the starting budget, factor kept.
            qint64 budget = 0, g0 = 0;
            ASSERT_TRUE(ref.budgetFor(factor, budget, g0));
            ASSERT_EQ(got.outcome, HistoryPlan::Outcome::FittedAtStart);
            ++fitted;
            EXPECT_EQ(got.finalFactor, factor);
            const auto shown = ref.pass(budget, got.groupSize);
            EXPECT_LE(shown.points.size(), budget);
            EXPECT_GT(ref.pass(budget, got.groupSize - 1).points.size(), budget);
            expectSamePoints(got.points, shown.points);
            ASSERT_FALSE(got.logLines.isEmpty());
            const QString name = dc ? QStringLiteral("DistinctDCIncAndIntervalSafetyFactor")
                                    : QStringLiteral("DistinctGCIncAndIntervalSafetyFactor");
            EXPECT_EQ(got.logLines.last(),
                      QStringLiteral("Point budget %1 could not be met by raising %2; kept it at %3 and used "
                                     "group size %4 (%5 points)")
                          .arg(budget)
                          .arg(name)
                          .arg(factor)
                          .arg(got.groupSize)
                          .arg(got.points.size()));
            continue;
        }
        ++accepted;
        retried += want.passes > 1;
        EXPECT_EQ(got.outcome, HistoryPlan::Outcome::Accepted);
        EXPECT_EQ(got.groupSize, want.groupSize);
        EXPECT_EQ(got.finalFactor, want.factor);
        expectSame(got, want.points, want.lines);
    }
    std::printf("accepted %d (after retries %d), fitted at the starting factor %d\n", accepted, retried, fitted);
    if (!sqlite)
        return;
    EXPECT_GT(accepted, 30);
    EXPECT_GT(retried, 10) << "the generated histories should exercise the retries";
    EXPECT_GT(fitted, 3) << "and histories the loop cannot fit";
}

// The distinct values are counted over all runs, the running one included. 3 distinct increments and 1 interval
// at factor 2: budget 1992, so 1993 runs make groups of 2 and 997 points; the same on the GC side.
TEST(HistoryGroupSize, BudgetExamples)
{
    for (SyncSide side : {SyncSide::DC, SyncSide::GC}) {
        BuilderHarness h;
        QList<RunSpec> list;
        for (int i = 1; i <= 1995; ++i) {
            list.append(sideRun(side, i, i <= 1993 ? 500 : i == 1994 ? 1000 : 750));
            list.last().active = i > 1993; // two running runs, each with an increment of its own
        }
        h.db.add(side, list);
        h.tc.ctx().traceSetting = side == SyncSide::DC ? 1 : 0;
        const HistoryResult r = h.build(side, 2);
        EXPECT_EQ(r.budget, 1992);
        EXPECT_EQ(r.groupSize, 2);
        EXPECT_EQ(r.points.size(), 997);
        // The pass's trace line is written for the DC side only.
        EXPECT_EQ(r.logLines.first(), side == SyncSide::DC
                                          ? QStringLiteral("iMaxPointsAllowed: 1992 dTotalRows: 1993 iGroupSize: 2")
                                          : QStringLiteral("Points:997 GroupSize:2"));
        EXPECT_EQ(r.logLines.last(), QStringLiteral("Points:997 GroupSize:2"));
    }
}

// Hand-made histories whose points are known, each point compared whole (see brief()).
TEST_P(HistoryOnEngine, HandMadeHistoriesGiveTheirKnownPoints)
{
    const QList<RunSpec> incrementChange = numberedRuns(190, [](int i) { return dcRun(i, 100, i <= 15 ? 400 : 500, 15); });
    const auto timed = [](qint64 id, qint64 lag, qint64 objects, int seconds) {
        RunSpec r = dcRun(id, lag, 100, 5);
        r.objects = objects;
        r.seconds = seconds;
        return r;
    };
    const auto twoDomains = [](qint64 id, const QString& s1, const QString& s2, int f1 = 0, int f2 = 0) {
        RunSpec r = dcRun(id);
        r.domains = {{QStringLiteral("a.example.com"), s1, 10, f1}, {QStringLiteral("b.example.com"), s2, 10, f2}};
        return r;
    };
    QList<RunSpec> gc = {gcRun(1, "gc01"), gcRun(2, "GC01"), gcRun(3, "GC01"), gcRun(4, "gc02")};
    gc[2].flags = 3;
    RunSpec manyA{.id = 1, .objects = 10}, manyB{.id = 2, .objects = 10};
    for (int d = 0; d < 150; ++d) {
        const QString domain = QStringLiteral("d%1.example.com").arg(d);
        manyA.domains.append({domain, "s1", 1, 1});
        manyB.domains.append({domain, d == 149 ? "s2" : "s1", 1, 0});
    }
    const struct {
        const char* name;
        SyncSide side;
        QList<RunSpec> runs;
        qint16 factor;
        qsizetype count;   // points in all
        QStringList first; // the first points
    } cases[] = {
        // 2 increments + 1 interval at factor 660: budget 20, groups of 10. A change of increment after the fifth run
        // of a group closes the point with 5 runs; the next point starts at the changed run with the change and its
        // time. Later points keep the change's details but do not count it again.
        {"increment change inside a group",
         SyncSide::DC,
         incrementChange,
         660,
         20,
         {"03/14/05 09:15 10 runs to 10: 10 objects 60 s 3.8 min; events 0 0 0; changes 0 0",
          "03/14/05 11:45 5 runs to 15: 10 objects 60 s 3.8 min; events 0 0 0; changes 0 0",
          "03/14/05 13:00 10 runs to 25: 10 objects 60 s 3 min; events 0 0 0; "
          "changes 1@2005-03-14 13:00:00 400>500 0",
          "03/14/05 15:30 10 runs to 35: 10 objects 60 s 3 min; events 0 0 0; "
          "changes 0@2005-03-14 13:00:00 400>500 0"}},
        // Budget 2000 - 2 x 999 = 2, groups of 2. Latency: lags 40 and 20, interval 5, increment 100 give 1.5; an
        // average giving 0.25 is stored as 0.2. Objects (2.5, 3.5) and seconds (12.5) are averaged with halves to even.
        {"latency and rounding",
         SyncSide::DC,
         {timed(1, 40, 3, 10), timed(2, 20, 2, 15), timed(3, 4, 3, 60), timed(4, 6, 4, 60)},
         999,
         2,
         {"03/14/05 09:15 2 runs to 2: 2 objects 12 s 1.5 min; events 0 0 0; changes 0 0",
          "03/14/05 09:45 2 runs to 4: 4 objects 60 s 0.2 min; events 0 0 0; changes 0 0"}},
        // Two domains both reporting EventFlags 3 add 2 errors and 2 total resynchronisations; a server change counts
        // once per run, letter case included; bit 4 is ignored.
        {"DC events and server changes",
         SyncSide::DC,
         {twoDomains(1, "dc1", "dc3", 3, 3), twoDomains(2, "dc2", "dc4"), twoDomains(3, "DC2", "dc4"),
          twoDomains(4, "DC2", "dc4", 4, 0)},
         999,
         2,
         {"03/14/05 09:15 2 runs to 2: 10 objects 60 s 0.6 min; events 2@2005-03-14 09:15:00 "
          "2@2005-03-14 09:15:00 1@2005-03-14 09:30:00; changes 0 0",
          "03/14/05 09:45 2 runs to 4: 10 objects 60 s 0.6 min; events 0 0 1@2005-03-14 09:45:00; "
          "changes 0 0"}},
        // GC, groups of 1: the first run of a pass is never a server change; a change of letter case is one; events
        // come from the run.
        {"GC server changes and events",
         SyncSide::GC,
         gc,
         2,
         4,
         {"03/14/05 09:15 1 runs to 1: 10 objects 60 s 3 min; events 0 0 0; changes 0 0",
          "03/14/05 09:30 1 runs to 2: 10 objects 60 s 3 min; events 0 0 1@2005-03-14 09:30:00; changes 0 0",
          "03/14/05 09:45 1 runs to 3: 10 objects 60 s 3 min; events 1@2005-03-14 09:45:00 1@2005-03-14 09:45:00 0; "
          "changes 0 0",
          "03/14/05 10:00 1 runs to 4: 10 objects 60 s 3 min; events 0 0 1@2005-03-14 10:00:00; changes 0 0"}},
        // A DC run with more than 101 domain rows is read whole: 150 errors, latency 150 x 1 x 15 / 500.
        {"many domains in one run",
         SyncSide::DC,
         {manyA, manyB},
         2,
         2,
         {"03/14/05 09:15 1 runs to 1: 10 objects 60 s 4.5 min; events 150@2005-03-14 09:15:00 0 0; changes 0 0",
          "03/14/05 09:30 1 runs to 2: 10 objects 60 s 4.5 min; events 0 0 1@2005-03-14 09:30:00; changes 0 0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BuilderHarness h(GetParam());
        ASSERT_TRUE(h.db.ready());
        h.db.add(c.side, c.runs);
        const HistoryResult r = h.build(c.side, c.factor);
        EXPECT_EQ(r.outcome, HistoryPlan::Outcome::Accepted);
        EXPECT_EQ(r.points.size(), c.count);
        EXPECT_EQ(briefs(r.points.mid(0, c.first.size())), c.first);
    }
}

// A pass with more points than its budget raises the factor by one, logs it and forms the points again;
// the next opening starts from the raised factor.
TEST(HistoryRetry, RaisesTheFactorAndKeepsIt)
{
    BuilderHarness h;
    h.db.add(SyncSide::DC, numberedRuns(100, [](int i) { return dcRun(i, 100, ((i - 1) / 6) % 2 ? 400 : 500, 15); }));
    StartupGate(h.tc.ctx()).startNewLog();
    WalkTally tally;
    // 2 increments + 1 interval at factor 660: budget 20, groups of 5 give 33 points; factor 661: budget 17,
    // groups of 6 give 17 points.
    const HistoryResult r = h.build(SyncSide::DC, 660, &tally);
    EXPECT_EQ(tally.opened, 1);
    EXPECT_EQ(r.outcome, HistoryPlan::Outcome::Accepted);
    EXPECT_EQ(h.tc.ctx().dcSafetyFactor, 661);
    EXPECT_EQ(r.points.size(), 17);
    EXPECT_EQ(
        r.logLines,
        (QStringList{
            QStringLiteral("Exceed max data points allowed. Increment DistinctDCIncAndIntervalSafetyFactor to 661 and try again"),
            QStringLiteral("Points:17 GroupSize:6")}));
    // Written to the activity log with time stamps.
    const QStringList file = h.tc.logLines();
    EXPECT_TRUE(file.last().endsWith(QStringLiteral(": Points:17 GroupSize:6")));
    EXPECT_TRUE(
        file[file.size() - 2].endsWith(QStringLiteral("Increment DistinctDCIncAndIntervalSafetyFactor to 661 and try again")));

    HistoryBuilder again(h.tc.ctx(), SyncSide::DC);
    const HistoryResult second = again.BuildHistoryPoints(*std::make_unique<SqlHistorySource>(h.db.db(), SyncSide::DC));
    EXPECT_EQ(second.startFactor, 661);
    EXPECT_EQ(second.logLines, QStringList{QStringLiteral("Points:17 GroupSize:6")});
}

// Object totals of runs missing from the run list warn; a run without totals informs, unless no totals are left.
TEST(HistoryMismatch, WarningAndInformationLines)
{
    BuilderHarness h;
    QList<RunSpec> list = {dcRun(2), dcRun(3), dcRun(5), dcRun(6)};
    list[1].objects.reset(); // run 3: no totals, the next totals row is 5
    list[3].objects.reset(); // run 6: no totals left at all: nothing written
    h.db.add(SyncSide::DC, list);
    h.db.addObjectRow(1, QStringLiteral("corp.example.com"), 4);
    h.db.addObjectRow(4, QStringLiteral("corp.example.com"), 4);
    h.db.addDomainRow(4, {QStringLiteral("corp.example.com"), QStringLiteral("dc01"), 1, 0}, baseTime());
    h.db.addObjectRow(5, QStringLiteral("GC"), 1000); // a GC row: not a DC total
    const HistoryResult r = h.build(SyncSide::DC, 2);
    EXPECT_EQ(
        r.logLines,
        (QStringList{
            QStringLiteral(
                "Warning: Mismatch data - Data in SyncHistoryObject with SyncId = 1 while no data in SyncHistoryDC where the next SyncID = 2"),
            QStringLiteral(
                "Info: Mismatch data - Data in SyncHistoryDC with SyncId = 3 while no data in SyncHistoryObject where the next SyncID = 4"),
            QStringLiteral(
                "Warning: Mismatch data - Data in SyncHistoryObject with SyncId = 4 while no data in SyncHistoryDC where the next SyncID = 5"),
            QStringLiteral(
                "Warning: Mismatch data - Data in SyncHistoryDCDomain with SyncId = 4 while no data in SyncHistoryDC where the next SyncID = 5"),
            QStringLiteral("Points:4 GroupSize:1")}));
    ASSERT_EQ(r.points.size(), 4);
    EXPECT_EQ(r.points[1].ObjectsProcessed, 0); // a run without totals still counts, with 0 objects
    EXPECT_EQ(r.points[2].ObjectsProcessed, 10);
}

// A null end time of a finished run goes through the window's error report (message box, then the log) and the
// run still counts; the GC box has no line number.
TEST(HistoryFailures, NullEndTimeIsReportedAndTheLoadGoesOn)
{
    for (SyncSide side : {SyncSide::DC, SyncSide::GC}) {
        BuilderHarness h;
        QList<RunSpec> list = {sideRun(side, 1), sideRun(side, 2)};
        list[0].seconds = 30;
        list[1].nullEnd = true;
        h.db.add(side, list);
        const HistoryResult r = h.build(side, 2);
        ASSERT_EQ(r.points.size(), 2);
        EXPECT_EQ(r.points[0].ElapsedSeconds, 30);
        EXPECT_EQ(r.points[1].ElapsedSeconds, 0);
        const QString form = side == SyncSide::DC ? QStringLiteral("frmDCViewHistory") : QStringLiteral("frmGCViewHistory");
        const QString logged =
            QStringLiteral("(error):94 (Invalid use of Null) in procedure Form_Load of Form %1 (line#=220)").arg(form);
        EXPECT_EQ(r.logLines.first(), logged);
        EXPECT_EQ(h.tc.prompter().messages,
                  QStringList{side == SyncSide::DC
                                  ? logged
                                  : "(error):94 (Invalid use of Null) in procedure Form_Load of Form frmGCViewHistory"});
    }
}

// A walked query failing part way (here SQLite's SUM overflowing at one run's object totals) is a failure of
// the load, not a shorter history: reported through the window's error path, no points, nothing logged as built.
TEST(HistoryFailures, WalkedQueryFailingPartWayIsReported)
{
    BuilderHarness h;
    h.db.add(SyncSide::GC, numberedRuns(40, [](int i) { return gcRun(i); }));
    h.db.addObjectRow(30, QStringLiteral("GC"), std::numeric_limits<qint64>::max());
    h.db.addObjectRow(30, QStringLiteral("GC"), std::numeric_limits<qint64>::max());
    const HistoryResult r = h.build(SyncSide::GC, 2);
    EXPECT_EQ(r.outcome, HistoryPlan::Outcome::Impossible);
    EXPECT_TRUE(r.points.isEmpty());
    ASSERT_EQ(h.tc.prompter().messages.size(), 1);
    const QString box = h.tc.prompter().messages.first();
    EXPECT_TRUE(box.startsWith(QStringLiteral("(error):"))) << box.toStdString();
    EXPECT_TRUE(box.contains(QStringLiteral("integer overflow"))) << box.toStdString();
    EXPECT_TRUE(box.endsWith(QStringLiteral(") in procedure Form_Load of Form frmGCViewHistory"))) << box.toStdString();
    ASSERT_EQ(r.logLines.size(), 1);
    EXPECT_EQ(r.logLines.first(), box + QStringLiteral(" (line#=50)"));
}

// A budget of 0 or below, or more stretches between changes than the budget: no group size can fit. The load
// ends with the reason in a message box and no points, instead of looping or overrunning.
TEST(HistoryFailures, NoFittingGroupSizeEndsTheLoadWithTheReason)
{
    const QList<RunSpec> alternating = numberedRuns(30, [](int i) { return gcRun(i, "gc01", 10, i % 2 ? 100 : 200); });
    const struct {
        const char* name;
        QList<RunSpec> runs;
        qint16 factor;
        QString failure;
    } cases[] = {
        {"budget 2000 - 2 x 1000",
         {gcRun(1), gcRun(2)},
         1000,
         "The history cannot be charted: the point budget 2000 - 2 x 1000 is 0 or less, or the group size of 2 runs does not "
         "fit 16 bits. Lower DistinctGCIncAndIntervalSafetyFactor by restarting the program."},
        {"budget 11, 30 stretches", alternating, 663,
         "The history cannot be charted: its runs hold 30 stretches between increment or interval changes, more than the 11 "
         "points allowed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BuilderHarness h;
        h.db.add(SyncSide::GC, c.runs);
        const HistoryResult r = h.build(SyncSide::GC, c.factor);
        EXPECT_EQ(r.outcome, HistoryPlan::Outcome::Impossible);
        EXPECT_TRUE(r.points.isEmpty());
        EXPECT_EQ(r.failure, c.failure);
        EXPECT_EQ(h.tc.prompter().messages, QStringList{c.failure});
        EXPECT_EQ(r.finalFactor, c.factor);
    }
}

// Runs that finish while a history is read are not part of it: the walk reads no run past the last one counted,
// so the chart is that of the runs counted. The run in progress at the counts finishes, and more are written,
// between the counts and the walk. SQLite: the load's read transaction alone would hide them. SQL Server: the walk
// runs on connections of its own, outside any transaction of the counts' one, and no isolation level is asked for
// (Babelfish refuses SERIALIZABLE as it comes); on Babelfish the writer is never held up by the reader, on SQL Server
// it is not either, as a read committed statement keeps no lock once it ends.
TEST_P(HistoryOnEngine, RunsFinishingBetweenTheCountsAndTheWalkAreNotRead)
{
    BuilderHarness h(GetParam());
    ASSERT_TRUE(h.db.ready());
    if (GetParam() == Engine::Sqlite)
        QSqlQuery(h.db.db().handle()).exec(QStringLiteral("PRAGMA journal_mode = WAL")); // the writer need not wait
    h.db.add(SyncSide::DC, numberedRuns(40, [](int i) { return dcRun(i, 100 + i); }));
    const ReferenceHistory::Result want = h.reference(SyncSide::DC).run(2);
    RunSpec running = dcRun(41, 999);
    running.active = true;
    h.db.add(SyncSide::DC, {running});

    const std::unique_ptr<Database> reader = test::must(openForSetUp(h.db.connectionString())); // the load's own connection
    ASSERT_TRUE(reader);
    SqlHistorySource sql(*reader, SyncSide::DC);
    CountingSource source(sql);
    source.afterCounts = [&] {
        for (const char* finish : {"UPDATE SyncHistoryDC SET IsActive = 0, syncEnd = SyncStart WHERE SyncId = 41",
                                   "UPDATE SyncHistoryDCDomain SET IsActive = 0 WHERE SyncId = 41"})
            test::must(h.db.db().run(QString::fromLatin1(finish)));
        h.db.add(SyncSide::DC, {dcRun(42, 999), dcRun(43, 999), dcRun(44, 999), dcRun(45, 999)});
    };
    h.tc.ctx().dcSafetyFactor = 2;
    const HistoryResult got = HistoryBuilder(h.tc.ctx(), SyncSide::DC).BuildHistoryPoints(source);
    EXPECT_EQ(got.totalRows, 40);
    expectSame(got, want.points, want.lines);
    EXPECT_EQ(h.reference(SyncSide::DC).counts.totalRows, 45); // they are there for the next opening
}

// The load tells how far it has read of the runs counted; a load abandoned through it reports nothing and
// leaves the safety factor as it was.
TEST(HistoryProgress, ReadsUpToTheCountAndCanBeAbandoned)
{
    BuilderHarness h;
    h.db.add(SyncSide::DC, numberedRuns(30, [](int i) { return dcRun(i); }));
    StartupGate(h.tc.ctx()).startNewLog();
    SqlHistorySource sql(h.db.db(), SyncSide::DC);

    qint64 lastRead = -1, lastTotal = -1;
    HistoryBuilder whole(h.tc.ctx(), SyncSide::DC);
    whole.setProgress([&](qint64 read, qint64 total) {
        lastRead = read;
        lastTotal = total;
        return true;
    });
    EXPECT_FALSE(whole.BuildHistoryPoints(sql).cancelled);
    EXPECT_EQ(lastRead, 30);
    EXPECT_EQ(lastTotal, 30);

    h.tc.ctx().dcSafetyFactor = 7;
    const QStringList before = h.tc.logLines();
    HistoryBuilder abandoned(h.tc.ctx(), SyncSide::DC);
    abandoned.setProgress([](qint64, qint64) { return false; });
    const HistoryResult r = abandoned.BuildHistoryPoints(sql);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(h.tc.logLines(), before);
    EXPECT_TRUE(h.tc.prompter().messages.isEmpty());
    EXPECT_EQ(h.tc.ctx().dcSafetyFactor, 7);
}
