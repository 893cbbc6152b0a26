// The fleet commands as monitoring systems run them: real processes, promtool, HTTP.
#include "ServeMetricsProcess.h"

#include "app/DemoEnvironment.h"
#include "db/Database.h"
#include "db/DemoData.h"
#include "support/CliProcess.h"
#include "support/HttpGets.h"
#include "support/TestContext.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace fw;
using fw::test::CliRun;

namespace {

// A demo installation whose history the case rewrites to what it needs, on SQLite unless told.
class FleetEnv {
public:
    explicit FleetEnv(DemoDataOptions o = {}, test::Engine engine = test::Engine::Sqlite)
    {
        o.dcRuns = o.gcRuns = 5;
        t.setEngine(engine);
        cs = t.createEmptyDatabase();
        FwError e;
        auto db = Database::open(cs, &e);
        if (db)
            e = DemoData::populate(*db, o);
        EXPECT_FALSE(e) << e.description.toStdString();
        m_reg = t.writeRegistryFile();
    }
    QString reg() const { return m_reg; }
    QString dbPath() const { return cs.mid(7); } // SQLite
    void exec(const QString& sql, const QVariantList& binds = {}) { test::sqlValue(cs, sql, binds); }
    // One finished run per side, each ended `ageMinutes` ago with the given SyncInterval; nothing running.
    void finishedRuns(int dcAgeMinutes, int gcAgeMinutes, int interval = 10)
    {
        const QDateTime now = QDateTime::currentDateTime();
        const auto ts = [](const QDateTime& t) { return t.toString("yyyy-MM-dd HH:mm:ss"); };
        exec("DELETE FROM SyncHistoryDC");
        exec("DELETE FROM SyncHistoryGC");
        exec("INSERT INTO SyncHistoryDC (SyncId, IsActive, SyncStart, syncEnd, USNIncrement, SyncInterval) VALUES (1, 0, ?, ?, 5, ?)",
             {ts(now.addSecs(-dcAgeMinutes * 60 - 30)), ts(now.addSecs(-dcAgeMinutes * 60)), interval});
        if (gcAgeMinutes >= 0)
            exec("INSERT INTO SyncHistoryGC (SyncId, IsActive, SyncStart, syncEnd, USNIncrement, SyncInterval) VALUES (1, 0, ?, ?, 5, ?)",
                 {ts(now.addSecs(-gcAgeMinutes * 60 - 30)), ts(now.addSecs(-gcAgeMinutes * 60)), interval});
    }
    CliRun cli(const QStringList& args) const { return fw::test::runCli(FERROWIND_CLI, args, reg()); }

    test::TestContext t;
    QTemporaryDir dir;
    QString cs;

private:
    QString m_reg;
};

class FleetOnEngine : public ::testing::TestWithParam<test::Engine> {
protected:
    void SetUp() override { FW_SKIP_UNLESS_ENGINE(GetParam()); }
};

// Holds an exclusive lock on a SQLite database, so that every reader waits for it.
class DatabaseLock {
public:
    explicit DatabaseLock(const QString& path)
    {
        FwError err;
        m_db = Database::open("sqlite:" + path, &err);
        EXPECT_TRUE(m_db);
        m_db->run("BEGIN EXCLUSIVE", {}, &err);
        EXPECT_FALSE(err) << err.description.toStdString();
    }

private:
    std::unique_ptr<Database> m_db;
};

CliRun promtoolCheck(const QByteArray& page)
{
    QProcess p;
    p.start("promtool", {"check", "metrics"});
    p.write(page);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000))
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

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

    env.exec("UPDATE ADDomain SET DomainName = ?, CurrentDC = ? WHERE AdDomainObjectID = (SELECT MIN(AdDomainObjectID) FROM ADDomain)",
             {"we\"ird\\dom\nain", "dc\"1"});
    r = env.cli({"metrics"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("ferrowind_domain_info{domain=\"we\\\"ird\\\\dom\\nain\",current_dc=\"dc\\\"1\"} 1\n")) << r.out.toStdString();
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
    CliRun r = env.cli({"metrics", "--output", file});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray page = f.readAll();
    EXPECT_TRUE(page.startsWith("# HELP ferrowind_up")) << page.toStdString();
    EXPECT_EQ(QDir(env.dir.path()).entryList(QDir::Files).size(), 1) << "no temporary file is left behind";

    r = env.cli({"metrics", "--output", env.dir.filePath("missing/folder/x.prom")});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.startsWith("ferrowind metrics: cannot write ")) << r.err.toStdString();

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
    EXPECT_TRUE(r.out.startsWith("FERROWIND OK - DC last finished 5 min ago, GC last finished 5 min ago | dc_age=")) << r.out.toStdString();

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
    for (const QStringList& args : {QStringList{"check-sync", "--warning", "0"}, QStringList{"check-sync", "--critical", "x"},
                                    QStringList{"check-sync", "--warning", "20", "--critical", "10"},
                                    QStringList{"check-sync", "--bogus"}}) {
        const CliRun r = env.cli(args);
        EXPECT_EQ(r.code, 3) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.startsWith("FERROWIND UNKNOWN - ")) << r.out.toStdString();
    }
    {
        DatabaseLock lock(env.dbPath());
        const CliRun r = env.cli({"check-sync"});
        EXPECT_EQ(r.code, 3) << r.out.toStdString();
        EXPECT_TRUE(r.out.startsWith("FERROWIND UNKNOWN - the database could not be read completely")) << r.out.toStdString();
    }
    QFile::remove(env.dbPath());
    const CliRun r = env.cli({"check-sync"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out.toStdString(), "FERROWIND UNKNOWN - the database could not be read completely (database)\n");
}

