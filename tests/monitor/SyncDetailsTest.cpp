#include "MonitorTestDb.h"

#include "log/DateFormat.h"
#include "log/FwError.h"
#include "monitor/DcSyncOverview.h"
#include "monitor/StatusSummary.h"
#include "monitor/SyncObjectsMonitor.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace fw;
using namespace fw::test;

namespace {

qsizetype countLinesEnding(const QStringList& lines, const QString& tail)
{
    return std::count_if(lines.cbegin(), lines.cend(), [&](const QString& l) { return l.endsWith(tail); });
}

const QString kZeroRow = QStringLiteral("0 | 00:00:00 | 0000-00-00 00:00:00");
const QString kEmptyRow = QStringLiteral(" |  | ");

// The overview's rows, each "domain | controller | status | last synched | duration | objects | object id".
QStringList describe(const QList<OverviewRow>& rows)
{
    QStringList out;
    for (const OverviewRow& r : rows)
        out.append(QStringList{r.domain, r.controller, r.status, r.lastSynched, r.duration, r.objects, r.objectId}.join(" | "));
    return out;
}

// The objects grid, one "count | time | last synchronised" line per row.
QStringList cells(const SyncObjectsMonitor& m)
{
    using enum ObjectColumn;
    QStringList rows;
    for (int r = 1; r <= m.rowSpecs().size(); ++r)
        rows.append(m.cell(r, ObjectsSynchronized) + " | " + m.cell(r, ElapsedTime) + " | " +
                    m.cell(r, LastSynchronizedDateTime));
    return rows;
}

// The fields above the grid, "IsActive | USN lag | latency"; "-" while a field keeps its design-time text.
QString fields(const SyncObjectsMonitor& m)
{
    return QStringList{m.isActiveText().value_or("-"), m.usnLagText().value_or("-"), m.latencyText().value_or("-")}.join(" | ");
}

using DcOverviewTest = MonitorEngineTest;
using ObjectsTest = MonitorEngineTest;
} // namespace

TEST_P(DcOverviewTest, PerDomainStatesAndIdenticalTotalsOnEveryRow)
{
    addDomains(3);
    db.addDcRun(7, true, now().addSecs(-200));
    db.addDcDomainRun(7, kCorp, true);
    db.addDcDomainRun(7, kSales, false);
    db.addObject(7, kCorp, false, QStringLiteral("MailUsers"), false, 10, 100, now().addSecs(-50));
    db.addObject(7, kSales, false, QStringLiteral("Locations"), true, 5, 25, now().addSecs(-20));
    db.addObject(7, QStringLiteral("GC"), false, QStringLiteral("Servers"), false, 999, 999, now()); // a GC run's rows
    t.ctx().lastDCSyncId = 7;

    DcSyncOverview o(t.ctx());
    ASSERT_EQ(o.Form_Load(), DcSyncOverview::Outcome::Filled);
    EXPECT_EQ(o.caption(), "DC Synchronization Status - main (SyncId 7)");
    const QString totals = " | " + generalDate(now().addSecs(-20)) + " | 00:02:05 | 15 | ";
    EXPECT_EQ(describe(o.rows()),
              (QStringList{kCorp + " | dc01.corp | In progress" + totals + "{1}",
                           kEmea + " | dc01.emea | No data" + totals + "{3}", kSales + " | dc01.sales | Idle" + totals + "{2}"}));
    EXPECT_TRUE(o.runActive());
    EXPECT_TRUE(t.prompter().messages.isEmpty());

    const QStringList lines = t.logLines();
    EXPECT_EQ(countLinesEnding(lines, ": Form_Load call PopulateDCStatus"), 1);
    EXPECT_EQ(countLinesEnding(lines, ": Entering PopulateDCStatus of Form frmDCSynchronizationMain"), 1);
    EXPECT_EQ(countLinesEnding(lines, ": Entering GetDCStatus of Form frmDCSynchronizationMain"), 3);
    EXPECT_EQ(countLinesEnding(lines, ": Exiting GetDCStatus of Form frmDCSynchronizationMain"), 3);
    EXPECT_TRUE(lines.last().endsWith(": Exiting PopulateDCStatus of Form frmDCSynchronizationMain"));
}

