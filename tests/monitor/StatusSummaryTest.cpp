#include "MonitorTestDb.h"

#include "db/Database.h"
#include "monitor/ElapsedTime.h"
#include "monitor/RunAgeCheck.h"
#include "db/DatabaseSession.h"
#include "monitor/StatusSummary.h"
#include "support/Must.h"

#include <gtest/gtest.h>
#include <QSqlQuery>
#include <limits>

using namespace fw;
using namespace fw::test;

// Hours take at least two digits and have no upper bound; a negative count carries one leading minus.
TEST(FormatElapsedTime, HoursAtLeastTwoDigitsAndOneLeadingMinus)
{
    // clang-format off
    const std::pair<qint32, const char*> cases[] = {
        {0, "00:00:00"},       {59, "00:00:59"},   {60, "00:01:00"},   {3725, "01:02:05"},
        {90061, "25:01:01"},   {360000, "100:00:00"}, {std::numeric_limits<qint32>::max(), "596523:14:07"},
        {-59, "-00:00:59"},    {-3725, "-01:02:05"}, {std::numeric_limits<qint32>::min(), "-596523:14:08"}};
    // clang-format on
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(FormatElapsedTime(seconds), text) << seconds;
}

TEST(FormatElapsedTime, ConversionsRoundHalfToEvenAndReportOverflow)
{
    EXPECT_EQ(roundToInt32(2.5).valueOr(0), 2);
    EXPECT_EQ(roundToInt32(3.5).valueOr(0), 4);
    EXPECT_EQ(roundToInt32(-2.5).valueOr(0), -2);
    EXPECT_EQ(roundToInt32(3e9).error().number, 6);
    const QDateTime a(QDate(2000, 1, 1), QTime(0, 0));
    EXPECT_EQ(secondsBetween(a, a.addSecs(3725)).valueOr(0), 3725);
    const Result<qint32> century = secondsBetween(a, a.addYears(100));
    EXPECT_FALSE(century.ok()) << "a century does not fit 32-bit seconds";
    EXPECT_EQ(century.error().number, 6);
}

namespace {
// A side as the page shows it, "state | when | elapsed | objects"; "-" for a field that keeps its text.
QString describe(const SideStatus& s)
{
    return QStringList{s.state.value_or("-"), s.when.value_or("-"), s.elapsed.value_or("-"), s.objects.value_or("-")}.join(" | ");
}
} // namespace

using StatusSummaryTest = MonitorEngineTest;
using StatusSummaryTestSqlite = MonitorTest;

TEST_P(StatusSummaryTest, EmptyTablesShowIdleNoDataAndMinusOneWithoutMessages)
{
    t.ctx().lastDCSyncId = 77;
    t.ctx().lastGCSyncId = 78;
    const StatusSnapshot s = StatusSummary(t.ctx()).PopulateDCGCStatus();
    EXPECT_EQ(describe(s.dc), "Idle | No data | - | -");
    EXPECT_EQ(describe(s.gc), "Idle | No data | - | -");
    EXPECT_EQ(t.ctx().lastDCSyncId, -1);
    EXPECT_EQ(t.ctx().lastGCSyncId, -1);
    EXPECT_TRUE(t.prompter().messages.isEmpty());
}

TEST_P(StatusSummaryTest, EmptyDcSideStillRefreshesGcSide)
{
    db.addGcRun(4, false, now().addSecs(-600), now().addSecs(-500));
    const StatusSnapshot s = StatusSummary(t.ctx()).PopulateDCGCStatus();
    EXPECT_EQ(describe(s.dc), "Idle | No data | - | -");
    EXPECT_EQ(describe(s.gc), "Idle | Last done " + MonitorTestDb::ts(now().addSecs(-500)) + " | 00:01:40 | -");
    EXPECT_EQ(t.ctx().lastGCSyncId, 4);
}

