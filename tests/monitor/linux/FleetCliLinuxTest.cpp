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
