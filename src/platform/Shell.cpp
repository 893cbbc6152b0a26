#include "platform/Shell.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace fw {

namespace {
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kNoAssociation = 31;

Shell::Result launch(const QString& program, const QStringList& args)
{
    const QString exe = QStandardPaths::findExecutable(program);
    if (exe.isEmpty() && !QFileInfo(program).isExecutable())
        return {false, kFileNotFound, QStringLiteral("The program %1 was not found.").arg(program)};
    qint64 pid = 0;
    if (!QProcess::startDetached(exe.isEmpty() ? program : exe, args, QString(), &pid))
        return {false, kNoAssociation, QStringLiteral("The program %1 could not be started.").arg(program)};
    return {true, 0, {}};
}
} // namespace

Shell::Result DesktopShell::openDocument(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {false, kFileNotFound, QStringLiteral("The file %1 does not exist.").arg(path)};
    Result r = launch(QStringLiteral("xdg-open"), {path});
    if (!r.ok && r.code == kFileNotFound)
        r = {false, kNoAssociation, QStringLiteral("No program is associated with %1 (xdg-open is missing).").arg(path)};
    return r;
}

Shell::Result DesktopShell::openFolder(const QString& path)
{
    if (!QFileInfo(path).isDir())
        return {false, kPathNotFound, QStringLiteral("The folder %1 does not exist.").arg(path)};
    Result r = launch(QStringLiteral("xdg-open"), {path});
    if (!r.ok && r.code == kFileNotFound)
        r = {false, kNoAssociation, QStringLiteral("No file manager could be started for %1 (xdg-open is missing).").arg(path)};
    return r;
}

Shell::Result DesktopShell::startProgram(const QString& program, const QStringList& args)
{
    return launch(program, args);
}

} // namespace fw