TEST(ServeMetricsCli, ConcurrentScrapesOtherPathsAndSigterm)
{
    FleetEnv env;
    test::ServeMetricsProcess s(env.reg());
    ASSERT_FALSE(s.url.isEmpty()) << s.err.toStdString();
    const QString base = s.url.left(s.url.size() - QStringLiteral("/metrics").size());
    QStringList urls(8, s.url);
    urls << base + "/" << base + "/metrics/x" << base + "/other";
    const auto replies = fw::test::getAll(urls);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(replies[i].first, 200);
        EXPECT_TRUE(replies[i].second.contains("\nferrowind_up 1\n"));
        EXPECT_TRUE(replies[i].second.endsWith("\n"));
    }
    for (int i = 8; i < 11; ++i)
        EXPECT_EQ(replies[i].first, 404) << urls[i].toStdString();

    // Past the scrapes' deadline the server is still there: nothing left of a scrape may bring it down.
    EXPECT_FALSE(s.proc.waitForFinished(6500)) << s.proc.exitCode();
    ::kill(static_cast<pid_t>(s.proc.processId()), SIGTERM);
    ASSERT_TRUE(s.proc.waitForFinished(10000));
    EXPECT_EQ(s.proc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(s.proc.exitCode(), 0);
}

TEST(ServeMetricsCli, ALockedDatabaseGivesUpZeroWithinSixSeconds)
{
    FleetEnv env;
    test::ServeMetricsProcess s(env.reg());
    ASSERT_FALSE(s.url.isEmpty()) << s.err.toStdString();
    DatabaseLock lock(env.dbPath());
    QElapsedTimer t;
    t.start();
    const auto replies = fw::test::getAll({s.url, s.url});
    EXPECT_LE(t.elapsed(), 6000);
    for (const auto& r : replies) {
        EXPECT_EQ(r.first, 200);
        EXPECT_TRUE(r.second.contains("\nferrowind_up 0\n")) << r.second.toStdString();
        EXPECT_FALSE(r.second.contains("ferrowind_sync_"));
    }
}

// The demo's domains have no domain controllers anywhere: each is probed, found unreachable, and the
// scrape still answers within its time.
TEST(ServeMetricsCli, ProbeExportsEachDomainsReachability)
{
    FleetEnv env;
    test::ServeMetricsProcess s(env.reg(), {"--probe"});
    ASSERT_FALSE(s.url.isEmpty()) << s.err.toStdString();
    QElapsedTimer t;
    t.start();
    const QByteArray page = fw::test::getAll({s.url})[0].second;
    EXPECT_LE(t.elapsed(), 6000);
    EXPECT_TRUE(page.contains("\nferrowind_up 1\n"));
    for (const char* domain : {"corp.example.com", "sales.corp.example.com"})
        EXPECT_TRUE(page.contains(QByteArray("\nferrowind_dc_reachable{domain=\"") + domain + "\"} 0\n")) << page.toStdString();
    const CliRun check = promtoolCheck(page);
    EXPECT_EQ(check.code, 0) << check.err.toStdString() << check.out.toStdString();
}

TEST(ServeMetricsCli, ListenAddressMustBeAddressAndPort)
{
    FleetEnv env;
    for (const QString& bad : {QString("9731"), QString("127.0.0.1"), QString("no.such.host:80"), QString("127.0.0.1:70000")}) {
        const CliRun r = env.cli({"serve-metrics", "--listen", bad});
        EXPECT_EQ(r.code, 2) << bad.toStdString();
        EXPECT_TRUE(r.err.startsWith("ferrowind serve-metrics: --listen takes ADDRESS:PORT")) << r.err.toStdString();
    }
}
