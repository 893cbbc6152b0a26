// The history of 1,000,000 finished runs on SQLite: building the points (one walk, the retries decided from counts)
// next to merely stepping through the same result sets (the counts' and the three walked ones), with the peak
// memory of each.
//
//   build/bench/history_bench                         (databases are generated once into $FERROWIND_BENCH_DIR,
//   FERROWIND_BENCH_RUNS=250000 build/bench/history_bench   default /tmp/ferrowind-bench; the first run takes minutes)
#include "context/AppContext.h"
#include "db/Database.h"
#include "db/DemoData.h"
#include "history/HistoryBuilder.h"
#include "support/doubles/TestDoubles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

using namespace fw;

namespace {

int benchRuns()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("FERROWIND_BENCH_RUNS", &ok);
    return ok && n > 0 ? n : 1000000;
}

QString benchDir()
{
    const QString d = qEnvironmentVariable("FERROWIND_BENCH_DIR", QStringLiteral("/tmp/ferrowind-bench"));
    QDir().mkpath(d);
    return d;
}

// A database with `runs` finished runs of one side (three domains per DC run, one object row per domain).
QString database(SyncSide side, int runs, int changes)
{
    const QString path = QDir(benchDir()).filePath(QStringLiteral("%1_%2_%3.sqlite").arg(side == SyncSide::DC ? "dc" : "gc").arg(runs).arg(changes));
    if (QFile::exists(path))
        return path;
    const QString tmp = path + QStringLiteral(".part");
    QFile::remove(tmp);
    {
        Result<std::unique_ptr<Database>> created = Database::createSqlite(tmp);
        if (!created)
            return {};
        const std::unique_ptr<Database>& db = *created;
        QSqlQuery(db->handle()).exec(QStringLiteral("PRAGMA journal_mode = OFF"));
        QSqlQuery(db->handle()).exec(QStringLiteral("PRAGMA synchronous = OFF"));
        if (!DemoData::createSchema(*db))
            return {};
        DemoDataOptions o;
        o.dcRuns = side == SyncSide::DC ? runs : 0;
        o.gcRuns = side == SyncSide::GC ? runs : 0;
        o.dcRunInProgress = false;
        o.incrementChanges = changes;
        o.objectRowPerDomain = true;
        o.lastRunEnd = QDateTime(QDate(2026, 12, 1), QTime(12, 0));
        if (!DemoData::populate(*db, o))
            return {};
    }
    QFile::rename(tmp, path);
    return path;
}

std::unique_ptr<AppContext> benchContext(const QString& dbPath)
{
    auto ctx = std::make_unique<AppContext>(doubleSeams(), QStringLiteral("FerrowindSettingsTool"), benchDir());
    ctx->connectionString = QStringLiteral("sqlite:") + dbPath;
    return ctx;
}

// Peak resident memory since the last reset, in MiB.
void resetPeak()
{
    std::ofstream(std::string("/proc/self/clear_refs")) << "5";
}
double peakMiB()
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

void stepThrough(SyncSide side, const QString& path, benchmark::State& state)
{
    Result<std::unique_ptr<Database>> db = Database::open(QStringLiteral("sqlite:") + path);
    if (!db) {
        state.SkipWithError(db.error().description.toStdString().c_str());
        return;
    }
    qint64 rows = 0;
    const auto stepped = [&](Result<QSqlQuery> q) {
        if (!q)
            state.SkipWithError(q.error().description.toStdString().c_str());
        while (q && q->next())
            ++rows;
    };
    stepped((*db)->run(SqlHistorySource::countsSql(side)));
    stepped((*db)->run(SqlHistorySource::runListSql(side)));
    stepped((*db)->run(SqlHistorySource::totalsSql(side), {QStringLiteral("GC")}));
    if (side == SyncSide::DC)
        stepped((*db)->run(SqlHistorySource::domainSql()));
    benchmark::DoNotOptimize(rows);
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_StepThroughResultSets(benchmark::State& state, SyncSide side, int changes)
{
    const QString path = database(side, benchRuns(), changes);
    if (path.isEmpty()) {
        state.SkipWithError("could not generate the database");
        return;
    }
    resetPeak();
    for (auto _ : state)
        stepThrough(side, path, state);
    state.counters["peak_MiB"] = peakMiB();
    state.counters["runs"] = benchRuns();
}

void BM_BuildHistoryPoints(benchmark::State& state, SyncSide side, int changes)
{
    const QString path = database(side, benchRuns(), changes);
    if (path.isEmpty()) {
        state.SkipWithError("could not generate the database");
        return;
    }
    auto ctx = benchContext(path);
    resetPeak();
    HistoryResult r;
    for (auto _ : state) {
        ctx->dcSafetyFactor = ctx->gcSafetyFactor = 2;
        r = HistoryBuilder(*ctx, side).BuildHistoryPoints();
    }
    state.counters["peak_MiB"] = peakMiB();
    state.counters["runs"] = benchRuns();
    state.counters["points"] = static_cast<double>(r.points.size());
    state.counters["group_size"] = static_cast<double>(r.groupSize);
    state.counters["final_factor"] = r.finalFactor;
    state.counters["walks"] = r.walks;
    state.counters["fitted_at_start"] = r.outcome == HistoryPlan::Outcome::FittedAtStart ? 1 : 0;
}

// The count query alone (the number of finished runs, distinct increments and intervals in one scan).
void BM_CountQueries(benchmark::State& state, SyncSide side, int changes)
{
    const QString path = database(side, benchRuns(), changes);
    for (auto _ : state) {
        Result<std::unique_ptr<Database>> db = Database::open(QStringLiteral("sqlite:") + path);
        if (!db) {
            state.SkipWithError(db.error().description.toStdString().c_str());
            return;
        }
        SqlHistorySource source(**db, side);
        HistorySource::Counts c;
        source.counts(c);
        benchmark::DoNotOptimize(c.totalRows);
    }
}

// The build with `tracked` sizes formed side by side: 1 forms the shown size only; 0 forms none, so the shown
// one is formed afterwards from the runs the walk kept (the cost of a final size the walk did not track).
void BM_BuildTracking(benchmark::State& state, SyncSide side, int tracked)
{
    const QString path = database(side, benchRuns(), 0);
    auto ctx = benchContext(path);
    for (auto _ : state) {
        ctx->dcSafetyFactor = ctx->gcSafetyFactor = 2;
        HistoryBuilder b(*ctx, side);
        b.setTracking(tracked, 0);
        benchmark::DoNotOptimize(b.BuildHistoryPoints());
    }
}
BENCHMARK_CAPTURE(BM_BuildTracking, gc_from_kept_runs, SyncSide::GC, 0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_CountQueries, gc, SyncSide::GC, 0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_BuildTracking, gc_one_size, SyncSide::GC, 1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_CountQueries, dc, SyncSide::DC, 0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_BuildTracking, dc_one_size, SyncSide::DC, 1)->Unit(benchmark::kMillisecond)->Iterations(3);

// Each pair side by side: the floor first, then the build.
BENCHMARK_CAPTURE(BM_StepThroughResultSets, dc_no_changes, SyncSide::DC, 0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_BuildHistoryPoints, dc_no_changes, SyncSide::DC, 0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_StepThroughResultSets, dc_50_changes, SyncSide::DC, 50)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_BuildHistoryPoints, dc_50_changes, SyncSide::DC, 50)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_StepThroughResultSets, gc_no_changes, SyncSide::GC, 0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_BuildHistoryPoints, gc_no_changes, SyncSide::GC, 0)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
