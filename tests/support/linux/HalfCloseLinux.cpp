#include "support/HalfClose.h"

#include <sys/socket.h>

namespace fw::test {

bool shutdownSending(qintptr socket)
{
    return ::shutdown(static_cast<int>(socket), SHUT_WR) == 0;
}

} // namespace fw::test
