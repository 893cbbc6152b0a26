#pragma once
#include <QString>

#include <cerrno>
#include <system_error>

#include <unistd.h>

namespace fw {

// Writes all of `data` to the descriptor, going on after short writes and interruptions. Returns 0, or the errno
// of the write that failed (a full disk, a file size limit, a reader that went away).
inline int writeAll(int fd, const char* data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += n;
    }
    return 0;
}

// The system's text for an errno value ("No space left on device").
inline QString errorText(int error)
{
    return QString::fromStdString(std::generic_category().message(error));
}

} // namespace fw
