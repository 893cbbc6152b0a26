#pragma once
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace fw::test {

struct CliRun {
    int code = -1; // -1: did not finish in time
    QString out;
    QString err;
};

// Runs a program of the build (the ferrowind command line) with FERROWIND_REGISTRY set, bounded to 60 s.
CliRun runCli(const QString& program, const QStringList& args, const QString& registry,
              const QProcessEnvironment& extra = QProcessEnvironment());

#ifdef FERROWIND_CLI
// The command line of the build, without an installed product unless `registry` names one.
inline CliRun cli(const QStringList& args, const QString& registry = QStringLiteral("/nonexistent"))
{
    return runCli(QStringLiteral(FERROWIND_CLI), args, registry);
}
#endif

} // namespace fw::test
