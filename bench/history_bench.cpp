// The history of 1,000,000 finished runs: building the points (one walk, the retries decided from counts) next to
// merely stepping through the same result sets over the same kind of connection (the counts' and the three walked
// ones), with the peak memory of each. On SQLite always, and on a T-SQL server when one is given (BenchDatabases.h).
//
//   build/bench/history_bench                         (databases are generated once into $FERROWIND_BENCH_DIR,
//   FERROWIND_BENCH_RUNS=250000 build/bench/history_bench   default /tmp/ferrowind-bench; the first run takes minutes)
//
// On the bundled T-SQL server, its data kept between runs (the first load of the three histories takes long):
//   FERROWIND_TSQL_DATA=/tmp/ferrowind-bench/babelfish scripts/tsql-test-server build/bench/history_bench
// or FERROWIND_BENCH_SQLSERVER='Driver=FreeTDS;Server=...;Database=master;UID=...;PWD=...;TDS_Version=7.4' (the
// script also sets FERROWIND_BENCH_PSQL and FERROWIND_BENCH_PG, through which the rows are copied in).
#include "BenchDatabases.h"
#include "context/AppContext.h"
#include "db/Database.h"
#include "db/DemoData.h"
#include "history/HistoryBuilder.h"
#include "support/doubles/TestDoubles.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <benchmark/benchmark.h>

#include <fstream>
#include <functional>
#include <map>
#include <string>

using namespace fw;
using namespace fw::bench;

