// The metrics server's scheduling (reads one at a time, the rest of each scrape side by side, shared by scrapes
// that come during a read, no scrape answered later than its deadline) and its HTTP over loopback: the limits
// each client is held to, the answers in request order, and the end that lets scrapes in flight finish.
#include "MetricsServerTesting.h"

#include "cli/Gzip.h"
#include "cli/MetricsServer.h"
#include "platform/LeftThreads.h"
#include "support/HalfClose.h"
#include "support/HttpGets.h"

#include <QDateTime>
#include <QLocale>
#include <QTcpServer>

using namespace fw;
using namespace fw::test;
using namespace std::chrono_literals;

// What operators take for granted: the page at the path asked for, /-/healthy and /-/ready, and the server's
// own families on the page, its answers by status and the process's resources.
TEST(MetricsServer, TelemetryPathHealthReadyAndOwnMetrics)
{
    Counters c;
    MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 2000ms);
    server.setLimits(quickLimits());
    server.setTelemetryPath("/probe/ferrowind");
    server.setOwnMetrics(true);
    RawClient client(listen(server));
    client.send("GET /metrics HTTP/1.1\r\n\r\nGET /-/healthy HTTP/1.1\r\n\r\nGET /-/ready HTTP/1.1\r\n\r\n"
                "GET / HTTP/1.1\r\n\r\nGET /probe/ferrowind HTTP/1.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(client.closedWithin(3000));
    EXPECT_EQ(client.statuses(), (QList<int>{404, 200, 200, 200, 200}));
    EXPECT_TRUE(client.got.contains("\r\n\r\nHealthy\nHTTP/1.1 200 OK\r\n")) << client.got.toStdString();
    EXPECT_TRUE(client.got.contains("\r\n\r\nReady\nHTTP/1.1 200 OK\r\n")) << client.got.toStdString();
    EXPECT_TRUE(client.got.contains("<a href=\"/probe/ferrowind\">Metrics</a>")) << client.got.toStdString();
    const QByteArray page = client.got.mid(client.got.lastIndexOf("\r\n\r\n") + 4);
    EXPECT_TRUE(page.startsWith("page\n# HELP ferrowind_http_requests_total Answers the server gave, by HTTP status code.\n"
                                "# TYPE ferrowind_http_requests_total counter\n"
                                "ferrowind_http_requests_total{code=\"200\"} 3\n"
                                "ferrowind_http_requests_total{code=\"404\"} 1\n"))
        << page.toStdString();
    for (const char* family : {"process_cpu_seconds_total", "process_virtual_memory_bytes", "process_resident_memory_bytes",
                               "process_open_fds", "process_max_fds", "process_start_time_seconds"})
        EXPECT_TRUE(QRegularExpression(QStringLiteral("\n%1 [0-9.e+]+\n").arg(family)).match(QString::fromUtf8(page)).hasMatch())
            << family << "\n"
            << page.toStdString();
    static const QRegularExpression start("\nprocess_start_time_seconds ([0-9.e+]+)\n");
    const double started = start.match(QString::fromUtf8(page)).captured(1).toDouble();
    EXPECT_LE(started, QDateTime::currentSecsSinceEpoch() + 1.0);
    EXPECT_GT(started, QDateTime::currentSecsSinceEpoch() - 24 * 3600.0) << "this test's process started within the day";
}

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
    EXPECT_EQ(c.mostReading.load(), 1);
}