TEST_P(StatusSummaryTest, RunningDcAndFinishedGcShowTheirStatesTimesAndTotals)
{
    db.addDcRun(9, false, now().addSecs(-9000), now().addSecs(-8000));
    db.addDcRun(10, true, now().addSecs(-3725));
    db.addObject(10, QStringLiteral("corp"), false, QStringLiteral("MailUsers"), false, 40, 10, now());
    db.addObject(10, QStringLiteral("sales"), true, QStringLiteral("ScopeDLs"), false, 2, QVariant(), QVariant());
    db.addObject(10, QStringLiteral("GC"), false, QStringLiteral("MailUsers"), false, 1000, 10,
                 now()); // a GC run with the same id
    db.addGcRun(10, false, now().addSecs(-90061 - 100), now().addSecs(-100));
    db.addObject(10, QStringLiteral("GC"), false, QStringLiteral("Servers"), true, 5, 1, now());

    const StatusSnapshot s = StatusSummary(t.ctx()).PopulateDCGCStatus();
    EXPECT_EQ(describe(s.dc), "In progress | Started " + MonitorTestDb::ts(now().addSecs(-3725)) + " | 01:02:05 | 42");
    EXPECT_EQ(describe(s.gc), "Idle | Last done " + MonitorTestDb::ts(now().addSecs(-100)) + " | 25:01:01 | 1005");
    EXPECT_EQ(t.ctx().lastDCSyncId, 10);
    EXPECT_EQ(t.ctx().lastGCSyncId, 10);
}

// Counts past the int range: the counts are read one by one and added in 64 bits on either engine (SQL Server's
// SUM of an int column would refuse, 8115), so the total is the true sum, never a wrapped one.
TEST_P(StatusSummaryTest, AnObjectTotalPastTheIntRangeIsTheTrueSum)
{
    db.addDcRun(3, false, now().addSecs(-60), now());
    db.addObject(3, kCorp, false, QStringLiteral("MailUsers"), false, 2000000000, 1, now());
    db.addObject(3, kSales, false, QStringLiteral("MailUsers"), false, 2000000000, 1, now());
    const StatusSnapshot s = StatusSummary(t.ctx()).PopulateDCGCStatus();
    EXPECT_EQ(s.dc.objects.value_or("-"), "4000000000");
    EXPECT_TRUE(s.readCompletely());
    EXPECT_TRUE(t.prompter().messages.isEmpty());
}

TEST_P(StatusSummaryTest, NullSumAndNullEndLeaveTheirFieldsAndRaiseNoMessage)
{
    db.addDcRun(3, false, now().addSecs(-60), QVariant()); // finished but no end recorded
    const StatusSnapshot s = StatusSummary(t.ctx()).PopulateDCGCStatus();
    EXPECT_EQ(describe(s.dc), "Idle | - | - | -") << "no end recorded; SUM over no rows is null";
    EXPECT_EQ(t.ctx().lastDCSyncId, 3);
    EXPECT_TRUE(t.prompter().messages.isEmpty());
    EXPECT_TRUE(s.readCompletely()) << "a null is a value read, not a hole";
}

TEST_F(StatusSummaryTestSqlite, PartsThatCannotBeReadAreNamedWithTheDriversCodeAndText)
{
    db.addDcRun(3, false, now().addSecs(-60), now());
    db.addGcRun(4, false, now().addSecs(-60), now());
    t.sql(QStringLiteral("DROP TABLE SyncHistoryObject"));
    t.sql(QStringLiteral("UPDATE SyncHistoryGC SET IsActive = 'maybe'"));
    const StatusSnapshot s = StatusSummary(t.ctx()).PopulateDCGCStatus();
    EXPECT_FALSE(s.readCompletely());
    QStringList parts;
    for (const ReadFailure& f : s.failures)
        parts.append(f.part);
    EXPECT_EQ(parts, (QStringList{"dc.objectTotal", "gc.IsActive", "gc.objectTotal"}));
    EXPECT_EQ(s.failures[0].error.number, 1);
    EXPECT_TRUE(s.failures[0].error.description.contains(QStringLiteral("no such table: SyncHistoryObject")));
    EXPECT_EQ(s.failures[1].error.number, 13);
    EXPECT_EQ(t.prompter().messages.size(), 3) << "each failure is still reported as before";
    EXPECT_EQ(s.dc.state, QStringLiteral("Idle")) << "what could be read is still shown";
    EXPECT_FALSE(s.dc.unknown) << "a missing object total leaves the state known";
    EXPECT_TRUE(s.gc.unknown) << "an IsActive that is no bit leaves it unknown";
}

