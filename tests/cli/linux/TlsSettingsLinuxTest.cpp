// The TLS the metrics server offers (versions and suites, by default and as configured) and its web configuration
// read again when its files change, against Qt clients on loopback.
#include "cli/MetricsServerTesting.h"

#include "cli/WebConfig.h"
#include "support/TestCertificate.h"

#include <QDir>
#include <QFile>
#include <QSslCipher>
#include <QTemporaryDir>

using namespace fw;
using namespace fw::test;
using namespace std::chrono_literals;

namespace {

QSslConfiguration clientConfig(QSsl::SslProtocol protocol, const QString& cipher = {})
{
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setPeerVerifyMode(QSslSocket::VerifyNone);
    c.setProtocol(protocol);
    if (!cipher.isEmpty())
        c.setCiphers({QSslCipher(cipher)});
    return c;
}

// The cipher a client got, empty when its handshake failed.
QString negotiated(quint16 port, const QSslConfiguration& config)
{
    RawClient c(port, config);
    auto* ssl = static_cast<QSslSocket*>(c.socket.get());
    return ssl->isEncrypted() ? ssl->sessionCipher().name() : QString();
}

// The common name of the certificate the server showed a new connection.
QString shownName(quint16 port)
{
    RawClient c(port, clientConfig(QSsl::TlsV1_2OrLater));
    const auto* ssl = static_cast<QSslSocket*>(c.socket.get());
    return ssl->peerCertificate().subjectInfo(QSslCertificate::CommonName).value(0);
}

bool replace(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace

// By default TLS 1.2 only with forward secrecy and AEAD (no RSA key exchange, no CBC with SHA-1 or SHA-2), TLS
// 1.3 as the library has it; min_version TLS13 leaves TLS 1.2 out; cipher_suites offers those named, weak ones
// too when the operator names them.
TEST(MetricsServer, TlsVersionsAndSuitesAsConfigured)
{
    QTemporaryDir rsa, ec;
    ASSERT_TRUE(test::makeCertificate(rsa.path(), test::KeyType::Rsa));
    ASSERT_TRUE(test::makeCertificate(ec.path(), test::KeyType::Ec));
    const QByteArray files = "tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n";
    const QString tls13 = "TLS_AES_256_GCM_SHA384";
    const struct {
        QString dir;
        QByteArray settings;
        QSsl::SslProtocol protocol;
        QString cipher; // the one the client offers; for TLS 1.3 the one it gets
        bool connects;
    } cases[] = {
        {rsa.path(), "", QSsl::TlsV1_2, "AES128-SHA", false},
        {rsa.path(), "", QSsl::TlsV1_2, "AES128-GCM-SHA256", false},
        {rsa.path(), "", QSsl::TlsV1_2, "ECDHE-RSA-AES128-SHA", false},
        {rsa.path(), "", QSsl::TlsV1_2, "ECDHE-RSA-AES256-SHA384", false},
        {rsa.path(), "", QSsl::TlsV1_2, "ECDHE-RSA-AES128-GCM-SHA256", true},
        {rsa.path(), "", QSsl::TlsV1_2, "ECDHE-RSA-CHACHA20-POLY1305", true},
        {rsa.path(), "", QSsl::TlsV1_3, tls13, true},
        {ec.path(), "", QSsl::TlsV1_2, "ECDHE-ECDSA-AES128-SHA", false},
        {ec.path(), "", QSsl::TlsV1_2, "ECDHE-ECDSA-AES256-GCM-SHA384", true},
        {ec.path(), "  min_version: TLS13\n", QSsl::TlsV1_2, "ECDHE-ECDSA-AES128-GCM-SHA256", false},
        {ec.path(), "  min_version: TLS13\n", QSsl::TlsV1_3, tls13, true},
        {rsa.path(), "  min_version: TLS12\n  cipher_suites: [TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384]\n", QSsl::TlsV1_2,
         "ECDHE-RSA-AES128-GCM-SHA256", false},
        {rsa.path(), "  cipher_suites: [TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384]\n", QSsl::TlsV1_2, "ECDHE-RSA-AES256-GCM-SHA384",
         true},
        {rsa.path(), "  cipher_suites: [TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384]\n", QSsl::TlsV1_3, tls13, true},
        {rsa.path(), "  cipher_suites: [TLS_RSA_WITH_AES_128_CBC_SHA]\n", QSsl::TlsV1_2, "AES128-SHA", true},
    };
    for (const auto& k : cases) {
        const std::string what = k.dir.toStdString() + " " + k.settings.toStdString() + " " + k.cipher.toStdString();
        const Result<WebConfig> web = WebConfig::load(test::writeFile(k.dir, "web.yml", files + k.settings));
        ASSERT_TRUE(web) << web.error().description.toStdString();
        Counters c;
        MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 1000ms);
        server.setLimits(quickLimits());
        server.setWebConfig(*web);
        const quint16 port = listen(server);
        EXPECT_EQ(negotiated(port, clientConfig(k.protocol, k.protocol == QSsl::TlsV1_2 ? k.cipher : QString())),
                  k.connects ? k.cipher : QString())
            << what;
    }
}

// The certificate, key and users are read again for a new connection once a file has changed. A pair that does
// not match, or a change to plain HTTP, is told once and leaves what was in use.
TEST(MetricsServer, TheWebConfigurationIsReadAgainWhenItsFilesChange)
{
    QTemporaryDir dir, second;
    ASSERT_TRUE(test::makeCertificate(dir.path(), test::KeyType::Ec, "first"));
    ASSERT_TRUE(test::makeCertificate(second.path(), test::KeyType::Rsa, "second"));
    const QByteArray tls = "tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n";
    const auto users = [](const char* name) {
        return QByteArray("basic_auth_users:\n  ") + name + ": '" + test::kBcryptOfUStarU + "'\n";
    };
    const QString path = test::writeFile(dir.path(), "web.yml", tls + users("alice"));
    const Result<WebConfig> web = WebConfig::load(path);
    ASSERT_TRUE(web) << web.error().description.toStdString();
    Counters c;
    MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 1000ms);
    server.setLimits(quickLimits());
    server.setWebConfig(*web);
    QStringList lines;
    server.setLog(std::make_shared<ServerLog>([&](const QString& line) { lines.append(line); }, LogLevel::Info));
    const quint16 port = listen(server);
    const auto status = [&](const QByteArray& credentials) {
        RawClient client(port, clientConfig(QSsl::TlsV1_2OrLater));
        client.send(basicRequest(credentials));
        waitFor([&] { return client.got.contains("\r\n\r\n"); }, 3000);
        return client.statuses().value(0);
    };
    const QString kept = "; the configuration read before stays in use";
    const QString reread = "ferrowind serve-metrics: the web configuration " + path + " was read again: new connections use it";

