// The fleet commands as monitoring systems run them: real processes, promtool, HTTP.
#include "ServeMetricsProcess.h"

#include "app/DemoEnvironment.h"
#include "db/Database.h"
#include "db/DemoData.h"
#include "support/CliProcess.h"
#include "support/HttpGets.h"
#include "support/TestCertificate.h"
#include "support/TestContext.h"
#include "support/Must.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
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
        const std::unique_ptr<Database> db = test::must(Database::open(cs));
        if (db)
            test::must(DemoData::populate(*db, o));
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
        exec(
            "INSERT INTO SyncHistoryDC (SyncId, IsActive, SyncStart, syncEnd, USNIncrement, SyncInterval) VALUES (1, 0, ?, ?, 5, ?)",
            {ts(now.addSecs(-dcAgeMinutes * 60 - 30)), ts(now.addSecs(-dcAgeMinutes * 60)), interval});
        if (gcAgeMinutes >= 0)
            exec(
                "INSERT INTO SyncHistoryGC (SyncId, IsActive, SyncStart, syncEnd, USNIncrement, SyncInterval) VALUES (1, 0, ?, ?, 5, ?)",
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
        m_db = test::must(Database::open("sqlite:" + path));
        if (m_db)
            test::must(m_db->run("BEGIN EXCLUSIVE"));
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

TEST(ServeMetricsCli, ConcurrentScrapesOtherPathsAndSigterm)
{
    FleetEnv env;
    test::ServeMetricsProcess s(env.reg());
    ASSERT_FALSE(s.url.isEmpty()) << s.err.toStdString();
    const QString base = s.url.left(s.url.size() - QStringLiteral("/metrics").size());
    QStringList urls(8, s.url);
    urls << base + "/metrics/x" << base + "/other" << base + "/";
    const auto replies = fw::test::getAll(urls);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(replies[i].first, 200);
        EXPECT_TRUE(replies[i].second.contains("\nferrowind_up 1\n"));
        EXPECT_TRUE(replies[i].second.endsWith("\n"));
    }
    for (int i = 8; i < 10; ++i)
        EXPECT_EQ(replies[i].first, 404) << urls[i].toStdString();
    EXPECT_EQ(replies[10].first, 200);
    EXPECT_TRUE(replies[10].second.contains("<a href=\"/metrics\">"));

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
        EXPECT_TRUE(r.second.contains("\nferrowind_up_failure{part=\"")) << r.second.toStdString();
        EXPECT_FALSE(r.second.contains("ferrowind_sync_"));
    }
}

