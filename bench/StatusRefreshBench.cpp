// The Status page refresh against histories of growing size. The databases are generated once into
// $FERROWIND_BENCH_DIR (default: the system temp folder) and reused by later runs.
#include "context/AppContext.h"
#include "db/Database.h"
#include "db/DemoData.h"
#include "monitor/StatusSummary.h"
#include "support/doubles/TestDoubles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <benchmark/benchmark.h>

namespace {

QString benchDir()
{
    const QString d = qEnvironmentVariable("FERROWIND_BENCH_DIR", QDir::tempPath() + QStringLiteral("/ferrowind-bench"));
    QDir().mkpath(d);
    return d;
}

// A history of `runs` runs per side, object rows only for the newest runs (older ones do not affect the refresh).
QString historyDatabase(int runs)
{
    const QString path = QDir(benchDir()).filePath(QStringLiteral("status-%1.sqlite").arg(runs));
    if (QFileInfo::exists(path))
        return path;
    const QString tmp = path + QStringLiteral(".part");
    QFile::remove(tmp);
    {
        fw::Result<std::unique_ptr<fw::Database>> created = fw::Database::createSqlite(tmp);
        if (!created || !fw::DemoData::createSchema(**created))
            return {};
        const std::unique_ptr<fw::Database>& db = *created;
        db->handle().exec(QStringLiteral("PRAGMA journal_mode = OFF"));
        db->handle().exec(QStringLiteral("PRAGMA synchronous = OFF"));
        fw::DemoDataOptions o;
        o.dcRuns = runs;
        o.gcRuns = runs;
        o.objectRowRuns = 20;
        if (!fw::DemoData::populate(*db, o))
            return {};
    }
    QFile::rename(tmp, path);
    return path;
}

std::unique_ptr<fw::AppContext> benchContext(const QString& dbPath)
{
    auto ctx = std::make_unique<fw::AppContext>(fw::doubleSeams(), QStringLiteral("FerrowindBench"), benchDir(),
                                                QDir(benchDir()).filePath(QStringLiteral("logs")));
    ctx->connectionString = QStringLiteral("sqlite:") + dbPath;
    return ctx;
}

void BM_PopulateDCGCStatus(benchmark::State& state)
{
    const int runs = static_cast<int>(state.range(0));
    const QString path = historyDatabase(runs);
    if (path.isEmpty()) {
        state.SkipWithError("could not generate the history database");
        return;
    }
    auto ctx = benchContext(path);
    for (auto _ : state) {
        fw::StatusSnapshot s = fw::StatusSummary(*ctx).PopulateDCGCStatus();
        benchmark::DoNotOptimize(s);
    }
    if (ctx->lastDCSyncId != runs + 1 || ctx->lastGCSyncId != runs)
        state.SkipWithError("the refresh did not find the newest runs");
    state.counters["runs_per_side"] = runs;
}
BENCHMARK(BM_PopulateDCGCStatus)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
