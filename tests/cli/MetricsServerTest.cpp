// The metrics server's scheduling (reads one at a time, the rest of each scrape side by side, no scrape
// answered later than its deadline) and its HTTP over loopback: the limits each client is held to, the
// answers in request order, and the end that lets scrapes in flight finish.
#include "cli/MetricsServer.h"
#include "cli/MetricsServerFixture.h"
#include "cli/WebConfig.h"
#include "platform/LeftThreads.h"
#include "support/HttpGets.h"

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

// Three scrapes whose slow part (a probe of silent domain controllers) takes most of the deadline: done one
// after the other they would miss it; each must still get the page.
TEST(MetricsServer, ReadsOneAtATimeAndTheRestSideBySide)
{
    Counters c;
    MetricsServer server(slowScrape(c, 30, 900), "timeout\n", 1500ms);
    for (const auto& r : test::getAll(QStringList(3, serve(server)))) {
        EXPECT_EQ(r.first, 200);
        EXPECT_EQ(r.second, "page\n");
    }
    EXPECT_EQ(c.reads.load(), 3);
    EXPECT_EQ(c.mostReading.load(), 1);
}

// A read that outlasts the deadline: its scrape gets the timeout page in time, and a scrape queued behind it
// whose deadline passed meanwhile reads nothing at all.
TEST(MetricsServer, ScrapesPastTheirDeadlineGetTheTimeoutPageAndReadNothing)
{
    Counters c;
    MetricsServer server(slowScrape(c, 1200, 0), "timeout\n", 400ms);
    for (const auto& r : test::getAll(QStringList(2, serve(server)))) {
        EXPECT_EQ(r.first, 200);
        EXPECT_EQ(r.second, "timeout\n");
    }
    QThread::msleep(1500); // the first read ends; the queued one would start now
    server.stop();
    EXPECT_EQ(c.reads.load(), 1);
}

// A read still running when the server stops has had its deadline: the program must not end by destroying the
// context it reads, until the read has ended.
TEST(MetricsServer, AReadThatOutlastsTheStopKeepsTheProgramFromEndingUntilItEnds)
{
    auto release = std::make_shared<std::atomic_bool>(false);
    MetricsServer server(
        [release](MetricsServer::Clock::time_point) -> MetricsServer::Finish {
            while (!release->load())
                QThread::msleep(5);
            return [] { return QByteArray("page\n"); };
        },
        "timeout\n", 300ms);
    EXPECT_EQ(test::getAll(QStringList{serve(server)}).value(0).second, "timeout\n");
    server.stop();
    EXPECT_TRUE(LeftThreads::anyRunning());
    release->store(true);
    EXPECT_TRUE(waitFor([] { return !LeftThreads::anyRunning(); }, 2000));
}

TEST(MetricsServer, APortInUseIsRefusedWithTheReason)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    Counters c;
    MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 400ms);
    const Result<quint16> port = server.listen(QHostAddress::LocalHost, taken.serverPort());
    EXPECT_FALSE(port);
    EXPECT_EQ(port.error().description, "The bound address is already in use");
}