// A side whose latest run could not be read has no state: neither the design's "Idle" nor the last one shown.
TEST_F(StatusSummaryTestSqlite, TheStateIsUnknownWhereTheLatestRunCouldNotBeRead)
{
    db.addDcRun(3, false, now().addSecs(-60), now());
    db.addGcRun(4, true, now().addSecs(-60));
    t.sql(QStringLiteral("ALTER TABLE SyncHistoryDC RENAME TO Hidden"));
    const StatusSnapshot s = StatusSummary(t.ctx()).PopulateDCGCStatus();
    EXPECT_TRUE(s.dc.unknown);
    EXPECT_FALSE(s.dc.state.has_value());
    EXPECT_FALSE(s.gc.unknown);
    EXPECT_EQ(s.gc.state, QStringLiteral("In progress"));
}

TEST_P(StatusSummaryTest, TraceLinesOnlyWithTraceOn)
{
    StatusSummary(t.ctx()).PopulateDCGCStatus();
    EXPECT_FALSE(t.logLines().join('\n').contains(QStringLiteral("PopulateDCGCStatus")));
    t.ctx().traceSetting = 1;
    StatusSummary(t.ctx()).PopulateDCGCStatus();
    const QStringList lines = t.logLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[lines.size() - 2].endsWith(QStringLiteral(": Entering PopulateDCGCStatus of Form frmMain")));
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral(": Exiting  PopulateDCGCStatus of Form frmMain")));
}

TEST_F(StatusSummaryTestSqlite, DatabaseFailureGoesToMessageBoxThenLog)
{
    t.ctx().connectionString = QStringLiteral("sqlite:") + t.dir() + QStringLiteral("/missing.sqlite");
    const StatusSnapshot s = StatusSummary(t.ctx()).PopulateDCGCStatus();
    ASSERT_EQ(s.failures.size(), 1);
    EXPECT_EQ(s.failures.first().part, QStringLiteral("database"));
    EXPECT_TRUE(s.dc.unknown);
    EXPECT_TRUE(s.gc.unknown);
    const QString text = "(error):-2147467259 (The database file " + t.dir() +
                         "/missing.sqlite does not exist) in procedure PopulateDCGCStatus of Form frmMain";
    EXPECT_EQ(t.prompter().messages, QStringList{text});
    EXPECT_TRUE(t.logLines().last().endsWith(": " + text));
}

// The reading alone, as the Status page runs it on another thread: nothing shown, logged or set; the failures
// are kept for finish(), which reports them as the one-step refresh does.
TEST_F(StatusSummaryTestSqlite, ReadingAloneTellsNobodyAndFinishReports)
{
    t.ctx().traceSetting = 1;
    t.ctx().lastDCSyncId = 77;
    db.addDcRun(5, false, now().addSecs(-60), now());
    const QStringList before = t.logLines();
    DatabaseSession session;
    const StatusSnapshot s = StatusSummary::read(session.open(t.ctx().connectionString, Database::Access::ReadOnly), now());
    EXPECT_EQ(s.dc.syncId, 5);
    EXPECT_TRUE(s.dc.idRead);
    EXPECT_EQ(t.ctx().lastDCSyncId, 77);
    EXPECT_EQ(t.logLines(), before);

    const StatusSnapshot missing = StatusSummary::read(
        session.open(QStringLiteral("sqlite:") + t.dir() + QStringLiteral("/missing.sqlite"), Database::Access::ReadOnly),
        now());
    ASSERT_EQ(missing.failures.size(), 1);
    EXPECT_TRUE(t.prompter().messages.isEmpty());
    EXPECT_EQ(t.logLines(), before);
    StatusSummary(t.ctx()).finish(missing);
    EXPECT_EQ(t.prompter().messages,
              QStringList{"(error):-2147467259 (The database file " + t.dir() +
                          "/missing.sqlite does not exist) in procedure PopulateDCGCStatus of Form frmMain"});
    EXPECT_EQ(t.ctx().lastDCSyncId, 77) << "no id was read";
    EXPECT_TRUE(t.logLines().last().endsWith(QStringLiteral(": Exiting  PopulateDCGCStatus of Form frmMain")));
}