// Scrapes that come while a read runs wait for that read: one read, an answer for each, and the time each
// scrape took counted from its own arrival, its wait included.
TEST(MetricsServer, ScrapesDuringAReadShareIt)
{
    auto release = std::make_shared<std::atomic_bool>(false);
    auto reads = std::make_shared<std::atomic_int>(0);
    MetricsServer server(
        [release, reads](MetricsServer::Clock::time_point) -> MetricsServer::Finish {
            ++*reads;
            while (!release->load())
                QThread::msleep(5);
            return [](MetricsServer::Clock::time_point arrived) {
                const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(MetricsServer::Clock::now() - arrived);
                return QByteArray::number(qint64(waited.count()));
            };
        },
        "timeout\n", 10000ms);
    const OpenAtEnd openAtEnd{release};
    HttpLimits l = quickLimits();
    l.headerTimeout = l.idleTimeout = 10000ms;
    server.setLimits(l);
    const quint16 port = listen(server);
    const QByteArray scrape = "GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n";

    RawClient first(port);
    first.send(scrape);
    ASSERT_TRUE(waitFor([&] { return reads->load() == 1; }, 5000));
    RawClient second(port);
    RawClient third(port);
    second.send(scrape);
    third.send(scrape);
    ASSERT_TRUE(waitFor([&] { return server.scrapesInProgress() == 3; }, 5000));
    QThread::msleep(300); // the read goes on while all three wait
    release->store(true);
    for (RawClient* client : {&first, &second, &third}) {
        EXPECT_TRUE(client->closedWithin(5000));
        EXPECT_EQ(client->statuses(), QList<int>{200});
        const qsizetype body = client->got.indexOf("\r\n\r\n") + 4;
        EXPECT_GE(client->got.mid(body).toInt(), 300) << client->got.toStdString();
    }
    EXPECT_EQ(reads->load(), 1);

    RawClient later(port); // the read is over: a new one for a new scrape
    later.send(scrape);
    EXPECT_TRUE(later.closedWithin(5000));
    EXPECT_EQ(later.statuses(), QList<int>{200});
    EXPECT_EQ(reads->load(), 2);
    EXPECT_EQ(server.scrapesInProgress(), 0);
}

