// check-sync as a monitoring system runs it: its status from the database, its usage errors and help, each UNKNOWN.
#include "monitor/FleetEnv.h"

#include "support/CliProcess.h"
#include "support/TestEngine.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace fw;
using fw::test::CliRun;
using fw::test::DatabaseLock;
using fw::test::FleetEnv;

namespace {

class CheckSyncOnEngine : public ::testing::TestWithParam<test::Engine> {
protected:
    void SetUp() override { FW_SKIP_UNLESS_ENGINE(GetParam()); }
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Engines, CheckSyncOnEngine, test::kEngines, test::engineName);

TEST_P(CheckSyncOnEngine, CheckSyncGivesEachStatusFromADatabaseBuiltForIt)
{
    FleetEnv env({}, GetParam());
    env.finishedRuns(5, 5);
    CliRun r = env.cli({"check-sync"});
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("FERROWIND OK - DC last finished 5 min ago, GC last finished 5 min ago | dc_age="))
        << r.out.toStdString();

    env.finishedRuns(5, 35);
    r = env.cli({"check-sync"});
    EXPECT_EQ(r.code, 1) << r.out.toStdString();

    env.finishedRuns(65, 5);
    r = env.cli({"check-sync"});
    EXPECT_EQ(r.code, 2) << r.out.toStdString();
    r = env.cli({"check-sync", "--warning", "100", "--critical", "200"});
    EXPECT_EQ(r.code, 0) << r.out.toStdString();

    env.finishedRuns(5, -1);
    r = env.cli({"check-sync"});
    EXPECT_EQ(r.code, 3) << r.out.toStdString();
    EXPECT_TRUE(r.out.startsWith("FERROWIND UNKNOWN - DC last finished 5 min ago, GC has no finished run | dc_age="));
}