// A scrape waiting on a locked database when SIGTERM comes is still answered, and only then does the server
// end; SIGHUP before it changes nothing.
TEST(ServeMetricsCli, SigtermLetsTheScrapeInProgressFinishAndSighupIsIgnored)
{
    FleetEnv env;
    test::ServeMetricsProcess s(env.reg());
    ASSERT_FALSE(s.url.isEmpty()) << s.err.toStdString();
    DatabaseLock lock(env.dbPath());
    QProcess curl;
    curl.start("curl", {"-s", "-w", "\n%{http_code}", s.url});
    ASSERT_TRUE(curl.waitForStarted(5000));
    QThread::msleep(1000);
    ::kill(static_cast<pid_t>(s.proc.processId()), SIGHUP);
    ::kill(static_cast<pid_t>(s.proc.processId()), SIGTERM);
    EXPECT_FALSE(s.proc.waitForFinished(2000)); // the scrape is still going on
    ASSERT_TRUE(curl.waitForFinished(10000));
    const QByteArray answer = curl.readAllStandardOutput();
    EXPECT_TRUE(answer.endsWith("\n200")) << answer.toStdString();
    EXPECT_TRUE(answer.contains("\nferrowind_up 0\n"));
    ASSERT_TRUE(s.proc.waitForFinished(5000));
    EXPECT_EQ(s.proc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(s.proc.exitCode(), 0);
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
        EXPECT_TRUE(page.contains(QByteArray("\nferrowind_dc_reachable{domain=\"") + domain + "\",domain_id=\""))
            << page.toStdString();
    const CliRun check = promtoolCheck(page);
    EXPECT_EQ(check.code, 0) << check.err.toStdString() << check.out.toStdString();
}

// curl over TLS with the certificate's CA: the right password gets the page, a wrong one 401, plain HTTP
// 400 in plain HTTP. A configuration that cannot be used stops the server before it listens.
TEST(ServeMetricsCli, TlsAndBasicAuthWithCurl)
{
    FleetEnv env;
    const QString dir = env.dir.path();
    ASSERT_TRUE(test::makeCertificate(dir));
    const QString web = test::writeFile(dir, "web.yml",
                                        QByteArray("tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n"
                                                   "basic_auth_users:\n  prometheus: '") +
                                            test::kBcryptOfUStarU + "'\n");
    test::ServeMetricsProcess s(env.reg(), {"--web.config.file", web});
    ASSERT_TRUE(s.url.startsWith("https://127.0.0.1:")) << s.err.toStdString();
    const auto curl = [&](const QStringList& args) {
        QProcess p;
        p.start("curl", QStringList{"-s", "--max-time", "10", "-w", "\n%{http_code}"} + args);
        p.waitForFinished(15000);
        return std::pair{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
    };
    const auto ok = curl({"--cacert", dir + "/cert.pem", "-u", "prometheus:U*U", s.url});
    EXPECT_EQ(ok.first, 0);
    EXPECT_TRUE(ok.second.contains("\nferrowind_up 1\n")) << ok.second.toStdString();
    EXPECT_TRUE(ok.second.endsWith("\n200"));
    const auto wrong = curl({"--cacert", dir + "/cert.pem", "-u", "prometheus:wrong", s.url});
    EXPECT_EQ(wrong.second, "Unauthorized\n\n401");
    const auto untrusted = curl({"-u", "prometheus:U*U", s.url});
    EXPECT_EQ(untrusted.first, 60) << "the certificate is not trusted without its CA";
    QString plain = s.url;
    plain.replace("https://", "http://");
    const auto clear = curl({"-u", "prometheus:U*U", plain});
    EXPECT_EQ(clear.first, 0);
    EXPECT_EQ(clear.second, "Client sent an HTTP request to an HTTPS server.\n\n400");

    const QString bad = test::writeFile(dir, "bad.yml", "basic_auth_users:\n  prometheus: secret\n");
    const CliRun r = env.cli({"serve-metrics", "--listen", "127.0.0.1:0", "--web.config.file", bad});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.toStdString(), "ferrowind serve-metrics: the web configuration " + bad.toStdString() +
                                       " basic_auth_users: the password of 'prometheus' is not a bcrypt hash\n");
}

TEST(ServeMetricsCli, ListenAddressMustBeAddressAndPort)
{
    FleetEnv env;
    for (const QString& bad : {QString("9731"), QString("127.0.0.1"), QString("no.such.host:80"), QString("127.0.0.1:70000")}) {
        for (const QString& option : {QString("--web.listen-address"), QString("--listen")}) {
            const CliRun r = env.cli({"serve-metrics", "--web.listen-address", "127.0.0.1:0", option, bad});
            EXPECT_EQ(r.code, 2) << bad.toStdString();
            EXPECT_EQ(r.err.toStdString(), "ferrowind serve-metrics: --web.listen-address takes ADDRESS:PORT (for example "
                                           "127.0.0.1:9731, [::1]:9731 or :9731), not '" +
                                               bad.toStdString() + "'\n");
        }
    }
    for (const QString& bad : {QString("metrics"), QString("/"), QString("/-/healthy"), QString("/a b"), QString("/a//b"),
                               QString("/a?b"), QString("/x\"><script>")}) {
        const CliRun r = env.cli({"serve-metrics", "--web.telemetry-path", bad});
        EXPECT_EQ(r.code, 2) << bad.toStdString();
        EXPECT_EQ(r.err.toStdString(), "ferrowind serve-metrics: --web.telemetry-path takes a path such as /metrics (letters, "
                                       "digits and . _ ~ - between slashes, not under /-/), not '" +
                                           bad.toStdString() + "'\n");
    }
    const CliRun version = env.cli({"serve-metrics", "--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "ferrowind serve-metrics " + env.cli({"--version"}).out.mid(10));
}

// Several addresses (IPv4 and IPv6 at once), the page at another path, the health and readiness paths, and the
// server's own families on a page promtool takes.
TEST(ServeMetricsCli, SeveralAddressesTelemetryPathHealthAndOwnFamilies)
{
    FleetEnv env;
    test::ServeMetricsProcess s(env.reg(), {"--web.listen-address", "[::1]:0", "--web.telemetry-path", "/probe/ferrowind"});
    ASSERT_FALSE(s.url.isEmpty()) << s.err.toStdString();
    static const QRegularExpression served("serving (http://\\S+/probe/ferrowind)");
    QStringList urls;
    QElapsedTimer t;
    t.start();
    while (urls.size() < 2 && t.elapsed() < 10000) {
        s.proc.waitForReadyRead(200);
        s.err += QString::fromUtf8(s.proc.readAllStandardError());
        urls.clear();
        for (auto it = served.globalMatch(s.err); it.hasNext();)
            urls.append(it.next().captured(1));
    }
    ASSERT_EQ(urls.size(), 2) << s.err.toStdString();
    EXPECT_TRUE(urls[0].startsWith("http://[::1]:")) << urls[0].toStdString();
    EXPECT_TRUE(urls[1].startsWith("http://127.0.0.1:")) << urls[1].toStdString();
    const QString base = urls[1].left(urls[1].indexOf("/probe/"));
    const auto replies = fw::test::getAll(
        {urls[0], urls[1], base + "/metrics", base + "/-/healthy", base + "/-/ready", base + "/"});
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(replies[i].first, 200) << urls[i].toStdString();
        EXPECT_TRUE(replies[i].second.contains("\nferrowind_up 1\n"));
        EXPECT_TRUE(replies[i].second.contains("\nferrowind_http_requests_total{code=\"")) << replies[i].second.toStdString();
        EXPECT_TRUE(replies[i].second.contains("\nprocess_resident_memory_bytes ")) << replies[i].second.toStdString();
        const CliRun check = promtoolCheck(replies[i].second);
        EXPECT_EQ(check.code, 0) << check.err.toStdString() << check.out.toStdString();
    }
    EXPECT_EQ(replies[2].first, 404);
    EXPECT_EQ(replies[3], (QPair<int, QByteArray>{200, "Healthy\n"}));
    EXPECT_EQ(replies[4], (QPair<int, QByteArray>{200, "Ready\n"}));
    EXPECT_TRUE(replies[5].second.contains("<a href=\"/probe/ferrowind\">")) << replies[5].second.toStdString();
}
