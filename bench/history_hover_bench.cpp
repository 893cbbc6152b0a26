// Pointing at points of a history chart: the details table filled and the chart (4 bands x 120 points on
// screen) redrawn at once, as each mouse move over a new point does. The goal is one frame (16 ms).
//
//   QT_QPA_PLATFORM=offscreen build/bench/history_hover_bench
#include "context/AppContext.h"
#include "db/Database.h"
#include "db/DemoData.h"
#include "history/ui/CustomPlot.h"
#include "history/ui/HistoryWindow.h"
#include "support/doubles/TestDoubles.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace fw;

namespace {

void BM_HoverRedraw(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("VelmoraDb.sqlite"));
    {
        Result<std::unique_ptr<Database>> db = Database::createSqlite(path);
        DemoDataOptions o;
        o.dcRuns = 3000;
        o.gcRuns = 0;
        if (!db || !DemoData::createSchema(**db) || !DemoData::populate(**db, o)) {
            state.SkipWithError("could not generate the database");
            return;
        }
    }
    AppContext ctx(doubleSeams(), QStringLiteral("FerrowindSettingsTool"), dir.path());
    ctx.connectionString = QStringLiteral("sqlite:") + path;
    ctx.dcSafetyFactor = 2;
    HistoryWindow w(ctx, SyncSide::DC);
    if (!w.Form_Load()) {
        state.SkipWithError("the history did not load");
        return;
    }
    w.show();
    w.setFirstVisiblePoint(301);
    QApplication::processEvents();
    int p = 0;
    for (auto _ : state) {
        w.mouseMovedTo(QPointF(300 + p + 0.5, 0));
        w.chart()->replot(QCustomPlot::rpImmediateRefresh);
        p = (p + 7) % HistoryWindow::kVisiblePoints;
    }
    state.counters["points"] = w.pointCount();
    state.counters["frame_ms"] = 16;
}
BENCHMARK(BM_HoverRedraw)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
