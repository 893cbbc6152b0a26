#include "MonitorTestDb.h"

#include "monitor/FleetState.h"
#include "monitor/MetricsText.h"
#include "monitor/SyncCheck.h"

#include <gtest/gtest.h>

#include <QTimeZone>

using namespace fw;
using namespace fw::test;

TEST(MetricsText, LabelValuesAndHelpAreEscapedAsTheFormatRequires)
{
    ExpositionWriter w;
    w.family("x_info", "line one\nback\\slash \"quoted\"");
    w.sample("x_info", {{"domain", "a\"b\\c\nd"}, {"current_dc", ""}}, 1);
    w.sample("x_seconds", 0.25);
    w.sample("x_seconds", 1733580000);
    EXPECT_EQ(w.text().toStdString(), "# HELP x_info line one\\nback\\\\slash \"quoted\"\n"
                                      "# TYPE x_info gauge\n"
                                      "x_info{domain=\"a\\\"b\\\\c\\nd\",current_dc=\"\"} 1\n"
                                      "x_seconds 0.25\n"
                                      "x_seconds 1733580000\n");
}

TEST(MetricsText, AStateNotReadCompletelyGivesOnlyUpZeroAndTheScrapeDuration)
{
    FleetState s;
    s.failures = {"database"};
    s.domains.append({"corp.example.com", "dc1", true, "{A}"});
    EXPECT_EQ(metricsText(s, {"1.2.3", "0123abc"}, 5.5).toStdString(),
              "# HELP ferrowind_up 1 when the Velmora database was read completely, else 0.\n"
              "# TYPE ferrowind_up gauge\n"
              "ferrowind_up 0\n"
              "# HELP ferrowind_up_failure While ferrowind_up is 0: the part that could not be read (value 1).\n"
              "# TYPE ferrowind_up_failure gauge\n"
              "ferrowind_up_failure{part=\"database\"} 1\n"
              "# HELP ferrowind_scrape_duration_seconds Time taken to read the state for this page.\n"
              "# TYPE ferrowind_scrape_duration_seconds gauge\n"
              "ferrowind_scrape_duration_seconds 5.5\n");
}

class FleetStateTest : public MonitorEngineTest {
protected:
    void SetUp() override
    {
        MonitorEngineTest::SetUp();
        if (IsSkipped())
            return;
        t.sql("INSERT INTO Configuration (NodeID, FullNodeName, NodeValue) VALUES (1, ?, ?)",
              {"System.DirectoryConnectors.ActiveDirectory.DSGC.ReconnectEnabled", "0"});
        db.addDomain("corp.example.com", "dc1.corp.example.com", "{A}");
        db.addDomain("odd\"na\\me", QString(), "{B}");
        t.sql("UPDATE ADDomain SET ReconnectEnabled = 0 WHERE AdDomainObjectID = '{B}'");
    }
    static qint64 epoch(const QDateTime& wall) { return QDateTime(wall.date(), wall.time(), Qt::LocalTime).toSecsSinceEpoch(); }
};

TEST_P(FleetStateTest, ReadsTheNewestFinishedRunOfEachSideAndTheSettings)
{
    db.addDcRun(7, false, now().addSecs(-4000), now().addSecs(-3700), 500, 20);
    db.addDcRun(8, true, now().addSecs(-60)); // running: the finished values come from run 7
    db.addObject(7, kCorp, false, "User", false, 40, 1, now());
    db.addObject(7, "GC", false, "User", false, 1000, 1, now()); // a GC row never counts for the DC side
    db.addObject(7, kCorp, false, "Group", true, 2, 1, now());
    db.addGcRun(3, false, now().addSecs(-200), now().addSecs(-100), 500, 15);

    const FleetState s = readFleetState(t.ctx());
    ASSERT_TRUE(s.complete) << s.failures.join(", ").toStdString();
    EXPECT_FALSE(s.gc.inProgress);
    EXPECT_EQ(s.dc.finishedSyncId, 7);
    EXPECT_EQ(s.dc.lastDurationSeconds, 300);
    EXPECT_EQ(s.dc.lastObjects, 42);
    EXPECT_EQ(s.dc.ageSeconds, 3700);
    EXPECT_EQ(s.gc.lastObjects, 0) << "a finished run without object rows synchronised nothing";
    ASSERT_EQ(s.domains.size(), 2);

    const QString page = metricsText(s, {"1.0.0", "0123abc"}, 0.001);
    EXPECT_TRUE(page.contains(
        QStringLiteral("ferrowind_sync_last_finished_timestamp_seconds{side=\"dc\"} %1\n").arg(epoch(now().addSecs(-3700)))));
    EXPECT_TRUE(page.contains("ferrowind_sync_interval_seconds{side=\"dc\"} 1200\n"));
    EXPECT_TRUE(page.contains("ferrowind_sync_in_progress{side=\"dc\"} 1\n"));
    EXPECT_TRUE(page.contains("ferrowind_domain_reconnect_enabled{domain=\"odd\\\"na\\\\me\",domain_id=\"{B}\"} 0\n"));
    EXPECT_TRUE(page.contains(
        "ferrowind_domain_info{domain=\"corp.example.com\",domain_id=\"{A}\",current_dc=\"dc1.corp.example.com\"} 1\n"));
    EXPECT_TRUE(page.contains("ferrowind_gc_reconnect_enabled 0\n"));
    EXPECT_TRUE(page.contains("ferrowind_up 1\n"));
    EXPECT_TRUE(page.contains("\nferrowind_build_info{version=\"1.0.0\",revision=\"0123abc\",velmora_version=\""))
        << page.toStdString();
    EXPECT_FALSE(page.contains("ferrowind_dc_reachable"));

    const QString probed = metricsText(s, {"1.0.0", "0123abc"}, 0.001,
                                       QList<DcReachability>{{"corp.example.com", true, "{A}"}, {"odd\"na\\me", false, "{B}"}});
    EXPECT_TRUE(probed.contains("# HELP ferrowind_dc_reachable 1 when a domain controller of the domain was located.\n"
                                "# TYPE ferrowind_dc_reachable gauge\n"
                                "ferrowind_dc_reachable{domain=\"corp.example.com\",domain_id=\"{A}\"} 1\n"
                                "ferrowind_dc_reachable{domain=\"odd\\\"na\\\\me\",domain_id=\"{B}\"} 0\n"))
        << probed.toStdString();
}

