#include "cli/ServerSockets.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace fw {

bool refuseSocket(qintptr descriptor, const QByteArray& answer)
{
    const int fd = static_cast<int>(descriptor);
    bool sent = false;
    if (!answer.isEmpty())
        sent = ::send(fd, answer.constData(), static_cast<size_t>(answer.size()), MSG_DONTWAIT | MSG_NOSIGNAL) ==
               static_cast<ssize_t>(answer.size());
    ::close(fd);
    return sent;
}

Result<std::pair<qintptr, qintptr>> connectedSocketPair()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return FwError{0, QString::fromLocal8Bit(std::strerror(errno))};
    return std::pair<qintptr, qintptr>(fds[0], fds[1]);
}

void closeSocket(qintptr descriptor)
{
    ::close(static_cast<int>(descriptor));
}

} // namespace fw