TEST_P(StatusSummaryTest, FinishedRunCountIgnoresRunningRuns)
{
    EXPECT_EQ(StatusSummary::finishedRunCount(t.ctx(), SyncSide::GC).valueOr(-1), 0);
    db.addDcRun(1, false, now().addSecs(-100), now());
    db.addDcRun(2, true, now());
    EXPECT_EQ(StatusSummary::finishedRunCount(t.ctx(), SyncSide::DC).valueOr(-1), 1);
    t.ctx().connectionString = QStringLiteral("sqlite:/nonexistent/x.sqlite");
    const Result<qint64> unread = StatusSummary::finishedRunCount(t.ctx(), SyncSide::DC);
    EXPECT_FALSE(unread.ok());
    EXPECT_TRUE(unread.error().isError());
}

TEST_P(StatusSummaryTest, RunAgeUsesNewestFinishedRunAndThreeIntervalsByDefault)
{
    FwError err;
    const std::unique_ptr<Database> open = test::must(openForSetUp(t.ctx().connectionString));
    ASSERT_TRUE(open);
    auto none = RunAgeCheck::check(*open, SyncSide::DC, now(), std::nullopt);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->hasFinishedRun);
    EXPECT_FALSE(none->fresh);

    db.addDcRun(1, false, now().addSecs(-4000), now().addSecs(-3000), 500, 15); // 50 min ago
    db.addDcRun(2, false, now().addSecs(-2000), now().addSecs(-40 * 60), 500, 15);
    db.addDcRun(3, true, now().addSecs(-10));
    auto def = RunAgeCheck::check(*open, SyncSide::DC, now(), std::nullopt);
    ASSERT_TRUE(def);
    EXPECT_EQ(def->syncId, 2);
    EXPECT_EQ(def->maxAgeMinutes, 45);
    EXPECT_EQ(def->ageSeconds, 40 * 60);
    EXPECT_TRUE(def->fresh);
    auto tight = RunAgeCheck::check(*open, SyncSide::DC, now(), 40);
    ASSERT_TRUE(tight);
    EXPECT_FALSE(tight->fresh) << "exactly the limit is not younger than it";

    // An interval beyond an int is not cut to a small one (4294967306 would read as 10). SQL Server's int column
    // cannot hold such a value; SQLite's can.
    if (GetParam() == test::Engine::Sqlite) {
        t.sql(QStringLiteral("UPDATE SyncHistoryDC SET SyncInterval = 4294967306 WHERE SyncId = 2"));
        const Result<RunAge> huge = RunAgeCheck::check(*open, SyncSide::DC, now(), std::nullopt);
        EXPECT_FALSE(huge.ok());
        EXPECT_EQ(huge.error().number, 6);
    }
}

// The refresh must not slow down as the history grows: every statement it runs is a keyed search.
TEST_F(StatusSummaryTestSqlite, RefreshStatementsSearchByKeyInsteadOfScanning)
{
    const std::unique_ptr<Database> open = test::must(openForSetUp(t.ctx().connectionString));
    ASSERT_TRUE(open);
    for (SyncSide side : {SyncSide::DC, SyncSide::GC}) {
        for (const QString& sql : {StatusSummary::latestRunSql(side), StatusSummary::objectTotalSql(side)}) {
            Result<QSqlQuery> q = open->run(QStringLiteral("EXPLAIN QUERY PLAN ") + sql,
                                            sql.contains('?') ? QVariantList{1} : QVariantList{});
            ASSERT_TRUE(q) << q.error().description.toStdString();
            QStringList plan;
            while (q->next())
                plan.append(q->value(3).toString());
            ASSERT_FALSE(plan.isEmpty());
            for (const QString& step : plan)
                EXPECT_FALSE(step.startsWith(QStringLiteral("SCAN"))) << sql.toStdString() << ": " << step.toStdString();
            if (sql.contains(QStringLiteral("SyncHistoryObject"))) {
                EXPECT_TRUE(plan.join(' ').contains(QStringLiteral("ix_SyncHistoryObject_SyncId_Domain")))
                    << plan.join(" | ").toStdString();
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, StatusSummaryTest, test::kEngines, test::engineName);
