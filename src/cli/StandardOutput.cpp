#include "cli/StandardOutput.h"

#include "platform/WriteAll.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace fw {

StandardOutput::StandardOutput(int fd, bool closed) : m_fd(fd), m_closed(closed)
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 StandardOutput::writeData(const char* data, qint64 len)
{
    if (!m_failure.isEmpty())
        return -1;
    // A command that has nothing to print may run with standard output closed (metrics --output from cron).
    const int error = m_closed ? EBADF : writeAll(m_fd, data, len);
    if (error) {
        m_failure = errorText(error);
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
