// serve-metrics against the clients operators and scrapers use: its log at each level, gzip and the scraper's
// timeout through curl, TLS versions and suites through openssl s_client and curl, a renewed certificate served
// without a restart.
#include "monitor/FleetEnv.h"
#include "monitor/ServeMetricsProcess.h"

#include "support/TestCertificate.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>
#include <gtest/gtest.h>


using namespace fw;
using fw::test::CliRun;
using fw::test::DatabaseLock;
using fw::test::FleetEnv;

namespace {

struct Ran {
    int code = -1;
    QByteArray out, err;
};

Ran run(const QString& program, const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    Ran r;
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit)
        r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

Ran curl(const QStringList& args)
{
    return run("curl", QStringList{"-s", "--max-time", "15"} + args);
}

quint16 freeLoopbackPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// Ends the server and returns all it wrote to standard error.
QString stopped(test::ServeMetricsProcess& s)
{
    s.proc.terminate(); // SIGTERM
    EXPECT_TRUE(s.proc.waitForFinished(10000));
    return s.err + QString::fromUtf8(s.proc.readAllStandardError());
}

// serve-metrics on a port of its own, for the levels that do not say where they serve.
struct QuietServer : test::ServeMetricsProcess {
    QuietServer(const QString& registry, quint16 port, const QStringList& options)
        : ServeMetricsProcess(registry, QStringList{"--web.listen-address", "127.0.0.1:" + QString::number(port)} + options,
                              true),
          url("http://127.0.0.1:" + QString::number(port) + "/metrics")
    {
    }
    bool listening()
    {
        for (int i = 0; i < 100; ++i) {
            if (curl({"-o", "/dev/null", url.left(url.size() - 8) + "/-/healthy"}).code == 0)
                return true;
            QThread::msleep(100);
        }
        return false;
    }
    QString url;
};

} // namespace

// error: the scrapes that could not read the database; warn: also those past their deadline; info: also where it
// serves and the stop; debug: also each answer. Another level is a usage error.
TEST(ServeMetricsClients, EachLogLevelSaysWhatItPromises)
{
    FleetEnv env;
    const CliRun bad = env.cli({"serve-metrics", "--log.level", "verbose"});
    EXPECT_EQ(bad.code, 2);
    EXPECT_EQ(bad.err, "ferrowind serve-metrics: --log.level takes debug, info, warn or error, not 'verbose'\n");

    const QString unread = "ferrowind serve-metrics: error: a scrape could not read gc.ReconnectEnabled: answered with "
                           "ferrowind_up 0\n";
    const QString late = "ferrowind serve-metrics: warning: a scrape had no page within its 0.75 s: answered with "
                         "ferrowind_up 0\n";
    for (const QString& level : {QString("warn"), QString("error")}) {
        FleetEnv e;
        e.exec("DELETE FROM Configuration"); // the global catalog's setting is missing: read, but not completely
        QuietServer s(e.reg(), freeLoopbackPort(), {"--log.level", level});
        ASSERT_TRUE(s.listening()) << level.toStdString();
        EXPECT_TRUE(curl({s.url}).out.contains("\nferrowind_up 0\n"));
        {
            DatabaseLock lock(e.dbPath()); // Prometheus waits 1 s: the page comes by 0.75 s
            const Ran waited = curl({"-H", "X-Prometheus-Scrape-Timeout-Seconds: 1", s.url});
            EXPECT_TRUE(waited.out.contains("\nferrowind_up_failure{part=\"deadline\"} 1\n")) << waited.out.toStdString();
            static const QRegularExpression took("\nferrowind_scrape_duration_seconds (0\\.[0-9]+)\n");
            EXPECT_GE(took.match(QString::fromUtf8(waited.out)).captured(1).toDouble(), 0.75) << waited.out.toStdString();
        }
        EXPECT_EQ(stopped(s), unread + (level == "warn" ? late : QString())) << level.toStdString();
    }

    env.exec("DELETE FROM Configuration");
    test::ServeMetricsProcess info(env.reg());
    ASSERT_FALSE(info.url.isEmpty()) << info.err.toStdString();
    EXPECT_EQ(curl({"-o", "/dev/null", "-w", "%{http_code}", info.url}).out, "200");
    EXPECT_EQ(stopped(info),
              "ferrowind serve-metrics: serving " + info.url + "\n" + unread + "ferrowind serve-metrics: stopped\n");

    test::ServeMetricsProcess debug(env.reg(), {"--log.level", "debug"});
    ASSERT_FALSE(debug.url.isEmpty()) << debug.err.toStdString();
    curl({"--compressed", debug.url});
    curl({debug.url.left(debug.url.size() - 8) + "/nope"});
    const QStringList lines = stopped(debug).split('\n');
    ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
    EXPECT_TRUE(QRegularExpression("^ferrowind serve-metrics: debug: 127\\.0\\.0\\.1:\\d+ \"GET /metrics\" 200, \\d+ bytes, "
                                   "gzip, \\d+\\.\\d{3} s$")
                    .match(lines[2])
                    .hasMatch())
        << lines[2].toStdString();
    EXPECT_TRUE(QRegularExpression("^ferrowind serve-metrics: debug: 127\\.0\\.0\\.1:\\d+ \"GET /nope\" 404, 10 bytes, "
                                   "\\d+\\.\\d{3} s$")
                    .match(lines[3])
                    .hasMatch())
        << lines[3].toStdString();
}

