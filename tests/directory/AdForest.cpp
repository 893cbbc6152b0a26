#include "AdForest.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace fw::test {
namespace {

constexpr int kStartTimeoutMs = 400000; // a cold provision of both DCs, on a slow machine
constexpr int kRunTimeoutMs = 900000;
constexpr int kStopTimeoutMs = 60000;

int runScript(const QString& script, const QStringList& args, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(script, args);
    if (!p.waitForStarted(10000))
        return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        std::fprintf(stderr, "ad forest: %s %s timed out\n", qPrintable(script), qPrintable(args.join(' ')));
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

std::optional<AdForest> AdForest::load(const QString& stateDir)
{
    QFile f(stateDir + QStringLiteral("/forest.env"));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    AdForest forest;
    forest.state = stateDir;
    QTextStream in(&f);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        const int eq = static_cast<int>(line.indexOf(QLatin1Char('=')));
        if (eq > 0)
            forest.values.insert(line.left(eq), line.mid(eq + 1));
    }
    return forest;
}

int runInsideForest(int argc, char** argv, const QString& stateDir, const QString& script)
{
    if (qEnvironmentVariable("FW_FOREST_INSIDE") == QLatin1String("1"))
        return -1;
    QCoreApplication app(argc, argv);
    const QStringList sbin{QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")};
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("samba"), sbin).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("ip"), sbin).isEmpty()) {
        std::fprintf(stderr, "ad forest: needs root, samba and iproute2 (scripts/install-deps); skipped\n");
        return 77;
    }
    if (runScript(script, {QStringLiteral("start"), stateDir}, kStartTimeoutMs) != 0) {
        runScript(script, {QStringLiteral("stop"), stateDir}, kStopTimeoutMs);
        std::fprintf(stderr, "ad forest: could not start the forest\n");
        return 1;
    }
    const auto forest = AdForest::load(stateDir);
    int rc = 1;
    if (forest) {
        QProcess inner;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FW_FOREST_INSIDE"), QStringLiteral("1"));
        env.insert(QStringLiteral("FW_FOREST_STATE"), stateDir);
        env.insert(QStringLiteral("KRB5_CONFIG"), forest->get(QStringLiteral("FOREST_KRB5_CONFIG")));
        env.insert(QStringLiteral("KRB5CCNAME"), QStringLiteral("FILE:%1/ccache-tests").arg(stateDir));
        inner.setProcessEnvironment(env);
        inner.setProcessChannelMode(QProcess::ForwardedChannels);
        QStringList args{QStringLiteral("netns"), QStringLiteral("exec"), forest->get(QStringLiteral("FOREST_NS")),
                         QCoreApplication::applicationFilePath()};
        for (int i = 1; i < argc; ++i)
            args << QString::fromLocal8Bit(argv[i]);
        inner.start(QStringLiteral("ip"), args);
        if (inner.waitForStarted(10000)) {
            if (inner.waitForFinished(kRunTimeoutMs)) {
                rc = inner.exitStatus() == QProcess::NormalExit ? inner.exitCode() : 1;
            } else {
                std::fprintf(stderr, "ad forest: the tests did not finish in time\n");
                inner.kill();
                inner.waitForFinished(5000);
            }
        }
    }
    runScript(script, {QStringLiteral("stop"), stateDir}, kStopTimeoutMs);
    return rc;
}

} // namespace fw::test
