// serve-metrics on a 1,000,000-run history: scrapes per second (one client, and eight at once), with the page
// uncompressed and gzipped as Prometheus asks for it, and the server's memory over 10,000 gzipped scrapes. The
// environment is generated once into $FERROWIND_BENCH_DIR.
#include "app/DemoEnvironment.h"
#include "db/DemoData.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <csignal>

namespace {

constexpr int kRuns = 1000000;

QString environmentDir()
{
    const QString base = qEnvironmentVariable("FERROWIND_BENCH_DIR", QDir::tempPath() + QStringLiteral("/ferrowind-bench"));
    const QString dir = QDir(base).filePath(QStringLiteral("metrics-%1").arg(kRuns));
    if (QFileInfo::exists(fw::DemoEnvironment::registryPath(dir)))
        return dir;
    fw::DemoDataOptions o;
    o.dcRuns = kRuns;
    o.gcRuns = kRuns;
    o.objectRowRuns = 20;
    QDir(dir).removeRecursively();
    if (!fw::DemoEnvironment::create(dir, o))
        return {};
    return dir;
}

// One serve-metrics process for the whole program.
class Server {
public:
    bool start(const QString& registry)
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("FERROWIND_REGISTRY"), registry);
        m_proc.setProcessEnvironment(e);
        m_proc.setReadChannel(QProcess::StandardError);
        m_proc.start(QStringLiteral(FERROWIND_CLI),
                     {QStringLiteral("serve-metrics"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
        static const QRegularExpression served(QStringLiteral("serving (http://\\S+/metrics)"));
        QString err;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000) {
            m_proc.waitForReadyRead(200);
            err += QString::fromUtf8(m_proc.readAllStandardError());
            if (const QRegularExpressionMatch m = served.match(err); m.hasMatch()) {
                url = QUrl(m.captured(1));
                return true;
            }
        }
        return false;
    }
    ~Server()
    {
        ::kill(static_cast<pid_t>(m_proc.processId()), SIGTERM);
        m_proc.waitForFinished(10000);
    }
    // VmRSS or VmHWM of the server in KiB.
    double memoryKiB(const char* field) const
    {
        QFile f(QStringLiteral("/proc/%1/status").arg(m_proc.processId()));
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith(field))
                return line.mid(static_cast<int>(qstrlen(field)) + 1).trimmed().split(' ').first().toDouble();
        return -1;
    }

    QUrl url;

private:
    QProcess m_proc;
};

Server* g_server = nullptr;

// `parallel` GETs at once; false when any did not answer 200 with ferrowind_up 1. Gzipped, the client asks for
// it and decompresses the page (Qt's own Accept-Encoding); otherwise it takes the page as it is.
bool scrape(QNetworkAccessManager& nam, int parallel, bool gzip)
{
    QEventLoop loop;
    int left = parallel;
    bool ok = true;
    QNetworkRequest request(g_server->url);
    if (!gzip)
        request.setRawHeader("Accept-Encoding", "identity");
    for (int i = 0; i < parallel; ++i) {
        QNetworkReply* r = nam.get(request);
        QObject::connect(r, &QNetworkReply::finished, &loop, [&, r] {
            ok = ok && r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200 &&
                 r->readAll().contains("\nferrowind_up 1\n");
            r->deleteLater();
            if (--left == 0)
                loop.quit();
        });
    }
    loop.exec();
    return ok;
}

void scrapes(benchmark::State& state, bool gzip)
{
    QNetworkAccessManager nam;
    const int parallel = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (!scrape(nam, parallel, gzip)) {
            state.SkipWithError("a scrape failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * parallel);
}

void BM_Scrape(benchmark::State& state)
{
    scrapes(state, false);
}
BENCHMARK(BM_Scrape)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

// The same, gzipped: the server compresses each page, the client decompresses it, both on the same machine.
void BM_ScrapeGzip(benchmark::State& state)
{
    scrapes(state, true);
}
BENCHMARK(BM_ScrapeGzip)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

// Resident memory after 100 scrapes and after 10,000; flat means the second is not larger beyond noise.
void BM_MemoryOver10000Scrapes(benchmark::State& state)
{
    QNetworkAccessManager nam;
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i)
            scrape(nam, 1, true);
        state.counters["rss_after_100_KiB"] = g_server->memoryKiB("VmRSS:");
        for (int i = 100; i < 10000; ++i)
            if (!scrape(nam, 1, true)) {
                state.SkipWithError("a scrape failed");
                return;
            }
        state.counters["rss_after_10000_KiB"] = g_server->memoryKiB("VmRSS:");
        state.counters["peak_KiB"] = g_server->memoryKiB("VmHWM:");
    }
}
BENCHMARK(BM_MemoryOver10000Scrapes)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    const QString dir = environmentDir();
    if (dir.isEmpty())
        return 2;
    Server server;
    if (!server.start(fw::DemoEnvironment::registryPath(dir)))
        return 2;
    g_server = &server;
    benchmark::RunSpecifiedBenchmarks();
    g_server = nullptr;
    return 0;
}
