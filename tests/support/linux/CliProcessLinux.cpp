#include "support/CliProcess.h"

#include <QProcess>

#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace fw::test {

bool childStdoutCanBeClosed()
{
    return true;
}

CliRun runCli(const QString& program, const QStringList& args, const QString& registry, const QProcessEnvironment& extra,
              ChildSetup setup)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FERROWIND_REGISTRY"), registry);
    env.insert(extra);
    p.setProcessEnvironment(env);
    // Runs in the child after QProcess has set up its channels, before the program starts: system calls only.
    p.setChildProcessModifier([setup] {
        if (setup.fileSizeLimit >= 0) {
            const rlimit limit{static_cast<rlim_t>(setup.fileSizeLimit), static_cast<rlim_t>(setup.fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        int fd = -1;
        int pipeEnds[2];
        switch (setup.out) {
        case ChildStdout::Captured: return;
        case ChildStdout::DevFull: fd = ::open("/dev/full", O_WRONLY); break;
        case ChildStdout::Closed: ::close(STDOUT_FILENO); return;
        case ChildStdout::ReaderGone:
            if (::pipe(pipeEnds) != 0)
                return;
            ::close(pipeEnds[0]);
            fd = pipeEnds[1];
            break;
        }
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::close(fd);
        }
    });
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        return {};
    }
    // A death by a signal (SIGPIPE, SIGXFSZ) is not mistaken for an exit status.
    return {p.exitStatus() == QProcess::CrashExit ? -2 : p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

void endChild(QProcess& child)
{
    ::kill(static_cast<pid_t>(child.processId()), SIGTERM);
}

} // namespace fw::test
