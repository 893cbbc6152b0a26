#include "cli/RefuseSocket.h"

#include <sys/socket.h>
#include <unistd.h>

namespace fw {

void refuseSocket(qintptr descriptor, const QByteArray& answer)
{
    const int fd = static_cast<int>(descriptor);
    if (!answer.isEmpty())
        (void)::send(fd, answer.constData(), static_cast<size_t>(answer.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::close(fd);
}

} // namespace fw