TEST(CheckSyncCli, UnreadableDatabasesAndUsageErrorsAreUnknown)
{
    FleetEnv env;
    env.finishedRuns(5, 5);
    const QString range = "FERROWIND UNKNOWN - --warning and --critical take a whole number of minutes from 1 to 5256000\n";
    const struct {
        QStringList args;
        QString out;
    } usage[] = {
        {{"--warning", "0"}, range},
        {{"--critical", "x"}, range},
        {{"--warning", "200000000000000000"}, range},
        {{"--critical", "5256001"}, range},
        {{"--warning", "-5"}, range},
        {{"--warning", "20", "--critical", "10"}, "FERROWIND UNKNOWN - --warning (20) is above --critical (10)\n"},
        // The limit not given follows the interval (10 minutes here): it must not cross the one given either.
        {{"--critical", "5"},
         "FERROWIND UNKNOWN - the default --warning of DC (30, three sync intervals) is above --critical (5), the default "
         "--warning of GC (30, three sync intervals) is above --critical (5)\n"},
        {{"--warning", "100"},
         "FERROWIND UNKNOWN - --warning (100) is above the default --critical of DC (60, six sync intervals), --warning "
         "(100) is above the default --critical of GC (60, six sync intervals)\n"},
        {{"--bogus"}, "FERROWIND UNKNOWN - usage error: Unknown option 'bogus' (see ferrowind check-sync --help)\n"},
        {{"--bo\ngus"}, "FERROWIND UNKNOWN - usage error: Unknown option 'bo gus' (see ferrowind check-sync --help)\n"},
        {{"--warning"}, "FERROWIND UNKNOWN - usage error: Missing value after '--warning' (see ferrowind check-sync --help)\n"},
        {{"dc"}, "FERROWIND UNKNOWN - usage error: wrong number of arguments (see ferrowind check-sync --help)\n"},
        // The monitoring plugins' short options.
        {{"-w", "20", "-c", "10"}, "FERROWIND UNKNOWN - --warning (20) is above --critical (10)\n"},
        {{"-w0"}, range},
        {{"-t", "0"}, "FERROWIND UNKNOWN - --timeout takes a whole number of seconds from 1 to 3600\n"},
        {{"--timeout", "3601"}, "FERROWIND UNKNOWN - --timeout takes a whole number of seconds from 1 to 3600\n"},
        {{"-x"}, "FERROWIND UNKNOWN - usage error: Unknown option 'x' (see ferrowind check-sync --help)\n"},
    };
    for (const auto& u : usage) {
        const CliRun r = env.cli(QStringList{"check-sync"} + u.args);
        EXPECT_EQ(r.code, 3) << u.args.join(' ').toStdString();
        EXPECT_EQ(r.out.toStdString(), u.out.toStdString());
        EXPECT_EQ(r.err.toStdString(), "") << "a plugin prints its line only";
    }
    EXPECT_EQ(env.cli({"check-sync", "--critical", "30"}).code, 0) << "a limit equal to the other's default";
    EXPECT_EQ(env.cli({"check-sync", "-w", "30", "-c", "60", "-t", "20"}).code, 0);
    EXPECT_EQ(env.cli({"check-sync", "--warning", "60"}).code, 0);
    EXPECT_EQ(env.cli({"check-sync", "--warning", "5256000", "--critical", "5256000"}).code, 0);
    // The check's only output is its line, whatever the logging rules ask for.
    {
        DatabaseLock lock(env.dbPath());
        QProcessEnvironment verbose;
        verbose.insert("QT_LOGGING_RULES", "ferrowind.*=true");
        const CliRun r = fw::test::runCli(FERROWIND_CLI, {"check-sync"}, env.reg(), verbose);
        EXPECT_EQ(r.code, 3) << r.out.toStdString();
        EXPECT_EQ(r.out.toStdString(),
                  "FERROWIND UNKNOWN - the database could not be read completely (dc.latestRun, gc.latestRun: database is "
                  "locked Unable to execute statement)\n");
        EXPECT_EQ(r.err.toStdString(), "");
    }
    // A check that outlasts --timeout says so in its line, as the monitoring plugins do, and ends.
    {
        DatabaseLock lock(env.dbPath());
        const CliRun r = env.cli({"check-sync", "-t", "1"});
        EXPECT_EQ(r.code, 3) << r.out.toStdString();
        EXPECT_EQ(r.out.toStdString(), "FERROWIND UNKNOWN - the check did not finish within 1 second (--timeout)\n");
        EXPECT_EQ(r.err.toStdString(), "");
    }
    const CliRun noRegistry = fw::test::runCli(FERROWIND_CLI, {"check-sync"}, env.dir.filePath("none.reg"));
    EXPECT_EQ(noRegistry.code, 3);
    EXPECT_EQ(noRegistry.out, "FERROWIND UNKNOWN - the registry file " + env.dir.filePath("none.reg") +
                                  " does not exist; set FERROWIND_REGISTRY to the installation's registry file\n");
    EXPECT_EQ(noRegistry.err, "");
    QFile::remove(env.dbPath());
    const CliRun r = env.cli({"check-sync"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out.toStdString(), QStringLiteral("FERROWIND UNKNOWN - the database could not be read completely (database: "
                                                  "The database file %1 does not exist)\n")
                                       .arg(env.dbPath())
                                       .toStdString());
    EXPECT_EQ(r.err.toStdString(), "");
}

// Help and version exit 3, as the monitoring plugins' do: a check run with them by mistake is never OK.
TEST(CheckSyncCli, HelpAndVersionAreUnknown)
{
    FleetEnv env;
    for (const QString& h : {QString("--help"), QString("-h")}) {
        const CliRun r = env.cli({"check-sync", h});
        EXPECT_EQ(r.code, 3) << h.toStdString();
        EXPECT_TRUE(r.out.startsWith("Usage: ferrowind check-sync [options]\n")) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains("\n  -w, --warning <MIN>")) << r.out.toStdString();
    }
    for (const QString& v : {QString("--version"), QString("-V")}) {
        const CliRun r = env.cli({"check-sync", v});
        EXPECT_EQ(r.code, 3) << v.toStdString();
        EXPECT_EQ(r.out, "ferrowind check-sync " + fw::test::runCli(FERROWIND_CLI, {"--version"}, env.reg()).out.mid(10));
        EXPECT_EQ(r.err, "");
    }
}
