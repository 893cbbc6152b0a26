// Time from process start to a filled main window on the demo environment (offscreen platform).
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

QString demoRegistry()
{
    static QTemporaryDir dir;
    static QString reg;
    if (reg.isEmpty()) {
        QProcess p;
        p.start(FERROWIND_CLI, {QStringLiteral("demo-env"), dir.path()});
        p.waitForFinished(120000);
        reg = QDir(dir.path()).filePath(QStringLiteral("velmora.reg"));
    }
    return reg;
}

void BM_StartupToFilledMainWindow(benchmark::State& state)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FERROWIND_REGISTRY"), demoRegistry());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("ferrowind.debugger=false"));
    for (auto _ : state) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(STARTUP_PROBE, {});
        if (!p.waitForFinished(30000) || p.exitCode() != 0) {
            state.SkipWithError("the probe did not reach a filled main window");
            break;
        }
    }
}
BENCHMARK(BM_StartupToFilledMainWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