TEST_P(FleetStateTest, AMissingGcNodeOrDatabaseIsNoCompleteReading)
{
    t.sql("DELETE FROM Configuration");
    FleetState s = readFleetState(t.ctx());
    EXPECT_FALSE(s.complete);
    EXPECT_EQ(s.failures, QStringList{"gc.ReconnectEnabled"});

    t.ctx().connectionString = "sqlite:" + t.dir() + "/gone.sqlite";
    s = readFleetState(t.ctx());
    EXPECT_FALSE(s.complete);
    EXPECT_TRUE(s.failures.contains("database"));
}

TEST(SyncCheck, VerdictsFollowTheIntervalOrTheGivenLimits)
{
    FleetState s;
    s.complete = true;
    for (FleetSide* f : {&s.dc, &s.gc}) {
        f->hasFinishedRun = true;
        f->syncIntervalMinutes = 10;
        f->ageSeconds = 5 * 60;
    }
    SyncCheckResult r = SyncCheck::evaluate(s, std::nullopt, std::nullopt);
    EXPECT_EQ(r.status, SyncCheckResult::Ok);
    EXPECT_EQ(r.line.toStdString(), "FERROWIND OK - DC last finished 5 min ago, GC last finished 5 min ago | "
                                    "dc_age=300s;1800;3600;0 gc_age=300s;1800;3600;0");

    // As the perfdata says: warn=1800 alerts above 1800 s, not at it.
    for (const auto& [age, status] : {std::pair{1800, SyncCheckResult::Ok},
                                      {1801, SyncCheckResult::Warning},
                                      {3600, SyncCheckResult::Warning},
                                      {3601, SyncCheckResult::Critical}}) {
        s.gc.ageSeconds = age;
        EXPECT_EQ(SyncCheck::evaluate(s, std::nullopt, std::nullopt).status, status) << age;
    }
    s.gc.ageSeconds = 31 * 60;
    r = SyncCheck::evaluate(s, std::nullopt, std::nullopt);
    EXPECT_TRUE(r.line.startsWith("FERROWIND WARNING - DC last finished 5 min ago, GC last finished 31 min ago | "))
        << r.line.toStdString();
    s.gc.ageSeconds = 60 * 60 + 1;
    r = SyncCheck::evaluate(s, std::nullopt, std::nullopt);
    EXPECT_TRUE(r.line.startsWith("FERROWIND CRITICAL - ")) << r.line.toStdString();
    EXPECT_EQ(SyncCheck::evaluate(s, 100, 200).status, SyncCheckResult::Ok);

    s.dc.hasFinishedRun = false;
    r = SyncCheck::evaluate(s, 100, 200);
    EXPECT_EQ(r.status, SyncCheckResult::Unknown);
    EXPECT_EQ(r.line.toStdString(),
              "FERROWIND UNKNOWN - DC has no finished run, GC last finished 60 min ago | gc_age=3601s;6000;12000;0");
    EXPECT_EQ(SyncCheck::evaluate(s, 10, 20).status, SyncCheckResult::Critical) << "a stale side outranks an unknown one";

    s.dc.hasFinishedRun = true;
    s.dc.syncIntervalMinutes = 0;
    EXPECT_EQ(SyncCheck::evaluate(s, std::nullopt, 200).status, SyncCheckResult::Unknown)
        << "no interval to take the default limit from";

    s.dc.syncIntervalMinutes = 10;
    s.dc.finishedSyncId = 4;
    s.dc.ageSeconds = -300; // ended in the future: no age to judge by
    r = SyncCheck::evaluate(s, 100, 200);
    EXPECT_EQ(r.status, SyncCheckResult::Unknown);
    EXPECT_TRUE(r.line.startsWith("FERROWIND UNKNOWN - DC run 4 ended 5 min in the future (clock or time zone out of step), "))
        << r.line.toStdString();

    FleetState failed;
    failed.failures = {"dc.latestFinishedRun"};
    failed.reason = "database is locked\nUnable to fetch row";
    EXPECT_EQ(SyncCheck::evaluate(failed, std::nullopt, std::nullopt).line.toStdString(),
              "FERROWIND UNKNOWN - the database could not be read completely (dc.latestFinishedRun: database is locked "
              "Unable to fetch row)");
}