// curl asking for gzip gets the page compressed, a page promtool takes once curl has decompressed it, with the
// build's revision.
TEST(ServeMetricsClients, GzipForAClientThatAsks)
{
    FleetEnv env;
    test::ServeMetricsProcess s(env.reg());
    ASSERT_FALSE(s.url.isEmpty()) << s.err.toStdString();
    const Ran zipped = curl({"--compressed", "-D", "-", s.url});
    const qsizetype body = zipped.out.indexOf("\r\n\r\n") + 4;
    EXPECT_TRUE(zipped.out.left(body).contains("\r\nContent-Encoding: gzip\r\n")) << zipped.out.left(body).toStdString();
    const QByteArray page = zipped.out.mid(body);
    EXPECT_TRUE(page.contains("\nferrowind_up 1\n")) << page.toStdString();
    EXPECT_TRUE(QRegularExpression("\nferrowind_build_info\\{version=\"[0-9.]+\",revision=\"([0-9a-f]{40}|unknown)\","
                                   "velmora_version=\"")
                    .match(QString::fromUtf8(page))
                    .hasMatch())
        << page.toStdString();
    const CliRun check = test::promtoolCheck(page);
    EXPECT_EQ(check.code, 0) << check.err.toStdString() << check.out.toStdString();
    const Ran plain = curl({"-D", "-", s.url});
    EXPECT_FALSE(plain.out.contains("Content-Encoding")) << plain.out.toStdString();
}

