#include "LagSockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace fw::bench::net {
namespace {

QString lastError()
{
    return QStringLiteral("winsock error %1").arg(WSAGetLastError());
}

bool started()
{
    static const bool ok = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}

void prepare(SOCKET s)
{
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    const BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool wouldBlock()
{
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINTR;
}

} // namespace

Socket listenOnLoopback(quint16* port, QString* error)
{
    if (!started()) {
        *error = lastError();
        return kNoSocket;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback(0);
    int len = sizeof a;
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 64) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        *error = lastError();
        if (s != INVALID_SOCKET)
            closesocket(s);
        return kNoSocket;
    }
    prepare(s);
    *port = ntohs(a.sin_port);
    return static_cast<Socket>(s);
}

Socket connectToLoopback(quint16 port)
{
    if (!started())
        return kNoSocket;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    const sockaddr_in a = loopback(port);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    prepare(s);
    return static_cast<Socket>(s);
}

Socket acceptWaiting(Socket listener)
{
    const SOCKET s = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    prepare(s);
    return static_cast<Socket>(s);
}

// No pipe can wake WSAPoll: a loopback connection does.
bool makeWakePair(Socket out[2], QString* error)
{
    quint16 port = 0;
    const Socket listener = listenOnLoopback(&port, error);
    if (listener == kNoSocket)
        return false;
    const Socket sending = connectToLoopback(port);
    Socket receiving = kNoSocket;
    if (sending != kNoSocket) {
        // The listener is non-blocking: the connection made above is waiting, or comes within a moment.
        for (int tries = 0; tries < 1000 && receiving == kNoSocket; ++tries) {
            receiving = acceptWaiting(listener);
            if (receiving == kNoSocket)
                Sleep(1);
        }
    }
    closeSocket(listener);
    if (receiving == kNoSocket) {
        *error = lastError();
        closeSocket(sending);
        return false;
    }
    out[0] = receiving;
    out[1] = sending;
    return true;
}

long receiveSome(Socket s, char* buffer, std::size_t size)
{
    const int n = ::recv(static_cast<SOCKET>(s), buffer, static_cast<int>(size), 0);
    if (n >= 0)
        return n;
    return wouldBlock() ? kWouldBlock : kFailed;
}

long sendSome(Socket s, const char* data, std::size_t size)
{
    const int n = ::send(static_cast<SOCKET>(s), data, static_cast<int>(size), 0);
    if (n >= 0)
        return n;
    return wouldBlock() ? kWouldBlock : kFailed;
}

void shutdownSending(Socket s)
{
    ::shutdown(static_cast<SOCKET>(s), SD_SEND);
}

void closeSocket(Socket s)
{
    if (s != kNoSocket)
        closesocket(static_cast<SOCKET>(s));
}

bool waitForAny(std::vector<Watched>& watched, int timeoutMs)
{
    // WSAPoll is given the watched sockets only.
    std::vector<WSAPOLLFD> fds;
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < watched.size(); ++i) {
        watched[i].ready = false;
        if (watched[i].socket == kNoSocket)
            continue;
        fds.push_back(
            {static_cast<SOCKET>(watched[i].socket), static_cast<SHORT>(watched[i].forReading ? POLLRDNORM : POLLWRNORM), 0});
        at.push_back(i);
    }
    if (WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs) == SOCKET_ERROR)
        return WSAGetLastError() == WSAEINTR;
    for (std::size_t k = 0; k < fds.size(); ++k) {
        const Watched& w = watched[at[k]];
        watched[at[k]].ready = fds[k].revents &
                               (w.forReading ? (POLLRDNORM | POLLHUP | POLLERR) : (POLLWRNORM | POLLHUP | POLLERR));
    }
    return true;
}

} // namespace fw::bench::net