TEST_P(DcOverviewTest, RunFinishingWhileOpenShowsFinalTotalsThenStopsOnNextTick)
{
    addDomains(3);
    db.addDcRun(5, true, now().addSecs(-100));
    db.addDcDomainRun(5, kCorp, true);
    t.ctx().lastDCSyncId = 5;
    DcSyncOverview o(t.ctx());
    o.Form_Load();
    EXPECT_EQ(describe(o.rows()).first(), kCorp + " | dc01.corp | In progress |  | 00:00:00 |  | {1}")
        << "no object rows yet: totals are null";

    t.sql(QStringLiteral("UPDATE SyncHistoryDC SET IsActive = 0, syncEnd = ? WHERE SyncId = 5"), {MonitorTestDb::ts(now())});
    t.sql(QStringLiteral("UPDATE SyncHistoryDCDomain SET IsActive = 0"));
    db.addObject(5, kCorp, false, QStringLiteral("MailUsers"), false, 3, 61, now());
    EXPECT_EQ(o.tmrRefresh_Timer(), DcSyncOverview::Outcome::Filled);
    EXPECT_FALSE(o.runActive());
    EXPECT_TRUE(o.timerEnabled()) << "the refresh that reads the run finished still fills";
    EXPECT_EQ(describe(o.rows()).first(), kCorp + " | dc01.corp | Idle | " + generalDate(now()) + " | 00:01:01 | 3 | {1}");

    db.addObject(5, kCorp, false, QStringLiteral("Locations"), false, 50, 50, now());
    EXPECT_EQ(o.tmrRefresh_Timer(), DcSyncOverview::Outcome::Stopped);
    EXPECT_FALSE(o.timerEnabled());
    EXPECT_EQ(o.rows()[0].objects, "3") << "the grid stays as shown";
}

TEST_P(DcOverviewTest, EmptyDomainListShowsMessageEveryRefreshAndLogsNoExit)
{
    db.addDcRun(1, true, now());
    t.ctx().lastDCSyncId = 1;
    DcSyncOverview o(t.ctx());
    EXPECT_EQ(o.Form_Load(), DcSyncOverview::Outcome::NoDomains);
    EXPECT_EQ(o.tmrRefresh_Timer(), DcSyncOverview::Outcome::NoDomains);
    EXPECT_EQ(t.prompter().messages, QStringList(2, "Could not find ADDomain information in database."));
    EXPECT_TRUE(o.rows().isEmpty());
    EXPECT_FALSE(t.logLines().join('\n').contains("Exiting PopulateDCStatus"));
}

TEST_P(DcOverviewTest, MissingRunIsReportedEveryRefreshAndViewObjectsLogsTheDomain)
{
    addDomains(3);
    t.ctx().lastDCSyncId = -1;
    DcSyncOverview o(t.ctx());
    o.Form_Load();
    ASSERT_EQ(t.prompter().messages.size(), 1);
    const QString box = t.prompter().messages.first();
    EXPECT_TRUE(box.startsWith("(error):3021 ("));
    EXPECT_TRUE(box.endsWith(") in procedure PopulateDCStatus of Form frmDCSynchronizationMain"));
    EXPECT_EQ(countLinesEnding(t.logLines(), ": " + box + " (line#=0)"), 1);
    EXPECT_TRUE(o.runActive()) << "the flag keeps its value";
    ASSERT_EQ(o.rows().size(), 3);
    for (const OverviewRow& r : o.rows())
        EXPECT_EQ(r.status, "No data");
    o.tmrRefresh_Timer();
    EXPECT_EQ(t.prompter().messages.size(), 2) << "reported again on every refresh";

    o.viewObjects(kSales);
    EXPECT_EQ(o.lastDomain(), kSales);
    EXPECT_TRUE(
        t.logLines().last().endsWith(": cmdDCSynchronizationMainViewObjects_Click(): SyncId = -1, Domain = sales.example.com"));
}

