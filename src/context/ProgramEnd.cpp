#include "context/ProgramEnd.h"

#include "platform/EventLoop.h"

namespace fw {

void ProgramEnd::request(int exitCode)
{
    m_requested = true;
    m_loop.exit(exitCode);
}

} // namespace fw
