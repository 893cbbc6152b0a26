// What each operation costs at a distance: the command line's commands, a scrape of serve-metrics and the desktop
// tool's opening and domain save, on the T-SQL server behind a proxy that holds each direction back by 0, 25 and
// 50 ms. Logins and round trips are counted at the proxy. Run it under scripts/tsql-test-server:
//
//   scripts/tsql-test-server build/bench/lag_bench [--rounds N] [--lags 0,25,50]
//
// Each figure is the median wall time of N runs (default 5) with the logins and round trips of the last one; a
// command line's time is the whole process's, start-up included.
#include "LagProxy.h"

#include "BenchDatabases.h"
#include "app/ContextFactory.h"
#include "app/DemoEnvironment.h"
#include "app/ui/MainWindow.h"
#include "app/ui/WarningWindow.h"
#include "context/ProgramEnd.h"
#include "platform/DebugChannel.h"
#include "platform/ui/FlexGrid.h"
#include "platform/ui/PaintingSleeper.h"
#include "settings/ui/DomainControllersPage.h"
#include "support/doubles/TestDoubles.h"
#include "ui_DomainControllersPage.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace fw;
using namespace fw::bench;

namespace {

struct Measure {
    double ms = 0;
    LagProxy::Counts counts;
    QString failure; // empty when the operation did what it should
};

// Runs `op` with the proxy's counts reset before it.
Measure measured(LagProxy& proxy, const std::function<QString()>& op)
{
    proxy.resetCounts();
    QElapsedTimer t;
    t.start();
    Measure m;
    m.failure = op();
    m.ms = t.nsecsElapsed() / 1e6;
    // A connection the program closes is counted when it opened: nothing more to wait for.
    m.counts = proxy.counts();
    return m;
}

QString runCli(const QString& registry, const QStringList& args, const QList<int>& allowedExits)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FERROWIND_REGISTRY"), registry);
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("ferrowind.debugger=false"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(FERROWIND_CLI), args);
    if (!p.waitForFinished(60000))
        return QStringLiteral("did not end within 60 s");
    if (p.exitStatus() != QProcess::NormalExit || !allowedExits.contains(p.exitCode()))
        return QStringLiteral("exit %1: %2").arg(p.exitCode()).arg(QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
    return {};
}

// serve-metrics through the proxy, for as long as this lives.
class MetricsServerProcess {
public:
    explicit MetricsServerProcess(const QString& registry)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FERROWIND_REGISTRY"), registry);
        m_p.setProcessEnvironment(env);
        m_p.setReadChannel(QProcess::StandardError);
        m_p.start(QStringLiteral(FERROWIND_CLI),
                  {QStringLiteral("serve-metrics"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
        static const QRegularExpression serving(QStringLiteral("serving http://127.0.0.1:(\\d+)/metrics"));
        QByteArray said;
        while (m_port == 0 && m_p.waitForReadyRead(10000)) {
            said += m_p.readAllStandardError();
            if (const QRegularExpressionMatch m = serving.match(QString::fromLocal8Bit(said)); m.hasMatch())
                m_port = static_cast<quint16>(m.captured(1).toUInt());
        }
    }
    ~MetricsServerProcess()
    {
        m_p.terminate();
        if (!m_p.waitForFinished(10000))
            m_p.kill();
    }
    QString scrape() const
    {
        if (m_port == 0)
            return QStringLiteral("serve-metrics did not start");
        QTcpSocket s;
        s.connectToHost(QStringLiteral("127.0.0.1"), m_port);
        if (!s.waitForConnected(5000))
            return s.errorString();
        s.write("GET /metrics HTTP/1.0\r\nHost: localhost\r\n\r\n");
        QByteArray page;
        while (s.waitForReadyRead(10000))
            page += s.readAll();
        page += s.readAll();
        if (!page.startsWith("HTTP/1.") || !page.contains("\nferrowind_up 1"))
            return QStringLiteral("the page does not say ferrowind_up 1: ") + QString::fromUtf8(page.left(300));
        return {};
    }

private:
    QProcess m_p;
    quint16 m_port = 0;
};

// The desktop tool in this process, started as the program starts it.
class Desktop {
public:
    Desktop()
    {
        auto debug = std::make_unique<RecordingDebugChannel>();
        auto prompter = std::make_unique<ScriptedPrompter>(debug.get());
        m_prompter = prompter.get();
        m_ctx = makeSystemContext(QStringLiteral("FerrowindSettingsTool"), m_dir.path(), std::move(prompter),
                                  std::make_unique<PaintingSleeper>(), std::move(debug));
    }
    // Continue on the warning window: the main window's first load.
    QString open()
    {
        m_warning = std::make_unique<WarningWindow>(*m_ctx);
        if (!m_warning->Form_Load())
            return QStringLiteral("the warning window refused to start");
        m_warning->findChild<QPushButton*>(QStringLiteral("cmdContinue"))->click();
        MainWindow* main = m_warning->mainWindow();
        if (!main || m_ctx->programEnd().requested() || !m_prompter->messages.isEmpty())
            return QStringLiteral("the main window did not load: ") + m_prompter->messages.join(QStringLiteral(" / "));
        return {};
    }
    // Selects the domain's row as a click would.
    QString selectDomain(const QString& name)
    {
        FlexGrid* g = page().gridDomains;
        for (int r = 1; r < g->rows(); ++r)
            if (g->textByKey(r, QStringLiteral("Domain")) == name) {
                g->setRow(r);
                return {};
            }
        return QStringLiteral("no domain ") + name;
    }
    // "Connection attempts" typed, Save: the row is written and the window reloaded.
    QString saveDomain(int attempts)
    {
        Ui::DomainControllersPage& u = page();
        u.txtDCFailedConnections->setFocus();
        u.txtDCFailedConnections->selectAll();
        QTest::keyClicks(u.txtDCFailedConnections, QString::number(attempts));
        m_prompter->messages.clear();
        u.cmdDCSave->click();
        // A question the domain's stored settings bring up is answered Yes; the save must end saved.
        if (m_prompter->messages.isEmpty() || m_prompter->messages.last() != QLatin1String("Settings saved for domain"))
            return QStringLiteral("the save said: ") + m_prompter->messages.join(QStringLiteral(" / "));
        if (const QString selected = u.gridDomains->textByKey(u.gridDomains->row(), QStringLiteral("Domain"));
            selected != QLatin1String("sales.corp.example.com"))
            return QStringLiteral("after the save the grid shows ") + selected;
        return {};
    }

private:
    Ui::DomainControllersPage& page() { return *m_warning->mainWindow()->domainControllersPage()->ui(); }

    QTemporaryDir m_dir;
    ScriptedPrompter* m_prompter = nullptr;
    std::unique_ptr<AppContext> m_ctx;
    std::unique_ptr<WarningWindow> m_warning;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rounds = 5;
    QList<int> lags{0, 25, 50};
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--rounds"))
            rounds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--lags")) {
            lags.clear();
            for (const QString& l : args[i + 1].split(QLatin1Char(',')))
                lags.append(l.toInt());
        }
    }
    if (sqlServerConnection().isEmpty()) {
        std::fprintf(stderr, "lag_bench: no T-SQL server (run it under scripts/tsql-test-server)\n");
        return 0;
    }
    QString error;
    const QString cs = demoDatabase(Engine::SqlServer, QStringLiteral("lag"), {}, &error);
    if (cs.isEmpty()) {
        std::fprintf(stderr, "lag_bench: %s\n", qPrintable(error));
        return 2;
    }
    static const QRegularExpression portIn(QStringLiteral("(?i)(^|;)\\s*Port\\s*=\\s*(\\d+)"));
    const QRegularExpressionMatch port = portIn.match(cs);
    if (!port.hasMatch()) {
        std::fprintf(stderr, "lag_bench: the connection string names no Port\n");
        return 2;
    }
    LagProxy proxy(static_cast<quint16>(port.captured(2).toUInt()), std::chrono::milliseconds(0));
    const quint16 proxied = proxy.start(&error);
    if (proxied == 0) {
        std::fprintf(stderr, "lag_bench: the proxy cannot listen: %s\n", qPrintable(error));
        return 2;
    }
    QString throughProxy = cs;
    throughProxy.replace(portIn, QStringLiteral("\\1Port=%1").arg(proxied));
    QTemporaryDir dir;
    const QString registry = QDir(dir.path()).filePath(QStringLiteral("velmora.reg"));
    {
        QFile f(registry);
        if (!f.open(QIODevice::WriteOnly) || f.write(DemoEnvironment::registryText(throughProxy).toUtf8()) < 0)
            return 2;
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    qputenv("FERROWIND_REGISTRY", registry.toLocal8Bit());

    struct Op {
        const char* name;
        std::function<QString(int round)> run;
        std::function<void(int round)> prepare = {}; // not measured
    };
    const auto cli = [&](QStringList a, QList<int> exits = {0}) {
        return [&registry, a, exits](int) { return runCli(registry, a, exits); };
    };
    std::unique_ptr<MetricsServerProcess> server;
    std::unique_ptr<Desktop> desktop;
    const std::vector<Op> ops = {
        {"metrics", cli({QStringLiteral("metrics")})},
        {"check-sync", cli({QStringLiteral("check-sync")}, {0, 1, 2})},
        {"status", cli({QStringLiteral("status")}, {0, 1})},
        {"status --details dc", cli({QStringLiteral("status"), QStringLiteral("--details"), QStringLiteral("dc")})},
        {"history dc", cli({QStringLiteral("history"), QStringLiteral("dc")})},
        {"settings show", cli({QStringLiteral("settings"), QStringLiteral("show")})},
        {"settings set --gc",
         [&registry](int round) {
             return runCli(registry,
                           {QStringLiteral("settings"), QStringLiteral("set"), QStringLiteral("--gc"),
                            QStringLiteral("ReconnectFailureThreshold=%1").arg(2 + round % 2), QStringLiteral("--yes")},
                           {0});
         }},
        {"scrape, first (serve-metrics)", [&](int) { return server->scrape(); },
         [&](int) { server = std::make_unique<MetricsServerProcess>(registry); }},
        {"scrape, next", [&](int) { return server->scrape(); }},
        {"desktop: opening", [&](int) { return desktop->open(); }, [&](int) { desktop = std::make_unique<Desktop>(); }},
        {"desktop: DC Save + reload", [&](int round) { return desktop->saveDomain(10 + round % 2); },
         [&](int) { (void)desktop->selectDomain(QStringLiteral("sales.corp.example.com")); }},
    };

    std::printf("| operation | one-way lag | logins | round trips (turns) | median time |\n|---|---|---|---|---|\n");
    int failures = 0;
    for (const int lag : lags) {
        proxy.setDelay(std::chrono::milliseconds(lag));
        // Each round runs the operations in order: a scrape after its server's start, a save after the opening.
        std::vector<std::vector<double>> times(ops.size());
        std::vector<Measure> last(ops.size());
        for (int round = 0; round < rounds; ++round) {
            for (size_t i = 0; i < ops.size(); ++i) {
                if (ops[i].prepare)
                    ops[i].prepare(round);
                last[i] = measured(proxy, [&] { return ops[i].run(round); });
                times[i].push_back(last[i].ms);
                if (!last[i].failure.isEmpty()) {
                    ++failures;
                    std::fprintf(stderr, "%s at %d ms: %s\n", ops[i].name, lag, qPrintable(last[i].failure));
                }
            }
            server.reset();
            desktop.reset();
        }
        for (size_t i = 0; i < ops.size(); ++i)
            std::printf("| %s | %d ms | %d | %d (%d) | %.0f ms%s |\n", ops[i].name, lag, last[i].counts.connections,
                        last[i].counts.requests, last[i].counts.turns, median(times[i]),
                        last[i].failure.isEmpty() ? "" : " (FAILED)");
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}
