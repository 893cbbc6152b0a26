// The Status page refresh against histories of growing size, on SQLite and, when one is given, on a T-SQL server
// (see BenchDatabases.h: databases generated once and reused). Each size is measured three ways: the refresh as the
// page runs it (opening its connection), the refresh on a connection opened once, and the floor of merely stepping
// through the same result sets on that same connection.
//
//   build/bench/status_refresh_bench
//   FERROWIND_TSQL_DATA=/tmp/ferrowind-bench/babelfish scripts/tsql-test-server build/bench/status_refresh_bench
#include "BenchDatabases.h"
#include "context/AppContext.h"
#include "db/Database.h"
#include "db/DemoData.h"
#include "monitor/StatusSummary.h"
#include "support/doubles/TestDoubles.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlQuery>
#include <benchmark/benchmark.h>

#include <map>

using namespace fw::bench;

namespace {

// A history of `runs` runs per side, object rows only for the newest runs (older ones do not affect the refresh).
QString historyDatabase(Engine engine, int runs, benchmark::State& state)
{
    static std::map<std::pair<Engine, int>, QString> made;
    if (auto it = made.find({engine, runs}); it != made.end())
        return it->second;
    fw::DemoDataOptions o;
    o.dcRuns = runs;
    o.gcRuns = runs;
    o.objectRowRuns = 20;
    o.lastRunEnd = QDateTime(QDate(2026, 12, 1), QTime(12, 0));
    QString error;
    const QString name = QStringLiteral("status_%1").arg(runs);
    const QString cs = demoDatabase(engine, name, o, &error);
    if (cs.isEmpty())
        state.SkipWithError(("could not generate the history database: " + error.toStdString()).c_str());
    else
        made[{engine, runs}] = cs;
    return cs;
}

std::unique_ptr<fw::AppContext> benchContext(const QString& connectionString)
{
    auto ctx = std::make_unique<fw::AppContext>(fw::doubleSeams(), QStringLiteral("FerrowindBench"), benchDir(),
                                                QDir(benchDir()).filePath(QStringLiteral("logs")));
    ctx->connectionString = connectionString;
    return ctx;
}

void checkNewest(benchmark::State& state, const fw::AppContext& ctx, int runs)
{
    if (ctx.lastDCSyncId != runs + 1 || ctx.lastGCSyncId != runs)
        state.SkipWithError("the refresh did not find the newest runs");
    state.counters["runs_per_side"] = runs;
}

// shared: on one connection opened before the timing, else each refresh opens its own as the page does.
void BM_PopulateDCGCStatus(benchmark::State& state, Engine engine, bool shared)
{
    const int runs = static_cast<int>(state.range(0));
    const QString cs = historyDatabase(engine, runs, state);
    if (cs.isEmpty())
        return;
    auto ctx = benchContext(cs);
    std::unique_ptr<fw::Database> db;
    if (shared) {
        fw::Result<std::unique_ptr<fw::Database>> opened = fw::Database::open(cs);
        if (!opened) {
            state.SkipWithError(opened.error().description.toStdString().c_str());
            return;
        }
        db = std::move(*opened);
    }
    for (auto _ : state) {
        fw::StatusSnapshot s = fw::StatusSummary(*ctx).PopulateDCGCStatus(db.get());
        benchmark::DoNotOptimize(s);
    }
    checkNewest(state, *ctx, runs);
}

// The refresh's statements on that connection, each side's newest run and its object total, their rows read.
void BM_StepThroughStatusResultSets(benchmark::State& state, Engine engine)
{
    const int runs = static_cast<int>(state.range(0));
    const QString cs = historyDatabase(engine, runs, state);
    if (cs.isEmpty())
        return;
    fw::Result<std::unique_ptr<fw::Database>> db = fw::Database::open(cs);
    if (!db) {
        state.SkipWithError(db.error().description.toStdString().c_str());
        return;
    }
    fw::AppContext ctx(fw::doubleSeams(), QStringLiteral("FerrowindBench"), benchDir());
    for (auto _ : state) {
        for (fw::SyncSide side : {fw::SyncSide::DC, fw::SyncSide::GC}) {
            fw::Result<QSqlQuery> q = (*db)->run(fw::StatusSummary::latestRunSql(side));
            if (!q) {
                state.SkipWithError(q.error().description.toStdString().c_str());
                return;
            }
            qint64 id = 0;
            while (q->next())
                id = q->value(0).toLongLong();
            (side == fw::SyncSide::DC ? ctx.lastDCSyncId : ctx.lastGCSyncId) = id;
            fw::Result<QSqlQuery> t = (*db)->run(fw::StatusSummary::objectTotalSql(side), {id});
            if (!t) {
                state.SkipWithError(t.error().description.toStdString().c_str());
                return;
            }
            while (t->next())
                benchmark::DoNotOptimize(t->value(0));
        }
    }
    checkNewest(state, ctx, runs);
}

void registerAll(Engine engine)
{
    const std::string e = std::string("/") + engineName(engine);
    auto sizes = [](benchmark::internal::Benchmark* b) {
        b->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
    };
    sizes(benchmark::RegisterBenchmark(("BM_PopulateDCGCStatus" + e).c_str(), BM_PopulateDCGCStatus, engine, false));
    // The pair side by side: the floor first, then the refresh on the same connection.
    sizes(benchmark::RegisterBenchmark(("BM_StepThroughStatusResultSets" + e).c_str(), BM_StepThroughStatusResultSets, engine));
    sizes(benchmark::RegisterBenchmark(("BM_PopulateDCGCStatus_shared_connection" + e).c_str(), BM_PopulateDCGCStatus, engine,
                                       true));
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
