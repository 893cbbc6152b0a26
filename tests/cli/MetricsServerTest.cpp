// The metrics server's scheduling: reads one at a time, the rest of each scrape side by side, and no
// scrape answered later than its deadline.
#include "cli/MetricsServer.h"
#include "support/HttpGets.h"

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QThread>
#include <atomic>

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
        return [restMs] {
            QThread::msleep(static_cast<unsigned long>(restMs));
            return QByteArray("page\n");
        };
    };
}

QString serve(MetricsServer& server)
{
    QString error;
    const quint16 port = server.listen(QHostAddress::LocalHost, 0, &error);
    EXPECT_NE(port, 0) << error.toStdString();
    return QStringLiteral("http://127.0.0.1:%1/metrics").arg(port);
}

} // namespace

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

TEST(MetricsServer, APortInUseIsRefusedWithTheReason)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    Counters c;
    MetricsServer server(slowScrape(c, 0, 0), "timeout\n", 400ms);
    QString error;
    EXPECT_EQ(server.listen(QHostAddress::LocalHost, taken.serverPort(), &error), 0);
    EXPECT_EQ(error, "The bound address is already in use");
}
