#include "support/CliProcess.h"

#include <QProcess>

#include <windows.h>

namespace fw::test {

namespace {

// The handle the child gets as its standard output, made before it starts; null for the captured pipe.
// Under Wine, Z: is the host's root: Z:\dev\full is the host's full device.
HANDLE makeStdout(ChildStdout out, QString& problem)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    switch (out) {
    case ChildStdout::Captured:
    case ChildStdout::Closed: return nullptr;
    case ChildStdout::DevFull: {
        const HANDLE h = CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            problem = QStringLiteral("Z:\\dev\\full cannot be opened (error %1); it exists under Wine only").arg(GetLastError());
        return h == INVALID_HANDLE_VALUE ? nullptr : h;
    }
    case ChildStdout::ReaderGone: {
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
            problem = QStringLiteral("no pipe (error %1)").arg(GetLastError());
            return nullptr;
        }
        CloseHandle(readEnd);
        return writeEnd;
    }
    }
    return nullptr;
}

} // namespace

bool childStdoutCanBeClosed()
{
    // Wine's ntdll has wine_get_version; Windows' does not.
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

CliRun runCli(const QString& program, const QStringList& args, const QString& registry, const QProcessEnvironment& extra,
              ChildSetup setup)
{
    // A file size limit has no Windows counterpart: a suite that needs it is not run here.
    if (setup.fileSizeLimit >= 0)
        return {-3, QString(), QStringLiteral("runCli: a file size limit cannot be set on Windows")};
    QString problem;
    const HANDLE child = makeStdout(setup.out, problem);
    if (!problem.isEmpty())
        return {-3, QString(), QStringLiteral("runCli: ") + problem};
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FERROWIND_REGISTRY"), registry);
    env.insert(extra);
    p.setProcessEnvironment(env);
    const ChildStdout out = setup.out;
    p.setCreateProcessArgumentsModifier([out, child](QProcess::CreateProcessArguments* a) {
        if (out == ChildStdout::Captured)
            return;
        a->startupInfo->dwFlags |= STARTF_USESTDHANDLES;
        a->startupInfo->hStdOutput = out == ChildStdout::Closed ? nullptr : child;
        a->inheritHandles = TRUE;
    });
    p.start(program, args);
    const bool started = p.waitForStarted(60000);
    if (child)
        CloseHandle(child);
    if (!started || !p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        return {};
    }
    return {p.exitStatus() == QProcess::CrashExit ? -2 : p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

void endChild(QProcess& child)
{
    child.kill();
}

} // namespace fw::test
