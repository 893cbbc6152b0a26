// The metrics server's scheduling (reads one at a time, the rest of each scrape side by side, no scrape
// answered later than its deadline) and its HTTP over loopback: the limits each client is held to, the
// answers in request order, and the end that lets scrapes in flight finish.
#include "cli/MetricsServer.h"
#include "cli/ScrapePage.h"
#include "cli/WebConfig.h"
#include "platform/LeftThreads.h"
#include "support/HttpGets.h"
#include "support/TestCertificate.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>
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

#include <sys/socket.h>

using namespace fw;
using namespace std::chrono_literals;

namespace {

struct Counters {
    std::atomic_int reads{0};
    std::atomic_int reading{0};
    std::atomic_int mostReading{0};
};

// A scrape whose read takes `readMs` and whose rest takes `restMs`.
MetricsServer::Scrape slowScrape(Counters& c, int readMs, int restMs)
{
    return [&c, readMs, restMs](MetricsServer::Clock::time_point) -> MetricsServer::Finish {
        ++c.reads;
        const int now = ++c.reading;
        c.mostReading.store(std::max(c.mostReading.load(), now));
        QThread::msleep(static_cast<unsigned long>(readMs));
        --c.reading;
        return [restMs](MetricsServer::Clock::time_point) {
            QThread::msleep(static_cast<unsigned long>(restMs));
            return QByteArray("page\n");
        };
    };
}

QString serve(MetricsServer& server)
{
    const Result<quint16> port = server.listen(QHostAddress::LocalHost, 0);
    EXPECT_TRUE(port) << port.error().description.toStdString();
    return QStringLiteral("http://127.0.0.1:%1/metrics").arg(port.valueOr(0));
}

template <class Cond>
bool waitFor(Cond cond, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return cond();
}

// A client that writes raw bytes and collects whatever comes back, the server running on the same thread;
// over TLS when given a configuration.
struct RawClient {
    explicit RawClient(quint16 port, const std::optional<QSslConfiguration>& tls = std::nullopt)
    {
        auto* ssl = tls ? new QSslSocket : nullptr;
        socket.reset(ssl ? ssl : new QTcpSocket);
        QObject::connect(socket.get(), &QTcpSocket::readyRead, [this] { got += socket->readAll(); });
        if (ssl) {
            ssl->setSslConfiguration(*tls);
            ssl->connectToHostEncrypted("127.0.0.1", port);
            waitFor([ssl] { return ssl->isEncrypted() || ssl->state() == QAbstractSocket::UnconnectedState; }, 3000);
        } else {
            socket->connectToHost(QHostAddress::LocalHost, port);
            waitFor(
                [this] {
                    return socket->state() != QAbstractSocket::HostLookupState &&
                           socket->state() != QAbstractSocket::ConnectingState;
                },
                2000);
        }
    }
    void send(const QByteArray& bytes) { socket->write(bytes); }
    // True when the server closed the connection within `ms`.
    bool closedWithin(int ms)
    {
        return waitFor([this] { return socket->state() == QAbstractSocket::UnconnectedState; }, ms);
    }
    QList<int> statuses() const
    {
        QList<int> out;
        static const QRegularExpression status("HTTP/1\\.1 (\\d{3}) ");
        for (auto it = status.globalMatch(QString::fromLatin1(got)); it.hasNext();)
            out.append(it.next().captured(1).toInt());
        return out;
    }
    std::unique_ptr<QTcpSocket> socket;
    QByteArray got;
};

quint16 listen(MetricsServer& server)
{
    const Result<quint16> port = server.listen(QHostAddress::LocalHost, 0);
    EXPECT_TRUE(port) << port.error().description.toStdString();
    return port.valueOr(0);
}

// Opens a gate when it goes, before the server that waits on it.
struct OpenAtEnd {
    std::shared_ptr<std::atomic_bool> gate;
    ~OpenAtEnd() { gate->store(true); }
};

// Short times, so that the cases about them stay short.
HttpLimits quickLimits()
{
    HttpLimits l;
    l.headerTimeout = 400ms;
    l.idleTimeout = 600ms;
    l.writeTimeout = 600ms;
    l.maxConnections = 3;
    return l;
}

} // namespace

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
            return [](MetricsServer::Clock::time_point) { return QByteArray("page\n"); };
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
    static const QRegularExpression headEnd("\r\nContent-Length: 5\r\nDate: [^\r\n]+\r\n\r\n$");
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
        ASSERT_EQ(::shutdown(static_cast<int>(client.socket->socketDescriptor()), SHUT_WR), 0);
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

