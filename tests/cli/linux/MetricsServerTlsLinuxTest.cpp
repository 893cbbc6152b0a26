// The metrics server over TLS and with basic authentication, against clients on loopback. Linux's: certificates are
// made by openssl and passwords checked with bcrypt (the Windows build has none, and Wine's schannel does not serve
// TLS).
#include "cli/MetricsServerTesting.h"

#include "cli/WebConfig.h"
#include "support/TestCertificate.h"

#include <QFile>
#include <QSslKey>
#include <QTemporaryDir>

using namespace fw;
using namespace fw::test;
using namespace std::chrono_literals;

// TLS with a certificate the client trusts, basic authentication on every path; a plain request to the TLS
// port gets 400 in plain HTTP, a client that does not trust the certificate nothing.
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

    // Plain HTTP to the TLS port: told so in plain HTTP, and closed.
    RawClient plain(port);
    plain.send("GET /metrics HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(plain.closedWithin(2000));
    EXPECT_EQ(plain.statuses(), QList<int>{400});
    EXPECT_TRUE(plain.got.endsWith("Connection: close\r\n\r\nClient sent an HTTP request to an HTTPS server.\n"))
        << plain.got.toStdString();

    RawClient untrusting(port, QSslConfiguration::defaultConfiguration());
    EXPECT_FALSE(static_cast<QSslSocket*>(untrusting.socket.get())->isEncrypted());
    EXPECT_EQ(c.reads.load(), 1);
}

// Wrong passwords being checked (bcrypt: slow, two at a time) hold up no scrape with credentials found right
// before, and past the cap on checks they are turned away at once instead of queueing ever longer.
TEST(MetricsServer, WrongPasswordsNeitherDelayKnownCredentialsNorQueueWithoutBound)
{
    WebConfig web;
    web.users.insert("alice", test::kBcryptOfUStarU);
    auto open = std::make_shared<std::atomic_bool>(false); // until then, checks of wrong passwords hang
    auto checks = std::make_shared<std::atomic_int>(0);
    Counters c;
    MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 2000ms);
    HttpLimits l = quickLimits();
    l.maxConnections = 16;
    l.maxAuthChecks = 3;
    l.headerTimeout = l.idleTimeout = 10000ms;
    server.setLimits(l);
    const OpenAtEnd openAtEnd{open};
    server.setWebConfig(web, [open, checks](const QByteArray& password, const QByteArray& hash) {
        ++*checks;
        while (password != "U*U" && !open->load())
            QThread::msleep(5);
        return bcryptMatches(password, hash);
    });
    const quint16 port = listen(server);
    const auto answered = [](RawClient& client) { return waitFor([&] { return client.got.contains("\r\n\r\n"); }, 5000); };

    RawClient first(port);
    first.send(basicRequest("alice:U*U"));
    ASSERT_TRUE(answered(first));
    EXPECT_EQ(first.statuses(), QList<int>{200});

    std::vector<std::unique_ptr<RawClient>> wrong;
    for (int i = 0; i < 3; ++i) {
        wrong.push_back(std::make_unique<RawClient>(port));
        wrong.back()->send(basicRequest("alice:wrong"));
    }
    ASSERT_TRUE(waitFor([&] { return checks->load() == 3; }, 5000)) << "two checks running, one queued";
    RawClient turnedAway(port);
    turnedAway.send(basicRequest("alice:wrong"));
    EXPECT_TRUE(answered(turnedAway));
    EXPECT_EQ(turnedAway.statuses(), QList<int>{429});
    EXPECT_TRUE(turnedAway.got.contains("\r\nRetry-After: 1\r\n"));
    RawClient known(port);
    known.send(basicRequest("alice:U*U"));
    EXPECT_TRUE(answered(known)) << "a known credential waits for no check";
    EXPECT_EQ(known.statuses(), QList<int>{200});
    EXPECT_EQ(checks->load(), 3);

    open->store(true);
    for (auto& w : wrong) {
        EXPECT_TRUE(answered(*w));
        EXPECT_EQ(w->statuses(), QList<int>{401});
    }
    RawClient later(port); // the checks are done: a wrong password is checked again, not turned away
    later.send(basicRequest("alice:wrong"));
    EXPECT_TRUE(answered(later));
    EXPECT_EQ(later.statuses(), QList<int>{401});
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
