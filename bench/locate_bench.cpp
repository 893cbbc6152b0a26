// The domain controller locator against the Samba AD test forest, next to adcli's own discovery
// (`adcli info DOMAIN`), both as whole program runs, plus the locator called in-process.
// Run: build/bench/locate_bench (as root; it starts and stops the forest itself).
#include "AdForest.h"
#include "directory/linux/LinuxDcLocator.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>

namespace {

const fw::test::AdForest* gForest = nullptr;

void runProgram(benchmark::State& state, const QString& program, const QStringList& args)
{
    for (auto _ : state) {
        QProcess p;
        p.start(program, args);
        if (!p.waitForFinished(10000) || p.exitCode() != 0) {
            state.SkipWithError(
                qPrintable(QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(p.readAllStandardError()))));
            break;
        }
    }
}

void BM_FerrowindLocate(benchmark::State& state)
{
    runProgram(state, QStringLiteral(FERROWIND_CLI), {QStringLiteral("locate"), gForest->domain()});
}

void BM_AdcliInfo(benchmark::State& state)
{
    runProgram(state, QStringLiteral("adcli"), {QStringLiteral("info"), gForest->domain()});
}

void BM_LocatorInProcess(benchmark::State& state)
{
    const QString domain = gForest->domain();
    fw::LinuxDcLocator loc(fw::LocatorOptions{}, [domain] { return domain; });
    for (auto _ : state) {
        const fw::DcLookupResult r = loc.locate({QString(), domain, fw::dcreq::ForceRediscovery});
        if (r.error != 0) {
            state.SkipWithError(qPrintable(r.detail));
            break;
        }
        benchmark::DoNotOptimize(r.info.flags);
    }
}

BENCHMARK(BM_FerrowindLocate)->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_AdcliInfo)->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_LocatorInProcess)->Unit(benchmark::kMillisecond)->Iterations(100);

} // namespace

int main(int argc, char** argv)
{
    const int outer = fw::test::runInsideForest(argc, argv, QStringLiteral(FW_FOREST_STATE), QStringLiteral(FW_FOREST_SCRIPT));
    if (outer >= 0)
        return outer;
    QCoreApplication app(argc, argv);
    const auto forest = fw::test::AdForest::load(qEnvironmentVariable("FW_FOREST_STATE"));
    if (!forest)
        return 1;
    gForest = &*forest;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