// The page's own time gives way to the server's, which counts from the scrape's request.
TEST(ScrapePage, TheServersTimeReplacesThePages)
{
    const QString page = "# HELP ferrowind_up 1 when read.\n# TYPE ferrowind_up gauge\nferrowind_up 1\n"
                         "# HELP ferrowind_scrape_duration_seconds Time taken to read the state for this page.\n"
                         "# TYPE ferrowind_scrape_duration_seconds gauge\nferrowind_scrape_duration_seconds 0.01\n";
    EXPECT_EQ(withScrapeDuration(page, 2.5),
              "# HELP ferrowind_up 1 when read.\n# TYPE ferrowind_up gauge\nferrowind_up 1\n"
              "# HELP ferrowind_scrape_duration_seconds Time from the scrape's request to this page, a wait for a read in "
              "progress included.\n"
              "# TYPE ferrowind_scrape_duration_seconds gauge\nferrowind_scrape_duration_seconds 2.5\n");
}

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

// An unknown user's password is checked as long as a known user's: against the costliest hash configured,
// and refused whatever that check says.
TEST(BasicAuth, AnUnknownUserIsCheckedAgainstAHashOfTheSameCost)
{
    const QByteArray cost05 = test::kBcryptOfUStarU;
    const QByteArray cost10 = "$2b$10$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW";
    QList<QByteArray> checked;
    BasicAuth auth({{"alice", cost05}, {"bob", cost10}}, [&](const QByteArray&, const QByteArray& hash) {
        checked.append(hash);
        return true;
    });
    const struct {
        QByteArray offered;
        QByteArray hash;
        bool allowed;
    } cases[] = {
        {"alice:x", cost05, true},
        {"bob:x", cost10, true},
        {"carol:x", cost10, false},
        {":x", cost10, false},
    };
    for (const auto& k : cases) {
        checked.clear();
        const std::optional<BasicAuth::Credentials> offered = auth.parse("Basic " + k.offered.toBase64());
        ASSERT_TRUE(offered) << k.offered.toStdString();
        EXPECT_EQ(auth.check(*offered), k.allowed) << k.offered.toStdString();
        EXPECT_EQ(checked, QList<QByteArray>{k.hash}) << k.offered.toStdString();
    }
}

// The scheme's name in any case; the whole password counts, a NUL in it included.
TEST(BasicAuth, AuthorizationValuesAreReadAsSent)
{
    BasicAuth auth({{"alice", test::kBcryptOfUStarU}});
    const auto allows = [&](const QByteArray& value) {
        const std::optional<BasicAuth::Credentials> c = auth.parse(value);
        return c && (auth.known(*c) || auth.check(*c));
    };
    const QByteArray right = QByteArray("alice:U*U").toBase64();
    const struct {
        QByteArray value;
        bool allowed;
    } cases[] = {
        {"Basic " + right, true},
        {"BASIC " + right, true},
        {"bAsIc   " + right, true},
        {"Basic " + QByteArray("alice:U*U\0junk", 14).toBase64(), false},
        {"Basic " + QByteArray("alice:U*U\0", 10).toBase64(), false},
        {"Basic " + QByteArray("alice:U*V").toBase64(), false},
        {"Basic " + QByteArray("aliceU*U").toBase64(), false},
        {"Basic !" + right, false},
        {"Basic", false},
        {"Bearer " + right, false},
        {"Basic" + right, false},
    };
    for (const auto& k : cases)
        EXPECT_EQ(allows(k.value), k.allowed) << k.value.toStdString();
}

