// What the Prometheus exporters' operators and scrapers take for granted of the metrics server: log levels, gzip
// for the scrapers that take it, and a deadline no later than the scraper waits.
#include "cli/MetricsServerTesting.h"

#include "cli/Gzip.h"
#include "cli/ServerLog.h"

#include <QRandomGenerator>

#ifdef FERROWIND_HAVE_ZLIB
#include <zlib.h>
#endif

using namespace fw;
using namespace fw::test;
using namespace std::chrono_literals;

namespace {

#ifdef FERROWIND_HAVE_ZLIB
// What zlib's inflate makes of `data` as one gzip stream, its CRC-32 and length checked; empty when it refused it or
// bytes follow the stream.
QByteArray gunzip(const QByteArray& data)
{
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return {};
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    QByteArray out;
    char chunk[16384];
    int done = Z_OK;
    while (done == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        done = inflate(&z, Z_NO_FLUSH);
        out.append(chunk, qsizetype(sizeof chunk - z.avail_out));
    }
    const bool whole = done == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return whole ? out : QByteArray();
}
#endif

// The headers and body of the one answer in `got`.
std::pair<QByteArray, QByteArray> split(const QByteArray& got)
{
    const qsizetype end = got.indexOf("\r\n\r\n");
    return {got.left(end + 2), got.mid(end + 4)};
}

} // namespace

TEST(ServerLog, EachLevelWritesItsOwnAndTheMoreSevere)
{
    const QString debug = "ferrowind serve-metrics: debug: d";
    const QString info = "ferrowind serve-metrics: i";
    const QString warn = "ferrowind serve-metrics: warning: w";
    const QString error = "ferrowind serve-metrics: error: e";
    const struct {
        QString name;
        QStringList lines;
    } cases[] = {
        {"debug", {debug, info, warn, error}},
        {"info", {info, warn, error}},
        {"warn", {warn, error}},
        {"error", {error}},
    };
    for (const auto& k : cases) {
        const std::optional<LogLevel> level = logLevelNamed(k.name);
        ASSERT_TRUE(level) << k.name.toStdString();
        QStringList lines;
        const ServerLog log([&](const QString& line) { lines.append(line); }, *level);
        log.debug("d");
        log.info("i");
        log.warn("w");
        log.error("e");
        EXPECT_EQ(lines, k.lines) << k.name.toStdString();
        EXPECT_EQ(log.wants(LogLevel::Debug), k.name == "debug");
    }
    for (const char* bad : {"", "INFO", "warning", "trace", "fatal", " info"})
        EXPECT_FALSE(logLevelNamed(bad)) << bad;
    const ServerLog silent;
    EXPECT_FALSE(silent.wants(LogLevel::Error));
    silent.error("nowhere"); // writes nothing, and does not fail
}

TEST(HttpHeaders, AcceptEncodingTakesGzipWhenNamedOrLeftToAnyWithAWeight)
{
    const struct {
        QByteArray value;
        bool gzip;
    } cases[] = {
        {"gzip", true},          {"GZip", true},      {"x-gzip", true},        {"identity, gzip;q=0.5", true},
        {"deflate, gzip", true}, // as Prometheus sends it, with more
        {"gzip ; q=1.0", true},  {"*", true},         {"br, *;q=0.1", true},   {"", false},
        {"deflate, br", false},  {"gzip;q=0", false}, {"gzip;q=0.000", false}, {"*;q=0", false},
        {"gzip;q=0, *", false}, // named refused: "*" is for the others
        {"gzip;q=2", false},    // a weight that cannot be is none
        {"gzip;q=x", false},     {"gzipped", false},
    };
    for (const auto& k : cases)
        EXPECT_EQ(acceptsGzip(k.value), k.gzip) << k.value.toStdString();
}

TEST(HttpHeaders, ScrapeTimeoutIsAPositiveNumberOfSeconds)
{
    const struct {
        QByteArray value;
        std::optional<std::chrono::milliseconds> timeout;
    } cases[] = {
        {"10", 10000ms},       {"0.5", 500ms},        {" 2.25 ", 2250ms},       {"1e1", 10000ms},
        {"1e9", 86400000ms}, // a day at most
        {"0", std::nullopt},   {"-1", std::nullopt},  {"0.0001", std::nullopt}, {"", std::nullopt},
        {"ten", std::nullopt}, {"10s", std::nullopt}, {"nan", std::nullopt},    {"inf", std::nullopt},
    };
    for (const auto& k : cases)
        EXPECT_EQ(scrapeTimeoutOf(k.value), k.timeout) << k.value.toStdString();
}

// The deadline is the server's bound, or the scraper's wait less 0.5 s (a quarter of it when that is less).
TEST(MetricsServer, ADeadlineIsNoLaterThanTheScraperWaits)
{
    const struct {
        std::optional<std::chrono::milliseconds> waits;
        std::chrono::milliseconds deadline;
    } cases[] = {
        {std::nullopt, 5500ms}, {10000ms, 5500ms}, {6000ms, 5500ms}, {5800ms, 5300ms},
        {2000ms, 1500ms},       {1000ms, 750ms},   {400ms, 300ms},   {1ms, 1ms},
    };
    for (const auto& k : cases)
        EXPECT_EQ(MetricsServer::scrapeDeadline(5500ms, k.waits), k.deadline) << (k.waits ? k.waits->count() : -1);
}

