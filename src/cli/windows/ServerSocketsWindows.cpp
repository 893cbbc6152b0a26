#include "cli/ServerSockets.h"

#include "platform/windows/Win32Text.h"

#include <winsock2.h>

namespace fw {
namespace {

QString socketError()
{
    return win::win32Text(static_cast<DWORD>(WSAGetLastError()));
}

} // namespace

bool refuseSocket(qintptr descriptor, const QByteArray& answer)
{
    const auto s = static_cast<SOCKET>(descriptor);
    bool sent = false;
    if (!answer.isEmpty()) {
        // Non-blocking for this one send: a client that reads nothing must not hold the server.
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        sent = ::send(s, answer.constData(), static_cast<int>(answer.size()), 0) == static_cast<int>(answer.size());
    }
    closesocket(s);
    return sent;
}

// Windows has no socketpair: a listener on the loopback address takes the one connection made to it, then goes.
Result<std::pair<qintptr, qintptr>> connectedSocketPair()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        return FwError{0, socketError()};
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        return FwError{0, socketError()};
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof at;
    SOCKET asking = INVALID_SOCKET;
    SOCKET serving = INVALID_SOCKET;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && ::listen(listener, 1) == 0 &&
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len) == 0) {
        asking = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (asking != INVALID_SOCKET && ::connect(asking, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0)
            serving = ::accept(listener, nullptr, nullptr);
    }
    const QString failure = serving == INVALID_SOCKET ? socketError() : QString();
    closesocket(listener);
    if (serving == INVALID_SOCKET) {
        if (asking != INVALID_SOCKET)
            closesocket(asking);
        return FwError{0, failure};
    }
    return std::pair<qintptr, qintptr>(static_cast<qintptr>(serving), static_cast<qintptr>(asking));
}

void closeSocket(qintptr descriptor)
{
    closesocket(static_cast<SOCKET>(descriptor));
}

} // namespace fw