// What a refresh could not read is named, once per part, with the driver's code and text; a refresh that read
// everything names nothing, and a later complete refresh forgets the earlier holes.
TEST_P(DcOverviewTest, PartsNotReadAreNamedOncePerRefresh)
{
    addDomains(3);
    db.addDcRun(7, true, now().addSecs(-200));
    db.addDcDomainRun(7, kCorp, true);
    t.ctx().lastDCSyncId = 7;
    DcSyncOverview o(t.ctx());
    ASSERT_EQ(o.Form_Load(), DcSyncOverview::Outcome::Filled);
    EXPECT_TRUE(o.failures().isEmpty());

    t.sql(renameTableSql(engine(), "SyncHistoryObject", "Hidden"));
    t.sql(renameTableSql(engine(), "SyncHistoryDCDomain", "HiddenDomains"));
    ASSERT_EQ(o.tmrRefresh_Timer(), DcSyncOverview::Outcome::Filled);
    ASSERT_EQ(o.failures().size(), 2);
    EXPECT_EQ(o.failures()[0].part, "dc.domainStatus") << "three domains, one part";
    EXPECT_TRUE(isMissingTableError(engine(), o.failures()[0].error, "SyncHistoryDCDomain"));
    EXPECT_EQ(o.failures()[1].part, "dc.overview");
    EXPECT_TRUE(isMissingTableError(engine(), o.failures()[1].error, "SyncHistoryObject"));

    t.sql(renameTableSql(engine(), "Hidden", "SyncHistoryObject"));
    t.sql(renameTableSql(engine(), "HiddenDomains", "SyncHistoryDCDomain"));
    o.tmrRefresh_Timer();
    EXPECT_TRUE(o.failures().isEmpty());
}

TEST_P(ObjectsTest, FinishedRunShowsStoredRowAndZeroTextsElsewhereThenStops)
{
    db.addDcRun(3, false, now().addSecs(-500), now().addSecs(-400), 500, 15);
    db.addDcDomainRun(3, kCorp, false, 1000);
    db.addObject(3, kCorp, false, QStringLiteral("MailUsers"), false, 17, 42, now().addSecs(-410));
    t.ctx().lastDCSyncId = 3;
    SyncObjectsMonitor m(t.ctx(), SyncSide::DC, kCorp);
    EXPECT_EQ(m.caption(), "DC Synchronization Status - corp.example.com (SyncId 3)");
    m.Form_Load();
    EXPECT_EQ(fields(m), "No | 1000 | 00:30:00");
    EXPECT_EQ(cells(m), QStringList{"17 | 00:00:42 | " + MonitorTestDb::ts(now().addSecs(-410))} + QStringList(5, kZeroRow));
    EXPECT_TRUE(m.timerEnabled());
    m.tmrRefresh_Timer();
    EXPECT_FALSE(m.timerEnabled()) << "the tick after the finished run was shown stops the timer";
    EXPECT_EQ(m.completedFills(), 1);

    const QStringList lines = t.logLines();
    EXPECT_EQ(countLinesEnding(lines, ": Form_Load call PopulateDCSyncObjects"), 1);
    EXPECT_EQ(countLinesEnding(lines, ": Entering PopulateDCSyncObjects of Form frmDCSynchronization"), 2);
    EXPECT_EQ(countLinesEnding(lines, ": Exiting PopulateDCSyncObjects of Form frmDCSynchronization"), 2);
    EXPECT_EQ(countLinesEnding(lines, "tmrRefresh_Timer call PopulateDCSyncObjects"), 0) << "trace is off";
}