// A read that outlasts the deadline: its scrape gets the timeout page in time, and a scrape queued behind it
// whose deadline passed meanwhile reads nothing at all.
TEST(MetricsServer, ScrapesPastTheirDeadlineGetTheTimeoutPageAndReadNothing)
{
    Counters c;
    MetricsServer server(slowScrape(c, 1200, 0), "timeout\n", 400ms);
    static const QRegularExpression timedOut("^timeout\n# HELP ferrowind_scrape_duration_seconds [^\n]+\n"
                                             "# TYPE ferrowind_scrape_duration_seconds gauge\n"
                                             "ferrowind_scrape_duration_seconds ([0-9.e-]+)\n$");
    for (const auto& r : test::getAll(QStringList(2, serve(server)))) {
        EXPECT_EQ(r.first, 200);
        // The time the page reports is the scrape's own, its deadline at least.
        const QRegularExpressionMatch m = timedOut.match(QString::fromUtf8(r.second));
        ASSERT_TRUE(m.hasMatch()) << r.second.toStdString();
        EXPECT_GE(m.captured(1).toDouble(), 0.4);
        EXPECT_LT(m.captured(1).toDouble(), 1.2) << "answered before the read ended";
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
            return [](MetricsServer::Clock::time_point) { return QByteArray("page\n"); };
        },
        "timeout\n", 300ms);
    EXPECT_TRUE(test::getAll(QStringList{serve(server)}).value(0).second.startsWith("timeout\n"));
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
    static const QRegularExpression headEnd(gzipAvailable()
                                                ? "\r\nContent-Length: 5\r\nDate: [^\r\n]+\r\nVary: Accept-Encoding\r\n\r\n$"
                                                : "\r\nContent-Length: 5\r\nDate: [^\r\n]+\r\n\r\n$");
    EXPECT_TRUE(headEnd.match(QString::fromLatin1(all.mid(head, landing - head))).hasMatch())
        << all.mid(head, landing - head).toStdString();
    // Each answer is dated, in the form HTTP gives dates.
    static const QRegularExpression date("\r\nDate: ([^\r\n]*)\r\n");
    int dated = 0;
    for (auto it = date.globalMatch(QString::fromLatin1(all)); it.hasNext(); ++dated) {
        const QString d = it.next().captured(1);
        EXPECT_TRUE(QRegularExpression("^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                       "\\d{4} \\d\\d:\\d\\d:\\d\\d GMT$")
                        .match(d)
                        .hasMatch())
            << d.toStdString();
        EXPECT_TRUE(QLocale::c().toDateTime(d, "ddd, dd MMM yyyy hh:mm:ss 'GMT'").isValid()) << d.toStdString();
    }
    EXPECT_EQ(dated, 5);
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

// A client that half-closes after its request (shutdown of its sending side, as `nc -N` does) has finished
// its request, not gone: it still gets the answers to what it sent, then the close.
TEST(MetricsServer, AHalfClosedClientIsStillAnswered)
{
    Counters c;
    MetricsServer server(slowScrape(c, 100, 0), "timeout\n", 2000ms);
    server.setLimits(quickLimits());
    const quint16 port = listen(server);
    const struct {
        QByteArray request;
        QList<int> statuses;
    } cases[] = {
        {"GET /metrics HTTP/1.0\r\n\r\n", {200}},
        {"GET /metrics HTTP/1.1\r\n\r\n", {200}},
        {"GET /metrics HTTP/1.1\r\n\r\nGET /nope HTTP/1.1\r\n\r\nGET /metrics HTTP/1.1\r\n\r\n", {200, 404, 200}},
        {"GET /metrics HTTP/1.1\r\nX-Cut: ", {}}, // an unfinished request is not answered
    };
    for (const auto& k : cases) {
        RawClient client(port);
        client.send(k.request);
        ASSERT_TRUE(client.socket->waitForBytesWritten(2000));
        ASSERT_TRUE(shutdownSending(client.socket->socketDescriptor()));
        EXPECT_TRUE(client.closedWithin(3000)) << k.request.toStdString();
        EXPECT_EQ(client.statuses(), k.statuses) << k.request.toStdString();
        if (!k.statuses.isEmpty()) {
            EXPECT_TRUE(client.got.endsWith("page\n")) << client.got.toStdString();
        }
    }
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

// Idle clients cannot keep a scrape out: at the cap, the oldest connection that has no request in progress
// is closed to make room. Only when every connection is being answered is a new one refused.
TEST(MetricsServer, AtTheCapTheOldestConnectionWithoutARequestMakesRoom)
{
    auto release = std::make_shared<std::atomic_bool>(false);
    auto reads = std::make_shared<std::atomic_int>(0);
    MetricsServer server(
        [release, reads](MetricsServer::Clock::time_point) -> MetricsServer::Finish {
            ++*reads;
            return [release](MetricsServer::Clock::time_point) {
                while (!release->load())
                    QThread::msleep(5);
                return QByteArray("page\n");
            };
        },
        "timeout\n", 10000ms);
    const OpenAtEnd openAtEnd{release}; // a case that ends early leaves no scrape hanging
    HttpLimits l = quickLimits();
    l.headerTimeout = l.idleTimeout = 10000ms;
    server.setLimits(l); // three connections
    const quint16 port = listen(server);
    const QByteArray scrape = "GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n";

    RawClient idleOld(port);
    RawClient idleNew(port);
    idleNew.send("GET /metrics HTTP/1.1\r\n"); // a request begun is no request made
    RawClient busy1(port);
    busy1.send(scrape);
    ASSERT_TRUE(waitFor([&] { return reads->load() == 1 && server.connectionCount() == 3; }, 5000));

    RawClient landing(port);
    landing.send("GET / HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(landing.closedWithin(5000));
    EXPECT_EQ(landing.statuses(), QList<int>{200});
    EXPECT_TRUE(idleOld.closedWithin(1000));
    EXPECT_TRUE(idleOld.got.isEmpty());
    EXPECT_FALSE(idleNew.closedWithin(100));

    RawClient busy2(port); // the place the landing page's client left
    busy2.send(scrape);
    ASSERT_TRUE(waitFor([&] { return server.connectionCount() == 3; }, 5000));
    EXPECT_FALSE(idleNew.closedWithin(100));
    RawClient busy3(port);
    busy3.send(scrape);
    EXPECT_TRUE(idleNew.closedWithin(5000));
    ASSERT_TRUE(waitFor([&] { return reads->load() == 3; }, 5000));
    RawClient refused(port);
    EXPECT_TRUE(refused.closedWithin(5000));
    EXPECT_EQ(refused.statuses(), QList<int>{503});

    release->store(true);
    for (RawClient* busy : {&busy1, &busy2, &busy3}) {
        EXPECT_TRUE(busy->closedWithin(5000));
        EXPECT_EQ(busy->statuses(), QList<int>{200});
    }
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
