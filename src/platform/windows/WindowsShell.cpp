#include "platform/windows/WindowsShell.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <windows.h>
#include <shellapi.h>

namespace fw {

namespace {
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kNoAssociation = 31;

// ShellExecuteW's answer: above 32 is success, else one of the SE_ERR_ numbers (2, 3, 31 ... as on Linux).
int execute(const QString& verb, const QString& file, const QString& parameters)
{
    const auto w = [](const QString& s) { return s.isEmpty() ? nullptr : reinterpret_cast<const wchar_t*>(s.utf16()); };
    const auto r = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, w(verb), w(file), w(parameters), nullptr, SW_SHOWNORMAL));
    return r > 32 ? 0 : static_cast<int>(r == 0 ? 8 : r);
}
} // namespace

QString WindowsShell::quoteArguments(const QStringList& args)
{
    QStringList quoted;
    for (const QString& a : args) {
        if (!a.isEmpty() && !a.contains(QRegularExpression(QStringLiteral("[\\s\"]")))) {
            quoted << a;
            continue;
        }
        // Backslashes double only before a quote; the quote itself is escaped.
        QString q = QStringLiteral("\"");
        int slashes = 0;
        for (const QChar c : a) {
            if (c == QLatin1Char('\\')) {
                ++slashes;
                continue;
            }
            if (c == QLatin1Char('"'))
                q += QString(slashes * 2 + 1, QLatin1Char('\\'));
            else
                q += QString(slashes, QLatin1Char('\\'));
            slashes = 0;
            q += c;
        }
        q += QString(slashes * 2, QLatin1Char('\\')) + QLatin1Char('"');
        quoted << q;
    }
    return quoted.join(QLatin1Char(' '));
}

Shell::Result WindowsShell::openDocument(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {false, kFileNotFound, QStringLiteral("The file %1 does not exist.").arg(QDir::toNativeSeparators(path))};
    const int e = execute(QString(), QDir::toNativeSeparators(path), QString());
    if (e == kNoAssociation)
        return {false, e, QStringLiteral("No program is associated with %1.").arg(QDir::toNativeSeparators(path))};
    if (e)
        return {false, e, QStringLiteral("%1 could not be opened (error %2).").arg(QDir::toNativeSeparators(path)).arg(e)};
    return {true, 0, {}};
}

Shell::Result WindowsShell::openFolder(const QString& path)
{
    if (!QFileInfo(path).isDir())
        return {false, kPathNotFound, QStringLiteral("The folder %1 does not exist.").arg(QDir::toNativeSeparators(path))};
    const int e = execute(QStringLiteral("explore"), QDir::toNativeSeparators(path), QString());
    if (e)
        return {false, e,
                QStringLiteral("No file manager could be started for %1 (error %2).").arg(QDir::toNativeSeparators(path)).arg(e)};
    return {true, 0, {}};
}

Shell::Result WindowsShell::openAddress(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {false, kFileNotFound, QStringLiteral("%1 is not a web address.").arg(address)};
    const int e = execute(QStringLiteral("open"), url.toString(QUrl::FullyEncoded), QString());
    if (e)
        return {false, kNoAssociation, QStringLiteral("No browser could be started for %1 (error %2).").arg(address).arg(e)};
    return {true, 0, {}};
}

Shell::Result WindowsShell::startProgram(const QString& program, const QStringList& args)
{
    const int e = execute(QStringLiteral("open"), QDir::toNativeSeparators(program), quoteArguments(args));
    if (e == kFileNotFound || e == kPathNotFound)
        return {false, kFileNotFound, QStringLiteral("The program %1 was not found.").arg(program)};
    if (e)
        return {false, e, QStringLiteral("The program %1 could not be started (error %2).").arg(program).arg(e)};
    return {true, 0, {}};
}

} // namespace fw
