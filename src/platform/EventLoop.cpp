#include "platform/EventLoop.h"

#include <QCoreApplication>

namespace fw {

void QtEventLoop::exit(int exitCode)
{
    QCoreApplication::exit(exitCode);
}

} // namespace fw
