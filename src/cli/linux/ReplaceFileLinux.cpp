#include "cli/ReplaceFile.h"

#include "platform/WriteAll.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

namespace {

QString reason(int error)
{
    return errorText(error);
}

} // namespace

QString replaceFile(const QString& path, const QByteArray& data)
{
    const QFileInfo target(path);
    const QByteArray targetName = QFile::encodeName(target.absoluteFilePath());
    struct stat old {};
    const bool replacing = ::stat(targetName.constData(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode))
        return QStringLiteral("not a regular file");

    // Hidden and without the target's extension, so that a collector reading *.prom never sees it half written.
    QByteArray tempName;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempName = QFile::encodeName(
            target.absolutePath() + QStringLiteral("/.") + target.fileName() +
            QStringLiteral(".tmp-%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return reason(errno);
    }
    if (fd < 0)
        return reason(EEXIST);

    const auto fail = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(tempName.constData());
        return reason(error);
    };
    if (replacing && ::fchmod(fd, old.st_mode & 07777) != 0)
        return fail(errno);
    if (const int error = writeAll(fd, data.constData(), data.size()))
        return fail(error);
    if (::fsync(fd) != 0)
        return fail(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return fail(errno);
    if (::rename(tempName.constData(), targetName.constData()) != 0)
        return fail(errno);
    // The rename itself reaches the disk with the folder's entry.
    const int dir = ::open(QFile::encodeName(target.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return QString();
}

} // namespace fw
