#include "LagSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fw::bench::net {
namespace {

void prepare(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace

Socket listenOnLoopback(quint16* port, QString* error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return kNoSocket;
    }
    prepare(fd);
    *port = ntohs(a.sin_port);
    return fd;
}

Socket connectToLoopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return kNoSocket;
    const sockaddr_in a = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return kNoSocket;
    }
    prepare(fd);
    return fd;
}

Socket acceptWaiting(Socket listener)
{
    const int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return kNoSocket;
    prepare(fd);
    return fd;
}

bool makeWakePair(Socket out[2], QString* error)
{
    // A socket pair rather than a pipe: the wake byte is sent like any other.
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    out[0] = fds[0];
    out[1] = fds[1];
    return true;
}

long receiveSome(Socket s, char* buffer, std::size_t size)
{
    const ssize_t n = ::read(static_cast<int>(s), buffer, size);
    if (n >= 0)
        return static_cast<long>(n);
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kWouldBlock : kFailed;
}

long sendSome(Socket s, const char* data, std::size_t size)
{
    const ssize_t n = ::send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
    if (n >= 0)
        return static_cast<long>(n);
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kWouldBlock : kFailed;
}

void shutdownSending(Socket s)
{
    ::shutdown(static_cast<int>(s), SHUT_WR);
}

void closeSocket(Socket s)
{
    if (s != kNoSocket)
        ::close(static_cast<int>(s));
}

bool waitForAny(std::vector<Watched>& watched, int timeoutMs)
{
    std::vector<pollfd> fds;
    fds.reserve(watched.size());
    for (const Watched& w : watched)
        fds.push_back({static_cast<int>(w.socket), static_cast<short>(w.forReading ? POLLIN : POLLOUT), 0});
    if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR)
        return false;
    for (std::size_t i = 0; i < watched.size(); ++i)
        watched[i].ready = watched[i].socket != kNoSocket &&
                           (fds[i].revents & (watched[i].forReading ? (POLLIN | POLLHUP | POLLERR) : (POLLOUT | POLLERR)));
    return true;
}

} // namespace fw::bench::net
