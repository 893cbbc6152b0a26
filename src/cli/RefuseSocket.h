#pragma once
#include <QByteArray>
#include <QtGlobal>

namespace fw {

// Sends `answer` (if any) to an accepted socket without waiting or raising SIGPIPE, then closes it.
void refuseSocket(qintptr descriptor, const QByteArray& answer);

} // namespace fw
