// The metrics server's TLS and basic authentication, with certificates made by openssl and bcrypt hashes: Linux's
// (the Windows build has no bcrypt, and Wine's schannel does not serve TLS).
#include "cli/MetricsServer.h"
#include "cli/MetricsServerFixture.h"
#include "cli/WebConfig.h"
#include "platform/LeftThreads.h"
#include "support/HttpGets.h"
#include "support/TestCertificate.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>

using namespace fw;
using namespace std::chrono_literals;

using namespace fw::test::metricsserver;

TEST(WebConfig, BcryptHashesOfEachPrefixAreChecked)
{
    const struct {
        QByteArray password;
        QByteArray hash;
        bool matches;
    } cases[] = {
        {"U*U", test::kBcryptOfUStarU, true},
        {"U*U", "$2b$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW", true},
        {"U*U", "$2y$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW", true},
        {"U*V", test::kBcryptOfUStarU, false},
        {"", test::kBcryptOfUStarU, false},
        {"U*U", "$1$CCCCCCCC$E5YPO9kmyuRGyh0XouQYb4", false}, // md5-crypt is not taken
    };
    for (const auto& c : cases)
        EXPECT_EQ(bcryptMatches(c.password, c.hash), c.matches) << c.password.toStdString() << ' ' << c.hash.toStdString();
}

// A file is refused, with what is wrong in it, rather than served in part.
TEST(WebConfig, UnknownKeysUnreadableFilesAndWeakSettingsAreRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(test::makeCertificate(dir.path()));
    test::writeFile(dir.path(), "garbage.pem", "not a certificate\n");
    const QByteArray tls = "tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n";
    const struct {
        QByteArray yaml;
        QString why;
    } cases[] = {
        {"tls_config:\n  cert_file: cert.pem\n", "tls_config is not a known key"},
        {"http_server_config:\n  http2: false\n", "http_server_config is not supported"},
        {tls + "  min_version: TLS13\n", "tls_server_config.min_version is not supported"},
        {tls + "  cert_flie: x\n", "tls_server_config.cert_flie is not a known key"},
        {"tls_server_config:\n  cert_file: cert.pem\n", "tls_server_config needs both cert_file and key_file"},
        {"tls_server_config:\n  cert_file: none.pem\n  key_file: key.pem\n",
         "cert_file " + dir.filePath("none.pem") + " cannot be read: No such file or directory"},
        {"tls_server_config:\n  cert_file: garbage.pem\n  key_file: key.pem\n",
         "cert_file " + dir.filePath("garbage.pem") + " holds no PEM certificate"},
        {"tls_server_config:\n  cert_file: cert.pem\n  key_file: cert.pem\n",
         "key_file " + dir.filePath("cert.pem") + " holds no unencrypted PEM private key (RSA, EC or DSA)"},
        {tls + "  client_auth_type: VerifyClientCertIfGiven\n",
         "client_auth_type 'VerifyClientCertIfGiven' is not supported (NoClientCert, RequestClientCert, "
         "RequireAnyClientCert or RequireAndVerifyClientCert)"},
        {tls + "  client_ca_file: cert.pem\n", "client_ca_file is given, so client_auth_type must be RequireAndVerifyClientCert"},
        {tls + "  client_auth_type: RequireAndVerifyClientCert\n",
         "client_auth_type RequireAndVerifyClientCert needs client_ca_file"},
        {"basic_auth_users:\n  bob: secret\n", "basic_auth_users: the password of 'bob' is not a bcrypt hash"},
        {"basic_auth_users: [alice]\n", "basic_auth_users must be a mapping"},
        {"basic_auth_users:\n  alice: 'x\n", "is not valid YAML (line 3: found unexpected end of stream)"},
    };
    for (const auto& c : cases) {
        const QString path = test::writeFile(dir.path(), "web.yml", c.yaml);
        const Result<WebConfig> web = WebConfig::load(path);
        EXPECT_FALSE(web) << c.yaml.toStdString();
        EXPECT_EQ(web.error().description, "the web configuration " + path + " " + c.why) << c.yaml.toStdString();
        EXPECT_FALSE(web.error().description.contains("secret"));
    }
    const Result<WebConfig> absent = WebConfig::load(dir.filePath("absent.yml"));
    EXPECT_FALSE(absent);
    EXPECT_EQ(absent.error().description,
              "the web configuration " + dir.filePath("absent.yml") + " cannot be read: No such file or directory");

    const Result<WebConfig> empty = WebConfig::load(test::writeFile(dir.path(), "web.yml", ""));
    ASSERT_TRUE(empty) << empty.error().description.toStdString();
    EXPECT_FALSE(empty->tls);
    EXPECT_TRUE(empty->users.isEmpty());
}

