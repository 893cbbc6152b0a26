#include "support/CliProcess.h"

#include <QProcess>

namespace fw::test {

CliRun runCli(const QString& program, const QStringList& args, const QString& registry, const QProcessEnvironment& extra)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FERROWIND_REGISTRY"), registry);
    env.insert(extra);
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        return {};
    }
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

} // namespace fw::test
