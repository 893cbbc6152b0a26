#include "cli/RefuseSocket.h"

#include <winsock2.h>

namespace fw {

void refuseSocket(qintptr descriptor, const QByteArray& answer)
{
    const auto s = static_cast<SOCKET>(descriptor);
    if (!answer.isEmpty()) {
        // Non-blocking for this one send: a client that reads nothing must not hold the server.
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        (void)::send(s, answer.constData(), static_cast<int>(answer.size()), 0);
    }
    closesocket(s);
}

} // namespace fw