// The cases follow the build's choice, not gzipAvailable(): a build that links zlib and answers uncompressed fails.
#ifdef FERROWIND_HAVE_ZLIB

TEST(Gzip, GzipReadsWhatWasCompressed)
{
    QByteArray random(100000, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
    for (const QByteArray& data : {QByteArray("ferrowind_up 1\n").repeated(1000), random, QByteArray("x")}) {
        const std::optional<QByteArray> packed = gzipped(data);
        ASSERT_TRUE(packed);
        EXPECT_TRUE(packed->startsWith("\x1f\x8b")); // gzip's magic
        EXPECT_EQ(gunzip(*packed), data);
    }
    EXPECT_LT(gzipped(QByteArray("ferrowind_up 1\n").repeated(1000))->size(), 1000);
}

// The page gzipped for a scraper that takes it (HEAD announcing the same length), as it is for one that does not;
// only the page: the server's other answers are small.
TEST(MetricsServer, ThePageIsGzippedForScrapersThatTakeIt)
{
    const QByteArray page = QByteArray("ferrowind_up 1\n").repeated(100);
    MetricsServer server(
        [page](MetricsServer::Clock::time_point) -> MetricsServer::Finish {
            return [page](MetricsServer::Clock::time_point) { return page; };
        },
        "timeout\n", 2000ms);
    server.setLimits(quickLimits());
    const quint16 port = listen(server);
    const auto ask = [&](const QByteArray& request) {
        RawClient client(port);
        client.send(request);
        EXPECT_TRUE(client.closedWithin(3000)) << request.toStdString();
        return split(client.got);
    };
    const auto [zipped, zippedBody] = ask("GET /metrics HTTP/1.1\r\nAccept-Encoding: gzip\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(zipped.contains("\r\nContent-Encoding: gzip\r\nVary: Accept-Encoding\r\n")) << zipped.toStdString();
    EXPECT_EQ(gunzip(zippedBody), page);
    EXPECT_TRUE(zipped.contains("\r\nContent-Length: " + QByteArray::number(zippedBody.size()) + "\r\n"));

    const auto [head, headBody] = ask("HEAD /metrics HTTP/1.1\r\nAccept-Encoding: gzip\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(head.contains("\r\nContent-Length: " + QByteArray::number(zippedBody.size()) + "\r\n")) << head.toStdString();
    EXPECT_TRUE(headBody.isEmpty());

    const auto [plain, plainBody] = ask("GET /metrics HTTP/1.1\r\nAccept-Encoding: gzip;q=0\r\nConnection: close\r\n\r\n");
    EXPECT_FALSE(plain.contains("Content-Encoding")) << plain.toStdString();
    EXPECT_TRUE(plain.contains("\r\nVary: Accept-Encoding\r\n")) << plain.toStdString();
    EXPECT_EQ(plainBody, page);

    const auto [landing, landingBody] = ask("GET / HTTP/1.1\r\nAccept-Encoding: gzip\r\nConnection: close\r\n\r\n");
    EXPECT_FALSE(landing.contains("Content-Encoding")) << landing.toStdString();
    EXPECT_TRUE(landingBody.contains("<a href=\"/metrics\">"));
}

#else

TEST(Gzip, GzipReadsWhatWasCompressed)
{
    GTEST_SKIP() << "built without zlib (FERROWIND_GZIP)";
}

#endif

// A read slower than every deadline: the scraper that waits 0.4 s gets its page, that of the deadline, before the
// server's bound of 1 s; one that waits 30 s gets it at the bound, not later.
TEST(MetricsServer, TheScrapersTimeoutShortensTheDeadlineButNeverLengthensIt)
{
    Counters c;
    MetricsServer server(slowScrape(c, 1500, 0), "timeout\n", 1000ms);
    server.setLimits(quickLimits());
    const quint16 port = listen(server);
    static const QRegularExpression took("\nferrowind_scrape_duration_seconds ([0-9.e-]+)\n$");
    const struct {
        QByteArray waits;
        double atLeast, before;
    } cases[] = {
        {"0.4", 0.3, 1.0},
        {"30", 1.0, 1.5},
        {"soon", 1.0, 1.5},
    };
    for (const auto& k : cases) {
        RawClient client(port);
        client.send("GET /metrics HTTP/1.1\r\nX-Prometheus-Scrape-Timeout-Seconds: " + k.waits + "\r\nConnection: close\r\n\r\n");
        ASSERT_TRUE(client.closedWithin(5000)) << k.waits.toStdString();
        const QByteArray body = split(client.got).second;
        ASSERT_TRUE(body.startsWith("timeout\n")) << body.toStdString();
        const double seconds = took.match(QString::fromUtf8(body)).captured(1).toDouble();
        EXPECT_GE(seconds, k.atLeast) << k.waits.toStdString();
        EXPECT_LT(seconds, k.before) << k.waits.toStdString();
        ASSERT_TRUE(waitFor([&] { return c.reading.load() == 0; }, 5000)); // the next case reads afresh
    }
}
