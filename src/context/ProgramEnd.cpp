#include "context/ProgramEnd.h"

#include "platform/EventLoop.h"

namespace fw {

void ProgramEnd::request(int exitCode)
{
    if (m_requested)
        return;
    m_requested = true;
    m_loop.exit(exitCode);
}

} // namespace fw
