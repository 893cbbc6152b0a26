#include "cli/StandardOutput.h"

#include "platform/WriteAll.h"

#include <cerrno>

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

} // namespace fw