TEST_P(ObjectsTest, ActiveTypeShowsTimeSinceStartLessFinishedTypesAndEmptyNulls)
{
    db.addDcRun(4, true, now().addSecs(-300), QVariant(), 500, 15);
    db.addDcDomainRun(4, kCorp, true, 10);
    db.addObject(4, kCorp, true, QStringLiteral("ScopeDLs"), false, QVariant(), QVariant(), QVariant());
    db.addObject(4, kCorp, false, QStringLiteral("MailUsers"), false, 80, 100, now().addSecs(-200));
    db.addObject(4, kCorp, false, QStringLiteral("MailUsers"), true, 2, 20, now().addSecs(-180));
    db.addObject(4, kSales, false, QStringLiteral("Locations"), false, 9, 9, now()); // another domain
    t.ctx().lastDCSyncId = 4;
    SyncObjectsMonitor m(t.ctx(), SyncSide::DC, kCorp);
    m.Form_Load();
    EXPECT_EQ(fields(m), "Yes | 10 | 00:00:18");
    const QStringList finished{"80 | 00:01:40 | " + MonitorTestDb::ts(now().addSecs(-200)),
                               "2 | 00:00:20 | " + MonitorTestDb::ts(now().addSecs(-180))};
    EXPECT_EQ(cells(m), finished + QStringList{" | 00:03:00 | "} + QStringList(3, kEmptyRow))
        << "the active type: 300 - 120 seconds; rows without data stay empty while the run goes on";

    // The run finishes: rows without data now show the zero texts.
    t.sql(QStringLiteral("UPDATE SyncHistoryDC SET IsActive = 0, syncEnd = ? WHERE SyncId = 4"), {MonitorTestDb::ts(now())});
    t.sql(QStringLiteral("UPDATE SyncHistoryObject SET IsActive = 0, Count = 4, Elasped = 30 WHERE ObjectType = 'ScopeDLs'"));
    t.clock().advanceSecs(5);
    m.tmrRefresh_Timer();
    EXPECT_EQ(fields(m), "No | 10 | 00:00:18");
    EXPECT_EQ(cells(m), finished + QStringList{"4 | 00:00:30 | 0000-00-00 00:00:00"} + QStringList(3, kZeroRow));
    EXPECT_TRUE(t.prompter().messages.isEmpty());
}

TEST_P(ObjectsTest, RunIdsPast32BitsAndAMissingStartShowWithoutErrorsOrANegativeTime)
{
    const qint64 big = 3000000000LL; // past 2^31
    // The server's own table lets a run be recorded before its start; the demo schema does not.
    if (engine() == Engine::Sqlite) {
        t.sql(QStringLiteral("CREATE TABLE DcRuns AS SELECT * FROM SyncHistoryDC"));
        t.sql(QStringLiteral("DROP TABLE SyncHistoryDC"));
        t.sql(QStringLiteral("ALTER TABLE DcRuns RENAME TO SyncHistoryDC"));
    } else {
        // Babelfish cannot change a column's nullability; the table is still empty.
        t.sql(QStringLiteral("DROP TABLE SyncHistoryDC"));
        t.sql(QStringLiteral(
            "CREATE TABLE SyncHistoryDC (SyncId bigint NOT NULL PRIMARY KEY, IsActive bit NOT NULL, SyncStart datetime "
            "NULL, syncEnd datetime NULL, USNIncrement int NOT NULL, SyncInterval int NOT NULL)"));
    }
    db.addDcRun(big, true, now().addSecs(-120), QVariant(), 500, 15);
    t.sql(QStringLiteral("UPDATE SyncHistoryDC SET SyncStart = NULL"));
    db.addDcDomainRun(big, kCorp, true, 10);
    db.addObject(big, kCorp, true, QStringLiteral("ScopeDLs"), false, QVariant(), QVariant(), QVariant());
    db.addObject(big, kCorp, false, QStringLiteral("MailUsers"), false, 80, 100, now().addSecs(-60));
    db.addGcRun(big + 1, false, now().addSecs(-600), now().addSecs(-500));

    const StatusSnapshot s = StatusSummary(t.ctx()).PopulateDCGCStatus();
    EXPECT_EQ(t.ctx().lastDCSyncId, big);
    EXPECT_EQ(t.ctx().lastGCSyncId, big + 1);
    EXPECT_EQ(s.dc.objects, QStringLiteral("80"));
    EXPECT_FALSE(s.dc.elapsed) << "no start, no running time";

    SyncObjectsMonitor m(t.ctx(), SyncSide::DC, kCorp);
    EXPECT_EQ(m.caption(), "DC Synchronization Status - corp.example.com (SyncId 3000000000)");
    m.Form_Load();
    EXPECT_EQ(cells(m), QStringList{"80 | 00:01:40 | " + MonitorTestDb::ts(now().addSecs(-60))} + QStringList(5, kEmptyRow))
        << "the running time is missing while the start is";
    SyncObjectsMonitor g(t.ctx(), SyncSide::GC);
    g.Form_Load();
    EXPECT_EQ(g.isActiveText(), QStringLiteral("No"));
    EXPECT_TRUE(t.prompter().messages.isEmpty()) << t.prompter().messages.join('\n').toStdString();
}

