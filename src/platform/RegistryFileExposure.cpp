#include "platform/RegistryFileExposure.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace fw {

namespace {
// Larger files are refused by the reader; reading one here only to warn would cost the memory the cap saves.
constexpr qint64 kLargestChecked = 16 * 1024 * 1024;

QString decoded(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE"))
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2), (bytes.size() - 2) / 2);
    if (bytes.startsWith("\xFE\xFF")) {
        QByteArray swapped = bytes.mid(2);
        for (qsizetype i = 0; i + 1 < swapped.size(); i += 2)
            std::swap(swapped[i], swapped[i + 1]);
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(swapped.constData()), swapped.size() / 2);
    }
    return QString::fromUtf8(bytes);
}
} // namespace

bool holdsDatabasePassword(const QByteArray& fileContents)
{
    // ODBC's PWD, or Password as some drivers take it, at the start or after a separator; an empty value (PWD=;)
    // is no password.
    static const QRegularExpression pwd(QStringLiteral("(?:^|[;\"{\\s])(?:PWD|Password)\\s*=\\s*[^;\"\\s]"),
                                        QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
    return pwd.match(decoded(fileContents)).hasMatch();
}

QString passwordExposureWarning(const QString& path)
{
    const QFileInfo fi(path);
    if (!fi.isFile() || fi.size() > kLargestChecked || !everyoneCanRead(path))
        return {};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !holdsDatabasePassword(f.read(kLargestChecked)))
        return {};
    return QStringLiteral("warning: the registry file %1 holds a database password and every user of this computer "
                          "can read it; make it unreadable to others (%2)")
        .arg(path, unreadableToOthersCommand(path));
}

} // namespace fw
