#include "platform/linux/DesktopShellLinux.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace fw {

namespace {
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kNoAssociation = 31;
// How long the association query may take before it is given up (and the opener tried anyway).
constexpr int kQueryTimeoutMs = 5000;

QString findProgram(const QString& program)
{
    const QString exe = QStandardPaths::findExecutable(program);
    if (!exe.isEmpty())
        return exe;
    return QFileInfo(program).isExecutable() ? program : QString();
}

Shell::Result launch(const QString& program, const QStringList& args)
{
    const QString exe = findProgram(program);
    if (exe.isEmpty())
        return {false, kFileNotFound, QStringLiteral("The program %1 was not found.").arg(program)};
    qint64 pid = 0;
    if (!QProcess::startDetached(exe, args, QString(), &pid))
        return {false, kNoAssociation, QStringLiteral("The program %1 could not be started.").arg(program)};
    return {true, 0, {}};
}
} // namespace

bool DesktopShell::hasAssociation(const QString& mimeType) const
{
    const QString exe = findProgram(m_mimeQuery);
    if (exe.isEmpty())
        return true; // nothing to ask: let the opener decide
    QProcess query;
    query.start(exe, {QStringLiteral("query"), QStringLiteral("default"), mimeType});
    if (!query.waitForFinished(kQueryTimeoutMs)) {
        query.kill();
        query.waitForFinished(1000);
        return true;
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return true;
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

Shell::Result DesktopShell::openDocument(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {false, kFileNotFound, QStringLiteral("The file %1 does not exist.").arg(path)};
    const QString mime = QMimeDatabase().mimeTypeForFile(path).name();
    if (!hasAssociation(mime))
        return {false, kNoAssociation, QStringLiteral("No program is associated with files of type %1.").arg(mime)};
    Result r = launch(m_opener, {path});
    if (!r.ok && r.code == kFileNotFound)
        r = {false, kNoAssociation, QStringLiteral("No program is associated with %1 (%2 is missing).").arg(path, m_opener)};
    return r;
}

Shell::Result DesktopShell::openFolder(const QString& path)
{
    if (!QFileInfo(path).isDir())
        return {false, kPathNotFound, QStringLiteral("The folder %1 does not exist.").arg(path)};
    Result r = launch(m_opener, {path});
    if (!r.ok && r.code == kFileNotFound)
        r = {false, kNoAssociation,
             QStringLiteral("No file manager could be started for %1 (%2 is missing).").arg(path, m_opener)};
    return r;
}

Shell::Result DesktopShell::openAddress(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {false, kFileNotFound, QStringLiteral("%1 is not a web address.").arg(address)};
    Result r = launch(m_opener, {url.toString(QUrl::FullyEncoded)});
    if (!r.ok && r.code == kFileNotFound)
        r = {false, kNoAssociation, QStringLiteral("No browser could be started for %1 (%2 is missing).").arg(address, m_opener)};
    return r;
}

Shell::Result DesktopShell::startProgram(const QString& program, const QStringList& args)
{
    return launch(program, args);
}

} // namespace fw
