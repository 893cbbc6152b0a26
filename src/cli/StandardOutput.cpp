#include "cli/StandardOutput.h"

#include "platform/WriteAll.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace fw {

StandardOutput::StandardOutput(int fd, bool closed) : m_fd(fd)
{
    if (closed) {
        m_errno = EBADF;
        m_failure = errorText(EBADF);
    }
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 StandardOutput::writeData(const char* data, qint64 len)
{
    if (m_errno)
        return -1;
    m_errno = writeAll(m_fd, data, len);
    if (m_errno) {
        m_failure = errorText(m_errno);
        return -1;
    }
    return len;
}

bool reserveStandardDescriptors()
{
    bool stdoutClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (fd == STDOUT_FILENO)
            stdoutClosed = true;
        const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    return stdoutClosed;
}

} // namespace fw
