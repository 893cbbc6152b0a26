// Time to the verdict of `ferrowind test-server NAME --dc`, measured from outside the process, for each
// way a server can fail: an unknown name, a refused port, a TCP side that accepts and never answers, a
// UDP side that never answers, an answer 4.9 s late, garbage, and a server silent on both (the case the
// 5-second deadline is for). The server is a loopback peer on 127.0.0.41 port 389, so run it as root.
// Run: build/bench/directory_deadline_bench
#include "NetlogonResponder.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <unistd.h>

namespace {

using fw::test::NetlogonResponder;
using Mode = NetlogonResponder::Mode;

void timeVerdict(benchmark::State& state, const QString& server, std::optional<std::pair<Mode, Mode>> modes)
{
    std::unique_ptr<NetlogonResponder> peer;
    if (modes) {
        NetlogonResponder::Config c;
        c.port = 389;
        c.udp = modes->first;
        c.tcp = modes->second;
        peer = std::make_unique<NetlogonResponder>(c);
        if (!peer->ok()) {
            state.SkipWithError(qPrintable(peer->error()));
            return;
        }
    }
    QString verdict;
    for (auto _ : state) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(FERROWIND_CLI),
                {QStringLiteral("test-server"), server, QStringLiteral("--dc"), QStringLiteral("--domain"), QString()});
        p.waitForFinished(30000);
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        verdict = QStringLiteral("exit %1: %2").arg(p.exitCode()).arg(out.section(QLatin1Char('\n'), 0, 0).left(40));
        if (out.contains(QLatin1String("writable"), Qt::CaseInsensitive))
            verdict += QStringLiteral(" +writable line");
    }
    state.SetLabel(verdict.toStdString());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0)
        qWarning("directory_deadline_bench: the loopback peer needs port 389; run as root");
    const QString ip = QStringLiteral("127.0.0.41");
    auto add = [](const char* name, const QString& server, std::optional<std::pair<Mode, Mode>> modes) {
        benchmark::RegisterBenchmark(name, [=](benchmark::State& s) { timeVerdict(s, server, modes); })
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    };
    add("unknown_name", QStringLiteral("nosuchdc.corp.example.com"), std::nullopt);
    add("refused_port", ip, std::pair{Mode::Refuse, Mode::Refuse});
    add("silent_tcp", ip, std::pair{Mode::Answer, Mode::Silent});
    add("silent_udp", ip, std::pair{Mode::Silent, Mode::Answer});
    add("slow_answer_4900ms", ip, std::pair{Mode::Late, Mode::Late});
    add("garbage_reply", ip, std::pair{Mode::Garbage, Mode::Garbage});
    add("silent_server", ip, std::pair{Mode::Silent, Mode::Silent});
    add("answering_server", ip, std::pair{Mode::Answer, Mode::Answer});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