// With an RSA certificate: TLS 1.2 without forward secrecy or with CBC refused to openssl and curl, with ECDHE and
// GCM taken, TLS 1.3 taken; min_version TLS13 refuses TLS 1.2; a suite that does not exist stops the server.
TEST(ServeMetricsClients, TlsSuitesAndVersionsWithOpensslAndCurl)
{
    FleetEnv env;
    const QString dir = env.dir.path();
    ASSERT_TRUE(test::makeCertificate(dir, test::KeyType::Rsa));
    const QByteArray files = "tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n";
    const QString ca = dir + "/cert.pem";
    {
        test::ServeMetricsProcess s(env.reg(), {"--web.config.file", test::writeFile(dir, "web.yml", files)});
        ASSERT_TRUE(s.url.startsWith("https://")) << s.err.toStdString();
        const QString hostPort = QUrl(s.url).authority();
        for (const char* cipher : {"AES128-SHA", "AES256-GCM-SHA384", "ECDHE-RSA-AES128-SHA", "ECDHE-RSA-AES128-SHA256"}) {
            const Ran r = run("openssl", {"s_client", "-connect", hostPort, "-tls1_2", "-cipher", cipher}, "Q\n");
            EXPECT_NE(r.code, 0) << cipher;
            EXPECT_TRUE(r.err.contains("alert handshake failure")) << cipher << r.err.toStdString();
        }
        const Ran taken = run("openssl", {"s_client", "-connect", hostPort, "-tls1_2", "-cipher", "ECDHE-RSA-AES256-GCM-SHA384"},
                              "Q\n");
        EXPECT_EQ(taken.code, 0) << taken.err.toStdString();
        EXPECT_TRUE(taken.out.contains("Cipher is ECDHE-RSA-AES256-GCM-SHA384")) << taken.out.toStdString();
        EXPECT_EQ(curl({"--cacert", ca, "--tls-max", "1.2", "--ciphers", "ECDHE-RSA-AES128-SHA", s.url}).code, 35);
        EXPECT_EQ(curl({"--cacert", ca, "--tls-max", "1.2", "--ciphers", "AES128-GCM-SHA256", s.url}).code, 35);
        EXPECT_TRUE(curl({"--cacert", ca, "--tls-max", "1.2", "--ciphers", "ECDHE-RSA-AES128-GCM-SHA256", s.url})
                        .out.contains("\nferrowind_up 1\n"));
        EXPECT_TRUE(curl({"--cacert", ca, "--tlsv1.3", s.url}).out.contains("\nferrowind_up 1\n"));
    }
    {
        test::ServeMetricsProcess s(env.reg(),
                                    {"--web.config.file", test::writeFile(dir, "web.yml", files + "  min_version: TLS13\n")});
        ASSERT_TRUE(s.url.startsWith("https://")) << s.err.toStdString();
        EXPECT_EQ(curl({"--cacert", ca, "--tls-max", "1.2", s.url}).code, 35);
        EXPECT_TRUE(curl({"--cacert", ca, "--tlsv1.3", s.url}).out.contains("\nferrowind_up 1\n"));
    }
    const QString bad = test::writeFile(dir, "web.yml", files + "  cipher_suites: [TLS_RSA_WITH_AES_128_CBC_SHA1]\n");
    const CliRun refused = env.cli({"serve-metrics", "--web.listen-address", "127.0.0.1:0", "--web.config.file", bad});
    EXPECT_EQ(refused.code, 2);
    EXPECT_EQ(refused.err, "ferrowind serve-metrics: the web configuration " + bad +
                               " tls_server_config.cipher_suites: 'TLS_RSA_WITH_AES_128_CBC_SHA1' is not a known cipher suite "
                               "(IANA's names, for example TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256)\n");
}

// A certificate renewed in place (key and certificate replaced) is what the next client gets; the running server
// says it read the configuration again.
TEST(ServeMetricsClients, ARenewedCertificateIsServedWithoutARestart)
{
    FleetEnv env;
    const QString dir = env.dir.path();
    ASSERT_TRUE(test::makeCertificate(dir, test::KeyType::Ec, "first"));
    ASSERT_TRUE(QDir(dir).mkdir("renewed"));
    ASSERT_TRUE(test::makeCertificate(dir + "/renewed", test::KeyType::Ec, "second"));
    QFile::copy(dir + "/cert.pem", dir + "/first.pem");
    const QString web = test::writeFile(dir, "web.yml", "tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n");
    test::ServeMetricsProcess s(env.reg(), {"--web.config.file", web});
    ASSERT_TRUE(s.url.startsWith("https://")) << s.err.toStdString();
    EXPECT_EQ(curl({"--cacert", dir + "/first.pem", s.url}).code, 0);

    for (const char* file : {"/key.pem", "/cert.pem"}) {
        QFile::remove(dir + file);
        ASSERT_TRUE(QFile::copy(dir + "/renewed" + file, dir + file));
    }
    EXPECT_EQ(curl({"--cacert", dir + "/first.pem", s.url}).code, 60) << "the old certificate is not served";
    EXPECT_TRUE(curl({"--cacert", dir + "/renewed/cert.pem", s.url}).out.contains("\nferrowind_up 1\n"));
    EXPECT_TRUE(stopped(s).contains("\nferrowind serve-metrics: the web configuration " + web +
                                    " was read again: new connections use it\n"));
}
