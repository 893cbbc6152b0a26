// serve-metrics as Prometheus and operators meet it: a real process, curl, promtool, HTTP.
#include "monitor/FleetEnv.h"
#include "monitor/ServeMetricsProcess.h"

#include "support/HttpGets.h"
#include "support/TestCertificate.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

using namespace fw;
using fw::test::CliRun;
using fw::test::DatabaseLock;
using fw::test::FleetEnv;
using fw::test::promtoolCheck;

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
        EXPECT_TRUE(replies[i].second.contains("\n# TYPE ferrowind_http_requests_total counter\n"))
            << replies[i].second.toStdString();
        EXPECT_TRUE(replies[i].second.contains("\nprocess_resident_memory_bytes ")) << replies[i].second.toStdString();
        const CliRun check = promtoolCheck(replies[i].second);
        EXPECT_EQ(check.code, 0) << check.err.toStdString() << check.out.toStdString();
    }
    EXPECT_EQ(replies[2].first, 404);
    EXPECT_EQ(replies[3], (QPair<int, QByteArray>{200, "Healthy\n"}));
    EXPECT_EQ(replies[4], (QPair<int, QByteArray>{200, "Ready\n"}));
    EXPECT_TRUE(replies[5].second.contains("<a href=\"/probe/ferrowind\">")) << replies[5].second.toStdString();
}