// TLS with a certificate the client trusts, basic authentication on every path; a plain request to the TLS
// port and a client that does not trust the certificate get nothing.
TEST(MetricsServer, TlsAndBasicAuthentication)
{
    QTemporaryDir dir;
    ASSERT_TRUE(test::makeCertificate(dir.path()));
    const QString path = test::writeFile(dir.path(), "web.yml",
                                         QByteArray("tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n"
                                                    "basic_auth_users:\n  alice: '") +
                                             test::kBcryptOfUStarU + "'\n");
    const Result<WebConfig> web = WebConfig::load(path);
    ASSERT_TRUE(web) << web.error().description.toStdString();
    Counters c;
    MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 1000ms);
    server.setLimits(quickLimits());
    server.setWebConfig(*web);
    const quint16 port = listen(server);

    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.setCaCertificates(QSslCertificate::fromPath(dir.filePath("cert.pem")));
    const struct {
        QByteArray request;
        int status;
    } cases[] = {
        {"GET /metrics HTTP/1.1\r\nAuthorization: Basic " + QByteArray("alice:U*U").toBase64() + "\r\n\r\n", 200},
        {"GET /metrics HTTP/1.1\r\nAuthorization: Basic " + QByteArray("alice:U*V").toBase64() + "\r\n\r\n", 401},
        {"GET /metrics HTTP/1.1\r\nAuthorization: Basic " + QByteArray("bob:U*U").toBase64() + "\r\n\r\n", 401},
        {"GET /metrics HTTP/1.1\r\nAuthorization: Bearer abc\r\n\r\n", 401},
        {"GET / HTTP/1.1\r\n\r\n", 401},
    };
    for (const auto& k : cases) {
        RawClient client(port, trusting);
        ASSERT_TRUE(static_cast<QSslSocket*>(client.socket.get())->isEncrypted());
        client.send(k.request);
        ASSERT_TRUE(waitFor([&] { return client.got.contains("\r\n\r\n"); }, 3000)) << k.request.toStdString();
        EXPECT_EQ(client.statuses(), QList<int>{k.status}) << k.request.toStdString();
        if (k.status == 401) {
            EXPECT_TRUE(client.got.contains("\r\nWWW-Authenticate: Basic realm=\"ferrowind\"\r\n"));
        } else {
            EXPECT_TRUE(client.got.endsWith("\r\n\r\npage\n"));
        }
    }

    RawClient plain(port);
    plain.send("GET /metrics HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(plain.closedWithin(2000));
    EXPECT_FALSE(plain.got.contains("HTTP/1.1"));

    RawClient untrusting(port, QSslConfiguration::defaultConfiguration());
    EXPECT_FALSE(static_cast<QSslSocket*>(untrusting.socket.get())->isEncrypted());
    EXPECT_EQ(c.reads.load(), 1);
}

// With client certificates required and verified, a client without one is turned away in the handshake.
TEST(MetricsServer, ClientCertificatesWhenRequired)
{
    QTemporaryDir dir;
    ASSERT_TRUE(test::makeCertificate(dir.path()));
    const QString path = test::writeFile(dir.path(), "web.yml",
                                         "tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n"
                                         "  client_ca_file: cert.pem\n  client_auth_type: RequireAndVerifyClientCert\n");
    const Result<WebConfig> web = WebConfig::load(path);
    ASSERT_TRUE(web) << web.error().description.toStdString();
    Counters c;
    MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 1000ms);
    server.setLimits(quickLimits());
    server.setWebConfig(*web);
    const quint16 port = listen(server);

    QSslConfiguration anonymous = QSslConfiguration::defaultConfiguration();
    anonymous.setCaCertificates(QSslCertificate::fromPath(dir.filePath("cert.pem")));
    QSslConfiguration known = anonymous;
    known.setLocalCertificate(QSslCertificate::fromPath(dir.filePath("cert.pem")).value(0));
    QFile key(dir.filePath("key.pem"));
    ASSERT_TRUE(key.open(QIODevice::ReadOnly));
    known.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));

    RawClient withCert(port, known);
    withCert.send("GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(withCert.closedWithin(3000));
    EXPECT_EQ(withCert.statuses(), QList<int>{200});

    RawClient without(port, anonymous);
    without.send("GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n");
    without.closedWithin(3000);
    EXPECT_TRUE(without.statuses().isEmpty());
    EXPECT_EQ(c.reads.load(), 1);
}