// Each fault is answered with its status, and the connection closed when what follows cannot be trusted.
TEST(MetricsServer, ProtocolFaultsAreAnsweredWithTheirStatus)
{
    Counters c;
    MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 1000ms);
    server.setLimits(quickLimits());
    const quint16 port = listen(server);
    const struct {
        QByteArray request;
        int status;
        bool closes;
    } cases[] = {
        {"GET /metrics HTTP/1.1\r\nX-Big: " + QByteArray(9000, 'a') + "\r\n\r\n", 431, true},
        {"GET /metrics HTTP/1.1\r\nX-Big: " + QByteArray(9000, 'a'), 431, true}, // no end of headers yet
        {"GET /metrics HTTP/1.1\r\nContent-Length: 1073741824\r\n\r\nxxxx", 413, true},
        {"GET /metrics HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 413, true},
        {"HEAD /metrics HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 413, true},
        {"GET /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 200, false},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 405, true},
        {"DELETE /metrics HTTP/1.1\r\n\r\n", 405, false},
        {"GET /metrics HTTP/2.0\r\n\r\n", 505, true},
        {"GET /metrics\r\n\r\n", 400, true},
        {"GET /metrics HTTP/1.1\r\n folded: header\r\n\r\n", 400, true},
        {"GET /metrics HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", 400, true},
        {"GET /nope HTTP/1.1\r\n\r\n", 404, false},
        {"GET http://127.0.0.1/metrics?x=1 HTTP/1.1\r\n\r\n", 200, false},
    };
    for (const auto& k : cases) {
        RawClient client(port);
        client.send(k.request);
        const bool closed = client.closedWithin(k.closes ? 2000 : 200);
        EXPECT_EQ(client.statuses(), QList<int>{k.status}) << k.request.left(60).toStdString();
        EXPECT_EQ(closed, k.closes) << k.request.left(60).toStdString();
    }
}

TEST(MetricsServer, LandingPageHeadAndPipelinedAnswersInRequestOrder)
{
    Counters c;
    MetricsServer server(slowScrape(c, 50, 0), "timeout\n", 2000ms);
    server.setLimits(quickLimits());
    RawClient client(listen(server));
    client.send("GET /metrics HTTP/1.1\r\n\r\nGET /nope HTTP/1.1\r\n\r\nHEAD /metrics?a HTTP/1.1\r\n\r\n"
                "GET / HTTP/1.1\r\n\r\nGET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(client.closedWithin(3000));
    EXPECT_EQ(client.statuses(), (QList<int>{200, 404, 200, 200, 200}));
    const QByteArray all = client.got;
    // The HEAD answer announces the page's length and sends no page.
    const qsizetype head = all.indexOf("HTTP/1.1 200 OK", all.indexOf("404 Not Found"));
    const qsizetype landing = all.indexOf("HTTP/1.1 200 OK", head + 1);
    EXPECT_TRUE(all.mid(head, landing - head).endsWith("Content-Length: 5\r\n\r\n"))
        << all.mid(head, landing - head).toStdString();
    EXPECT_TRUE(all.mid(landing).contains("<a href=\"/metrics\">")) << all.mid(landing).toStdString();
    EXPECT_TRUE(all.endsWith("Connection: close\r\n\r\npage\n"));
}

TEST(MetricsServer, Http10GetsOneAnswerAndTheClose)
{
    Counters c;
    MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 1000ms);
    server.setLimits(quickLimits());
    RawClient client(listen(server));
    client.send("GET /metrics HTTP/1.0\r\n\r\nGET /metrics HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(client.closedWithin(2000));
    EXPECT_EQ(client.statuses(), QList<int>{200});
}

// A client that sends a byte at a time, one that sends nothing, and one that goes quiet after an answer:
// each is let go after its time, not held for as long as it likes.
TEST(MetricsServer, SlowAndIdleClientsAreDropped)
{
    Counters c;
    MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 1000ms);
    server.setLimits(quickLimits()); // a request within 400 ms, 600 ms idle between requests
    const quint16 port = listen(server);

    RawClient slow(port);
    const QByteArray request = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
    QElapsedTimer t;
    t.start();
    for (char ch : request) {
        slow.send(QByteArray(1, ch));
        if (slow.closedWithin(50))
            break;
    }
    EXPECT_EQ(slow.socket->state(), QAbstractSocket::UnconnectedState);
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_TRUE(slow.statuses().isEmpty());

    RawClient silent(port);
    EXPECT_FALSE(silent.closedWithin(250));
    EXPECT_TRUE(silent.closedWithin(1000));

    RawClient quiet(port);
    quiet.send(request);
    EXPECT_FALSE(quiet.closedWithin(450)); // answered, then idle: more than the request time is allowed
    EXPECT_TRUE(quiet.closedWithin(1000));
    EXPECT_EQ(quiet.statuses(), QList<int>{200});
}

TEST(MetricsServer, ConnectionsBeyondTheCapAreRefusedAtOnce)
{
    Counters c;
    MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 1000ms);
    HttpLimits l = quickLimits();
    l.headerTimeout = l.idleTimeout = 5000ms;
    server.setLimits(l);
    const quint16 port = listen(server);
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 3; ++i)
        idle.push_back(std::make_unique<RawClient>(port));
    ASSERT_TRUE(waitFor([&] { return server.connectionCount() == 3; }, 2000));

    RawClient refused(port);
    EXPECT_TRUE(refused.closedWithin(1000));
    EXPECT_EQ(refused.statuses(), QList<int>{503});

    idle.front().reset(); // a place comes free
    ASSERT_TRUE(waitFor([&] { return server.connectionCount() == 2; }, 2000));
    RawClient served(port);
    served.send("GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(served.closedWithin(2000));
    EXPECT_EQ(served.statuses(), QList<int>{200});
}

// The end asked for: idle connections close at once, no new one is taken, and the scrape in progress is
// answered before the server says it is done.
TEST(MetricsServer, DrainLetsTheScrapeInProgressFinish)
{
    Counters c;
    MetricsServer server(slowScrape(c, 0, 400), "timeout\n", 2000ms);
    server.setLimits(quickLimits());
    const quint16 port = listen(server);
    RawClient idle(port);
    RawClient scraping(port);
    scraping.send("GET /metrics HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(waitFor([&] { return c.reads.load() == 1; }, 2000));

    bool done = false;
    server.drain([&] { done = true; });
    EXPECT_TRUE(idle.closedWithin(200));
    EXPECT_FALSE(done);
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(waitFor([&] { return late.state() == QAbstractSocket::UnconnectedState; }, 1000));

    EXPECT_TRUE(waitFor([&] { return done; }, 2000));
    EXPECT_TRUE(scraping.closedWithin(500));
    EXPECT_EQ(scraping.statuses(), QList<int>{200});
    EXPECT_TRUE(scraping.got.endsWith("Connection: close\r\n\r\npage\n"));
}