TEST_P(ObjectsTest, TypeDifferingOnlyInCaseChangesNoRowButItsTimeCounts)
{
    db.addDcRun(2, true, now().addSecs(-100));
    db.addDcDomainRun(2, kCorp, true);
    db.addObject(2, kCorp, false, QStringLiteral("mailusers"), false, 5, 30, now());
    db.addObject(2, kCorp, true, QStringLiteral("Locations"), true, 1, QVariant(), now());
    t.ctx().lastDCSyncId = 2;
    SyncObjectsMonitor m(t.ctx(), SyncSide::DC, kCorp);
    m.Form_Load();
    EXPECT_EQ(cells(m), QStringList(5, kEmptyRow) + QStringList{"1 | 00:01:10 | " + MonitorTestDb::ts(now())})
        << "100 seconds less the 30 of the unknown type";
}

TEST_P(ObjectsTest, LatencyArithmeticAndItsFailures)
{
    EXPECT_EQ(SyncObjectsMonitor::latencySeconds(1000, 500, 15).valueOr(-1), 1800);
    EXPECT_EQ(SyncObjectsMonitor::latencySeconds(1, 120, 1).valueOr(-1), 0) << "0.5 rounds to even";
    EXPECT_EQ(SyncObjectsMonitor::latencySeconds(3, 120, 1).valueOr(-1), 2) << "1.5 rounds to even";
    EXPECT_EQ(SyncObjectsMonitor::latencySeconds(5, 0, 15).error().number, 11);

    // While running, a zero increment is reported (log first, then the box); the lag is shown, the latency not.
    db.addDcRun(8, true, now(), QVariant(), 0, 15);
    db.addDcDomainRun(8, kCorp, true, 40);
    t.ctx().lastDCSyncId = 8;
    SyncObjectsMonitor m(t.ctx(), SyncSide::DC, kCorp);
    m.Form_Load();
    EXPECT_EQ(fields(m), "Yes | 40 | -");
    ASSERT_EQ(t.prompter().messages.size(), 1);
    EXPECT_EQ(t.prompter().messages[0],
              "(error):11 (Division by zero) in procedure PopulateDCSyncObjects of Form frmDCSynchronization");
    EXPECT_EQ(countLinesEnding(t.logLines(), ": " + t.prompter().messages[0]), 1);

    // A missing domain row is reported, and neither the lag nor the latency is made up from it.
    t.prompter().messages.clear();
    SyncObjectsMonitor missing(t.ctx(), SyncSide::DC, kEmea);
    missing.Form_Load();
    EXPECT_EQ(fields(missing), "Yes | - | -");
    ASSERT_EQ(t.prompter().messages.size(), 1);
    EXPECT_TRUE(t.prompter().messages[0].startsWith("(error):3021 "));
}

