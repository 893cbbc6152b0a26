#include "platform/RegistryStore.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

RegFileStore::Read RegFileStore::readFile(const QString& path)
{
    // Opened without waiting (a FIFO with no writer would hold every command) and checked for what it is
    // before a byte is read: a device or a pipe may never end.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int e = errno;
        return {{},
                e == ENOENT ? QStringLiteral("does not exist") : QStringLiteral("cannot be read (%1)").arg(qt_error_string(e))};
    }
    Read r;
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        r.problem = QStringLiteral("cannot be read (%1)").arg(qt_error_string(errno));
    else if (S_ISDIR(st.st_mode))
        r.problem = QStringLiteral("is a folder");
    else if (!S_ISREG(st.st_mode))
        r.problem = QStringLiteral("is not a registry export (it is not a regular file)");
    else if (st.st_size > kMaxFileBytes)
        r.problem = QStringLiteral("is not a registry export (it is larger than 16 MiB)");
    while (r.problem.isEmpty()) {
        char chunk[65536];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            r.problem = QStringLiteral("cannot be read (%1)").arg(qt_error_string(errno));
        else if (n == 0)
            break;
        else if (r.bytes.size() + n > kMaxFileBytes) // grown since it was looked at
            r.problem = QStringLiteral("is not a registry export (it is larger than 16 MiB)");
        else
            r.bytes.append(chunk, n);
    }
    ::close(fd);
    if (!r.problem.isEmpty())
        r.bytes.clear();
    return r;
}

} // namespace fw
