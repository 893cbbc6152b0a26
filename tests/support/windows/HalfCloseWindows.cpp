#include "support/HalfClose.h"

#include <winsock2.h>

namespace fw::test {

bool shutdownSending(qintptr socket)
{
    return ::shutdown(static_cast<SOCKET>(socket), SD_SEND) == 0;
}

} // namespace fw::test
