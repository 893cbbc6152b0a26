// metrics and check-sync as monitoring systems run them: real processes, promtool, the Perl plugin library.
#include "monitor/FleetEnv.h"

#include "support/CliProcess.h"
#include "support/TestContext.h"
#include "support/Must.h"

#include <QFile>
#include <QSet>
#include <gtest/gtest.h>

using namespace fw;
using fw::test::CliRun;
using fw::test::DatabaseLock;
using fw::test::FleetEnv;
using fw::test::promtoolCheck;

namespace {

class FleetOnEngine : public ::testing::TestWithParam<test::Engine> {
protected:
    void SetUp() override { FW_SKIP_UNLESS_ENGINE(GetParam()); }
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Engines, FleetOnEngine, test::kEngines, test::engineName);

TEST_P(FleetOnEngine, PromtoolAcceptsTheMetricsPageOfTheDemoAndOfAwkwardDomainNames)
{
    FleetEnv env({}, GetParam());
    CliRun r = env.cli({"metrics"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("ferrowind_up 1\n"));
    CliRun check = promtoolCheck(r.out.toUtf8());
    EXPECT_EQ(check.code, 0) << check.out.toStdString() << check.err.toStdString();

    // Every domain of the demo gets the same awkward name: still one series each, told apart by their ids.
    env.exec("UPDATE ADDomain SET DomainName = ?, CurrentDC = ?", {"we\"ird\\dom\nain", "dc\"1"});
    env.exec("UPDATE ADDomain SET ReconnectEnabled = 0 WHERE AdDomainObjectID = (SELECT MIN(AdDomainObjectID) FROM ADDomain)");
    r = env.cli({"metrics"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QString info = "ferrowind_domain_info{domain=\"we\\\"ird\\\\dom\\nain\",domain_id=\"";
    QStringList ids;
    for (const QString& line : r.out.split('\n'))
        if (line.startsWith(info) && line.endsWith("\",current_dc=\"dc\\\"1\"} 1"))
            ids.append(line.mid(info.size()).section('"', 0, 0));
    ASSERT_EQ(ids.size(), 3) << r.out.toStdString();
    EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), 3);
    EXPECT_EQ(r.out.count("\nferrowind_domain_reconnect_enabled{domain=\"we\\\"ird\\\\dom\\nain\",domain_id="), 3);
    check = promtoolCheck(r.out.toUtf8());
    EXPECT_EQ(check.code, 0) << check.out.toStdString() << check.err.toStdString();
}

TEST(FleetMetricsCli, OutputFileIsReplacedWholeAndAFailureIsNoSuccess)
{
    FleetEnv env;
    const QString file = env.dir.filePath("ferrowind.prom");
    QFile old(file);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("stale\n");
    old.close();
    ASSERT_TRUE(old.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    const QFileDevice::Permissions permissions = QFile::permissions(file);
    const auto files = [&] { return QDir(env.dir.path()).entryList(QDir::Files | QDir::Hidden); };
    CliRun r = env.cli({"metrics", "--output", file});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray page = f.readAll();
    f.close();
    EXPECT_TRUE(page.startsWith("# HELP ferrowind_up")) << page.toStdString();
    EXPECT_EQ(f.permissions(), permissions) << "the new file keeps the old one's permissions";
    EXPECT_EQ(files(), QStringList{"ferrowind.prom"}) << "no temporary file is left behind";

    // A file system that refuses the page part-way (as a full one does): the good file stays whole.
    r = fw::test::runCli(FERROWIND_CLI, {"metrics", "--output", file}, env.reg(), {}, {fw::test::ChildStdout::Captured, 100});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "ferrowind metrics: cannot write " + file + ": File too large\n");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), page);
    f.close();
    EXPECT_EQ(files(), QStringList{"ferrowind.prom"}) << "the temporary file is removed";

    r = env.cli({"metrics", "--output", env.dir.filePath("missing/folder/x.prom")});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err,
              "ferrowind metrics: cannot write " + env.dir.filePath("missing/folder/x.prom") + ": No such file or directory\n");

    QFile::remove(env.dbPath());
    r = env.cli({"metrics"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.out.contains("ferrowind_up 0\n"));
}

TEST_P(FleetOnEngine, CheckSyncGivesEachStatusFromADatabaseBuiltForIt)
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

// The perfdata as the monitoring-plugin library (Debian's libmonitoring-plugin-perl) parses it: every item
// found, with its value, unit and thresholds.
TEST(CheckSyncCli, PerfdataParsesWithTheMonitoringPluginLibrary)
{
    FleetEnv env;
    env.finishedRuns(5, 35);
    const CliRun r = env.cli({"check-sync", "--warning", "30", "--critical", "60"});
    ASSERT_EQ(r.code, 1) << r.out.toStdString();
    const QString perf = r.out.section(" | ", 1).trimmed();
    QProcess perl;
    perl.start("perl", {"-MMonitoring::Plugin::Performance", "-e",
                        "my $s = <STDIN>; chomp $s; my @p = Monitoring::Plugin::Performance->parse_perfstring($s);"
                        "print scalar(split / /, $s), ' ', scalar(@p), \"\\n\";"
                        "printf \"%s %s %s %s %s %s\\n\", $_->label, $_->value, $_->uom, $_->threshold->warning->end,"
                        " $_->threshold->critical->end, $_->min for @p;"});
    perl.write(perf.toUtf8() + "\n");
    perl.closeWriteChannel();
    ASSERT_TRUE(perl.waitForFinished(20000));
    ASSERT_EQ(perl.exitCode(), 0) << perl.readAllStandardError().toStdString();
    const QStringList lines = QString::fromUtf8(perl.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << perf.toStdString();
    EXPECT_EQ(lines[0], "2 2");
    EXPECT_TRUE(lines[1].startsWith("dc_age 3")) << lines[1].toStdString(); // 300 s, give or take the run's second
    EXPECT_TRUE(lines[1].endsWith(" s 1800 3600 0")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("gc_age 21")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].endsWith(" s 1800 3600 0")) << lines[2].toStdString();
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