    EXPECT_EQ(shownName(port), "first");
    ASSERT_TRUE(replace(second.filePath("cert.pem"), dir.filePath("cert.pem"))); // its key comes later
    EXPECT_EQ(shownName(port), "first");
    EXPECT_EQ(shownName(port), "first");
    ASSERT_EQ(lines.size(), 1) << lines.join("\n").toStdString();
    EXPECT_TRUE(lines[0].startsWith("ferrowind serve-metrics: warning: the web configuration " + path + " cert_file " +
                                    dir.filePath("cert.pem") + " and key_file " + dir.filePath("key.pem") +
                                    " make no TLS server (is the key the certificate's own?): "))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(kept)) << lines[0].toStdString();

    ASSERT_TRUE(replace(second.filePath("key.pem"), dir.filePath("key.pem")));
    EXPECT_EQ(shownName(port), "second");
    EXPECT_EQ(lines.value(1), reread);

    EXPECT_EQ(status("alice:U*U"), 200);
    test::writeFile(dir.path(), "web.yml", tls + users("bob"));
    EXPECT_EQ(status("alice:U*U"), 401);
    EXPECT_EQ(status("bob:U*U"), 200);
    EXPECT_EQ(lines.value(2), reread);

    test::writeFile(dir.path(), "web.yml", users("bob"));
    EXPECT_EQ(shownName(port), "second");
    EXPECT_EQ(status("bob:U*U"), 200);
    EXPECT_EQ(lines.value(3), "ferrowind serve-metrics: warning: the web configuration " + path +
                                  " no longer asks for TLS, which takes a restart" + kept);
    EXPECT_EQ(lines.size(), 4) << lines.join("\n").toStdString();
}