// Credentials found right are remembered up to a bound, the oldest forgotten first.
TEST(BasicAuth, RemembersABoundedNumberOfCredentials)
{
    QHash<QString, QByteArray> users;
    for (int i = 0; i <= BasicAuth::kRemembered; ++i)
        users.insert(QStringLiteral("user%1").arg(i), test::kBcryptOfUStarU);
    BasicAuth auth(users);
    QList<BasicAuth::Credentials> offered;
    for (int i = 0; i <= BasicAuth::kRemembered; ++i) {
        offered.append(*auth.parse("Basic " + QStringLiteral("user%1:U*U").arg(i).toUtf8().toBase64()));
        EXPECT_FALSE(auth.known(offered.last()));
        EXPECT_TRUE(auth.check(offered.last()));
        EXPECT_TRUE(auth.known(offered.last()));
    }
    EXPECT_FALSE(auth.known(offered.first()));
    for (qsizetype i = 1; i < offered.size(); ++i)
        EXPECT_TRUE(auth.known(offered[i])) << i;
    EXPECT_EQ(BasicAuth::kRemembered, 16);
}

// A file is refused, with what is wrong in it, rather than served in part.
TEST(WebConfig, UnknownKeysUnreadableFilesAndWeakSettingsAreRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(test::makeCertificate(dir.path()));
    test::writeFile(dir.path(), "garbage.pem", "not a certificate\n");
    QTemporaryDir other; // a second certificate: its key is not the first one's
    ASSERT_TRUE(test::makeCertificate(other.path()));
    ASSERT_TRUE(QFile::copy(other.filePath("key.pem"), dir.filePath("otherkey.pem")));
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
        {"tls_server_config:\n  cert_file: cert.pem\n  key_file: otherkey.pem\n",
         "cert_file " + dir.filePath("cert.pem") + " and key_file " + dir.filePath("otherkey.pem") +
             " make no TLS server (is the key the certificate's own?): Unable to init SSL Context"},
        {tls + "  client_auth_type: VerifyClientCertIfGiven\n",
         "client_auth_type 'VerifyClientCertIfGiven' is not supported (NoClientCert, RequestClientCert, "
         "RequireAnyClientCert or RequireAndVerifyClientCert)"},
        {tls + "  client_ca_file: cert.pem\n", "client_ca_file is given, so client_auth_type must be RequireAndVerifyClientCert"},
        {tls + "  client_auth_type: RequireAndVerifyClientCert\n",
         "client_auth_type RequireAndVerifyClientCert needs client_ca_file"},
        {"basic_auth_users:\n  bob: secret\n", "basic_auth_users: the password of 'bob' is not a bcrypt hash"},
        {"basic_auth_users:\n  bob: '$2b$03$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW'\n",
         "basic_auth_users: the bcrypt hash of 'bob' has cost 03, not 04 to 31"},
        {"basic_auth_users:\n  bob: '$2b$32$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW'\n",
         "basic_auth_users: the bcrypt hash of 'bob' has cost 32, not 04 to 31"},
        {"basic_auth_users:\n  bob: '$2b$99$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW'\n",
         "basic_auth_users: the bcrypt hash of 'bob' has cost 99, not 04 to 31"},
        {"basic_auth_users:\n  bob: '$2b$1x$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW'\n",
         "basic_auth_users: the password of 'bob' is not a bcrypt hash"},
        {"basic_auth_users:\n  bob: '$2b$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOe!'\n",
         "basic_auth_users: the password of 'bob' is not a bcrypt hash"},
        {"basic_auth_users:\n  bob: '$2b$05_CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW'\n",
         "basic_auth_users: the password of 'bob' is not a bcrypt hash"},
        {"basic_auth_users:\n  bob: '" + QByteArray(test::kBcryptOfUStarU) + "'\n  bob: '" + test::kBcryptOfUStarU + "'\n",
         "basic_auth_users has the key 'bob' twice"},
        {tls + "  cert_file: cert.pem\n", "tls_server_config has the key 'cert_file' twice"},
        {"basic_auth_users:\nbasic_auth_users:\n", "the file has the key 'basic_auth_users' twice"},
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

QByteArray basicRequest(const QByteArray& userAndPassword)
{
    return "GET /metrics HTTP/1.1\r\nAuthorization: Basic " + userAndPassword.toBase64() + "\r\n\r\n";
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
