#pragma once
#include "log/Result.h"

#include <QByteArray>
#include <QtGlobal>

#include <utility>

namespace fw {

// The server's few uses of raw sockets (descriptors on Linux, SOCKETs on Windows, as Qt's socket classes take them).

// Sends `answer` (if any) to an accepted socket without waiting or raising SIGPIPE, then closes it. Whether the
// answer left in full.
bool refuseSocket(qintptr descriptor, const QByteArray& answer);
// Two sockets connected to each other, for a conversation of the program with itself.
Result<std::pair<qintptr, qintptr>> connectedSocketPair();
void closeSocket(qintptr descriptor);

} // namespace fw
