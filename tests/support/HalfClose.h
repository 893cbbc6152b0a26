#pragma once
#include <QtGlobal>

namespace fw::test {

// Ends the sending side of a connected socket (a descriptor on Linux, a SOCKET on Windows) while it still reads,
// as `nc -N` does after its request. Whether the system took it.
bool shutdownSending(qintptr socket);

} // namespace fw::test
