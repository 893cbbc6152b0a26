#pragma once
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QProcess;

namespace fw::test {

struct CliRun {
    int code = -1; // -1: did not finish in time, -2: killed by a signal
    QString out;
    QString err;
};

// Where the child's standard output goes, as an administrator's shell may leave it.
enum class ChildStdout {
    Captured,   // read back into CliRun::out
    DevFull,    // >/dev/full: every write fails with "No space left on device"
    Closed,     // >&-
    ReaderGone, // a pipe whose reader has already gone
};

struct ChildSetup {
    ChildStdout out = ChildStdout::Captured;
    long fileSizeLimit = -1; // RLIMIT_FSIZE in bytes, as a full file system refuses writes; -1 leaves it
};

// Whether a child can be started with its standard output closed: not under Wine, which gives such a child a console
// handle instead.
bool childStdoutCanBeClosed();

// Runs a program of the build (the ferrowind command line) with FERROWIND_REGISTRY set, bounded to 60 s.
CliRun runCli(const QString& program, const QStringList& args, const QString& registry,
              const QProcessEnvironment& extra = QProcessEnvironment(), ChildSetup setup = {});

// Asks a running child to end as a service manager does: SIGTERM on Linux. On Windows a console event reaches only a
// child on the sender's console: the child is terminated there (the console events have their own test).
void endChild(QProcess& child);

#ifdef FERROWIND_CLI
// The command line of the build, without an installed product unless `registry` names one.
inline CliRun cli(const QStringList& args, const QString& registry = QStringLiteral("/nonexistent"), ChildSetup setup = {})
{
    return runCli(QStringLiteral(FERROWIND_CLI), args, registry, QProcessEnvironment(), setup);
}
#endif

} // namespace fw::test
