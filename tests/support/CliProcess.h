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

} // namespace fw::test