TEST_P(ObjectsTest, GcRowsMapMailstoresAndPdlsAndFinishedRunZeroesTheRest)
{
    db.addGcRun(6, false, now().addSecs(-100), now(), 500, 15, 1000);
    db.addObject(6, QStringLiteral("GC"), false, QStringLiteral("Servers"), true, 3, 7, now().addSecs(-50));
    db.addObject(6, QStringLiteral("GC"), false, QStringLiteral("Mailstores"), false, 4, 8, now().addSecs(-40));
    db.addObject(6, QStringLiteral("GC"), false, QStringLiteral("PDLs"), true, 5, 9, now().addSecs(-30));
    db.addObject(6, kCorp, false, QStringLiteral("MailUsers"), false, 99, 99, now()); // a DC run with the same id
    t.ctx().lastGCSyncId = 6;
    SyncObjectsMonitor m(t.ctx(), SyncSide::GC);
    EXPECT_EQ(m.caption(), "GC Synchronization Status (SyncId 6)");
    ASSERT_EQ(m.rowSpecs().size(), 10);
    EXPECT_EQ(m.rowSpecs()[4].caption, "Mail Stores            Modifies");
    EXPECT_EQ(m.rowSpecs()[3].caption, QString(29, ' ') + "Deletes");
    m.Form_Load();
    EXPECT_EQ(fields(m), "No | 1000 | 00:30:00");
    QStringList grid(10, kZeroRow);
    grid[3] = "3 | 00:00:07 | " + MonitorTestDb::ts(now().addSecs(-50));
    grid[4] = "4 | 00:00:08 | " + MonitorTestDb::ts(now().addSecs(-40));
    grid[7] = "5 | 00:00:09 | " + MonitorTestDb::ts(now().addSecs(-30));
    EXPECT_EQ(cells(m), grid);
    EXPECT_EQ(countLinesEnding(t.logLines(), ": Form_Load call PopulateGCSyncObjects"), 1);
    EXPECT_TRUE(t.logLines().last().endsWith(": Exiting PopulateGCSyncObjects of Form frmGCSynchronization"));
}

// A finished run's window skips its reports, yet rows it could not read are still no reading.
TEST_P(ObjectsTest, AFinishedRunsUnreadRowsAreNamedThoughNotReported)
{
    db.addGcRun(9, false, now().addSecs(-600), now().addSecs(-500));
    t.ctx().lastGCSyncId = 9;
    SyncObjectsMonitor read(t.ctx(), SyncSide::GC);
    read.Form_Load();
    EXPECT_TRUE(read.failures().isEmpty());
    t.sql(QStringLiteral("DROP TABLE SyncHistoryObject"));
    SyncObjectsMonitor m(t.ctx(), SyncSide::GC);
    m.Form_Load();
    EXPECT_EQ(cells(m), QStringList(10, kZeroRow)) << "shown as the window shows a finished run";
    EXPECT_TRUE(t.prompter().messages.isEmpty());
    ASSERT_EQ(m.failures().size(), 1);
    EXPECT_EQ(m.failures()[0].part, "gc.objects");
    EXPECT_TRUE(isMissingTableError(engine(), m.failures()[0].error, "SyncHistoryObject"));
}

TEST_P(ObjectsTest, GcIdMinusOneReportsTheFailedReadsOnEveryRefresh)
{
    t.ctx().lastGCSyncId = -1;
    SyncObjectsMonitor m(t.ctx(), SyncSide::GC);
    EXPECT_EQ(m.caption(), "GC Synchronization Status (SyncId -1)");
    m.Form_Load();
    ASSERT_EQ(m.failures().size(), 1);
    EXPECT_EQ(m.failures()[0].part, "gc.objects");
    EXPECT_EQ(m.failures()[0].error.number, 3021);
    EXPECT_EQ(fields(m), "Yes | 0 | 00:00:00");
    EXPECT_EQ(cells(m), QStringList(10, kEmptyRow));
    ASSERT_EQ(t.prompter().messages.size(), 2) << "IsActive and SyncStart";
    const QString box = t.prompter().messages[0];
    EXPECT_TRUE(box.endsWith(") in procedure PopulateGCSyncObjects of Form frmGCSynchronization"));
    EXPECT_EQ(countLinesEnding(t.logLines(), ": " + box + " (line#=0)"), 2);
    m.tmrRefresh_Timer();
    EXPECT_EQ(t.prompter().messages.size(), 4);
    EXPECT_TRUE(m.timerEnabled());
}

INSTANTIATE_TEST_SUITE_P(Engines, DcOverviewTest, test::kEngines, test::engineName);

INSTANTIATE_TEST_SUITE_P(Engines, ObjectsTest, test::kEngines, test::engineName);
