// Parse time of hand-edited registry files whose size comes from depth: one key 2,000 levels deep holding
// 2,000 values (read), and one key 50,000 levels deep (refused). Run one case at a time under
// /usr/bin/time -v with --benchmark_filter to see its peak memory.
#include "platform/DebugChannel.h"
#include "platform/RegFileParser.h"
#include "platform/RegistryStore.h"

#include <benchmark/benchmark.h>

namespace {

class CountingDebugChannel final : public fw::DebugChannel {
public:
    void write(const QString&) override { ++lines; }
    int lines = 0;
};

QByteArray deepKey(int depth)
{
    QByteArray key = "[HKEY_LOCAL_MACHINE";
    key.reserve(depth * 2 + 24);
    for (int i = 0; i < depth; ++i)
        key += "\\k";
    return key + "]\n";
}

// Short distinct value names: 2,000 values in about 12 KB.
QByteArray valueLines(int count)
{
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += QByteArray("\"") + digits[i / 62] + digits[i % 62] + "\"=\"\"\n";
    return out;
}

void parseFile(benchmark::State& state, const QByteArray& file, int expectedDebugLines)
{
    CountingDebugChannel debug;
    for (auto _ : state) {
        fw::RegistryContents contents;
        debug.lines = 0;
        fw::RegFileParser parser(&debug);
        benchmark::DoNotOptimize(parser.parse(file, QStringLiteral("bench.reg"), contents));
    }
    if (debug.lines != expectedDebugLines)
        state.SkipWithError("unexpected number of debugger lines");
    state.counters["file_bytes"] = file.size();
    state.counters["debug_lines"] = debug.lines;
    state.SetBytesProcessed(state.iterations() * file.size());
}

void BM_DeepKeyWithValues(benchmark::State& state)
{
    const int depth = static_cast<int>(state.range(0));
    const int values = static_cast<int>(state.range(1));
    const QByteArray file = "Windows Registry Editor Version 5.00\n" + deepKey(depth) + valueLines(values);
    // A refused key names itself and each value under it.
    parseFile(state, file, depth > fw::RegFileParser::kMaxKeyDepth ? 1 + values : 0);
}
// 512 levels is Windows' limit and is read; 2,000 is refused along with its values.
BENCHMARK(BM_DeepKeyWithValues)->Args({512, 2000})->Args({2000, 2000})->Unit(benchmark::kMillisecond);

void BM_RefusedHugeKey(benchmark::State& state)
{
    const QByteArray file = "Windows Registry Editor Version 5.00\n" + deepKey(50000);
    parseFile(state, file, 1);
}
BENCHMARK(BM_RefusedHugeKey)->Unit(benchmark::kMillisecond);

// A wide file for scale: 1,000 keys of 20 values each, read in time proportional to its size.
void BM_WideFile(benchmark::State& state)
{
    QByteArray file = "Windows Registry Editor Version 5.00\r\n";
    for (int k = 0; k < 1000; ++k) {
        file += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\Key" + QByteArray::number(k) + "] ; comment\r\n";
        for (int v = 0; v < 20; ++v)
            file += "\"Value" + QByteArray::number(v) + "\"=hex:01,02,03,04,05,06,07,08,\\\r\n  09,0a,0b,0c ;c\r\n";
    }
    parseFile(state, file, 0);
}
BENCHMARK(BM_WideFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