// One limit given, the other following each side's interval (DC 10, GC 20 minutes here): where the two cross, the
// check is a usage error naming the side; a side without a finished run has no default to cross.
TEST(SyncCheck, AGivenLimitCrossingTheOthersDefaultIsAUsageError)
{
    FleetState s;
    s.complete = true;
    s.dc.hasFinishedRun = s.gc.hasFinishedRun = true;
    s.dc.syncIntervalMinutes = 10;
    s.gc.syncIntervalMinutes = 20;
    s.dc.ageSeconds = s.gc.ageSeconds = 60;
    const struct {
        std::optional<qint64> warning, critical;
        const char* line; // empty: no usage error
    } cases[] = {
        {std::nullopt, 5,
         "FERROWIND UNKNOWN - the default --warning of DC (30, three sync intervals) is above --critical (5), the default "
         "--warning of GC (60, three sync intervals) is above --critical (5)"},
        {std::nullopt, 30, "FERROWIND UNKNOWN - the default --warning of GC (60, three sync intervals) is above --critical (30)"},
        {std::nullopt, 60, ""},
        {61, std::nullopt, "FERROWIND UNKNOWN - --warning (61) is above the default --critical of DC (60, six sync intervals)"},
        {60, std::nullopt, ""},
        {121, std::nullopt,
         "FERROWIND UNKNOWN - --warning (121) is above the default --critical of DC (60, six sync intervals), --warning "
         "(121) is above the default --critical of GC (120, six sync intervals)"},
    };
    for (const auto& c : cases) {
        const SyncCheckResult r = SyncCheck::evaluate(s, c.warning, c.critical);
        if (*c.line) {
            EXPECT_EQ(r.status, SyncCheckResult::Unknown);
            EXPECT_EQ(r.line.toStdString(), c.line);
        } else {
            EXPECT_EQ(r.status, SyncCheckResult::Ok) << r.line.toStdString();
        }
    }
    s.gc.hasFinishedRun = false;
    EXPECT_TRUE(SyncCheck::evaluate(s, std::nullopt, 30)
                    .line.startsWith("FERROWIND UNKNOWN - DC last finished 60 s ago, GC "
                                     "has no finished run"));
}

// The clock shows Berlin time on the night the clocks go back: a run that ended 74 minutes ago, in the first
// pass of the repeated hour, is 74 minutes old, not 14.
TEST_P(FleetStateTest, AgesAcrossTheAutumnChangeAreRealSeconds)
{
    const QDateTime checkedAt = QDateTime(QDate(2026, 10, 25), QTime(1, 30), Qt::UTC).toTimeZone(QTimeZone("Europe/Berlin"));
    ASSERT_EQ(checkedAt.time(), QTime(2, 30));
    t.clock() = FixedClock(checkedAt);
    db.addDcRun(7, false, QDateTime(QDate(2026, 10, 25), QTime(2, 10)), "2026-10-25 02:16:00", 500, 10);
    db.addGcRun(3, false, QDateTime(QDate(2026, 10, 25), QTime(2, 20)), "2026-10-25 02:25:00", 500, 10);
    const FleetState s = readFleetState(t.ctx());
    ASSERT_TRUE(s.complete) << s.failures.join(", ").toStdString();
    EXPECT_EQ(s.dc.ageSeconds, 74 * 60);
    EXPECT_EQ(s.dc.lastFinishedEpoch, checkedAt.toSecsSinceEpoch() - 74 * 60);
    EXPECT_EQ(SyncCheck::evaluate(s, 30, 60).status, SyncCheckResult::Critical);
}

INSTANTIATE_TEST_SUITE_P(Engines, FleetStateTest, test::kEngines, test::engineName);