namespace {

// A database with `runs` finished runs of one side (three domains per DC run, one object row per domain), made once
// per engine and process run.
QString database(Engine engine, SyncSide side, int runs, int changes, benchmark::State& state)
{
    static std::map<QString, QString> made;
    const QString name = QStringLiteral("%1_%2_%3").arg(side == SyncSide::DC ? "dc" : "gc").arg(runs).arg(changes);
    const QString key = QString::fromLatin1(engineName(engine)) + name;
    if (auto it = made.find(key); it != made.end())
        return it->second;
    DemoDataOptions o;
    o.dcRuns = side == SyncSide::DC ? runs : 0;
    o.gcRuns = side == SyncSide::GC ? runs : 0;
    o.dcRunInProgress = false;
    o.incrementChanges = changes;
    o.objectRowPerDomain = true;
    o.lastRunEnd = QDateTime(QDate(2026, 12, 1), QTime(12, 0));
    QString error;
    const QString cs = demoDatabase(engine, name, o, &error);
    if (cs.isEmpty())
        state.SkipWithError(("could not generate the database: " + error.toStdString()).c_str());
    else
        made[key] = cs;
    return cs;
}

std::unique_ptr<AppContext> benchContext(const QString& connectionString)
{
    auto ctx = std::make_unique<AppContext>(doubleSeams(), QStringLiteral("FerrowindSettingsTool"), benchDir());
    ctx->connectionString = connectionString;
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

// The statements of the load as it runs them, as long reads (on SQL Server each on a connection of its own): the
// counts, then the three walked ones stepped through one after the other.
void stepThrough(SyncSide side, const QString& cs, benchmark::State& state)
{
    Result<std::unique_ptr<Database>> db = Database::open(cs);
    if (!db) {
        state.SkipWithError(db.error().description.toStdString().c_str());
        return;
    }
    FwError failure;
    // Its rows stepped through; a failed statement is remembered and reads as empty.
    const auto read = [&](Result<QSqlQuery> q, const std::function<void(QSqlQuery&)>& row) {
        if (!q) {
            failure = q.error();
            return;
        }
        while (q->next())
            row(*q);
    };
    qint64 rows = 0;
    qint64 last = 0;
    const auto count = [&](QSqlQuery&) { ++rows; };
    read((*db)->runStreaming(SqlHistorySource::countsSql(side)), [&](QSqlQuery& q) {
        last = q.value(3).toLongLong();
        ++rows;
    });
    read((*db)->runStreaming(SqlHistorySource::runListSql(side, (*db)->dialect()), SqlHistorySource::runListBinds(side, last)), count);
    read((*db)->runStreaming(SqlHistorySource::totalsSql(side, (*db)->dialect()), {QStringLiteral("GC")}), count);
    if (side == SyncSide::DC)
        read((*db)->runStreaming(SqlHistorySource::domainSql()), count);
    if (failure.isError())
        state.SkipWithError(failure.description.toStdString().c_str());
    benchmark::DoNotOptimize(rows);
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_StepThroughResultSets(benchmark::State& state, Engine engine, SyncSide side, int changes)
{
    const QString cs = database(engine, side, benchRuns(), changes, state);
    if (cs.isEmpty())
        return;
    resetPeak();
    for (auto _ : state)
        stepThrough(side, cs, state);
    state.counters["peak_MiB"] = peakMiB();
    state.counters["runs"] = benchRuns();
}

void BM_BuildHistoryPoints(benchmark::State& state, Engine engine, SyncSide side, int changes)
{
    const QString cs = database(engine, side, benchRuns(), changes, state);
    if (cs.isEmpty())
        return;
    auto ctx = benchContext(cs);
    resetPeak();
    HistoryResult r;
    for (auto _ : state) {
        ctx->dcSafetyFactor = ctx->gcSafetyFactor = 2;
        r = HistoryBuilder(*ctx, side).BuildHistoryPoints();
        if (!r.failure.isEmpty()) {
            state.SkipWithError(r.failure.toStdString().c_str());
            return;
        }
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
void BM_CountQueries(benchmark::State& state, Engine engine, SyncSide side, int changes)
{
    const QString cs = database(engine, side, benchRuns(), changes, state);
    if (cs.isEmpty())
        return;
    for (auto _ : state) {
        Result<std::unique_ptr<Database>> db = Database::open(cs);
        if (!db) {
            state.SkipWithError(db.error().description.toStdString().c_str());
            return;
        }
        SqlHistorySource source(**db, side);
        HistorySource::Counts c;
        const auto failures = source.counts(c);
        if (!failures.isEmpty()) {
            state.SkipWithError(failures.first().error.description.toStdString().c_str());
            return;
        }
        benchmark::DoNotOptimize(c.totalRows);
    }
}

// The build with `tracked` sizes formed side by side: 1 forms the shown size only; 0 forms none, so the shown
// one is formed afterwards from the runs the walk kept (the cost of a final size the walk did not track).
void BM_BuildTracking(benchmark::State& state, Engine engine, SyncSide side, int tracked)
{
    const QString cs = database(engine, side, benchRuns(), 0, state);
    if (cs.isEmpty())
        return;
    auto ctx = benchContext(cs);
    for (auto _ : state) {
        ctx->dcSafetyFactor = ctx->gcSafetyFactor = 2;
        HistoryBuilder b(*ctx, side);
        b.setTracking(tracked, 0);
        const HistoryResult r = b.BuildHistoryPoints();
        if (!r.failure.isEmpty()) {
            state.SkipWithError(r.failure.toStdString().c_str());
            return;
        }
    }
}

void registerAll(Engine engine)
{
    const std::string e = engineName(engine);
    // A walk over TDS takes minutes at this size: one each there.
    const int iterations = engine == Engine::Sqlite ? 3 : 1;
    auto add = [&](const std::string& name, auto fn, SyncSide side, int arg) {
        benchmark::RegisterBenchmark((name + "/" + e).c_str(), fn, engine, side, arg)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(iterations);
    };
    add("BM_BuildTracking/gc_from_kept_runs", BM_BuildTracking, SyncSide::GC, 0);
    add("BM_CountQueries/gc", BM_CountQueries, SyncSide::GC, 0);
    add("BM_BuildTracking/gc_one_size", BM_BuildTracking, SyncSide::GC, 1);
    add("BM_CountQueries/dc", BM_CountQueries, SyncSide::DC, 0);
    add("BM_BuildTracking/dc_one_size", BM_BuildTracking, SyncSide::DC, 1);
    // Each pair side by side: the floor first, then the build.
    add("BM_StepThroughResultSets/dc_no_changes", BM_StepThroughResultSets, SyncSide::DC, 0);
    add("BM_BuildHistoryPoints/dc_no_changes", BM_BuildHistoryPoints, SyncSide::DC, 0);
    add("BM_StepThroughResultSets/dc_50_changes", BM_StepThroughResultSets, SyncSide::DC, 50);
    add("BM_BuildHistoryPoints/dc_50_changes", BM_BuildHistoryPoints, SyncSide::DC, 50);
    add("BM_StepThroughResultSets/gc_no_changes", BM_StepThroughResultSets, SyncSide::GC, 0);
    add("BM_BuildHistoryPoints/gc_no_changes", BM_BuildHistoryPoints, SyncSide::GC, 0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    registerAll(Engine::Sqlite);
    if (!sqlServerConnection().isEmpty())
        registerAll(Engine::SqlServer);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
