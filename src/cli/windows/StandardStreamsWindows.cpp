#include "cli/StandardOutput.h"

#include <fcntl.h>
#include <io.h>
#include <cstdio>

namespace fw {

bool reserveStandardDescriptors()
{
    bool stdoutClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        const intptr_t h = _get_osfhandle(fd);
        if (h != -1 && h != -2 && h != 0)
            continue;
        if (fd == kStandardOutput)
            stdoutClosed = true;
        const int null = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (null >= 0 && null != fd) {
            _dup2(null, fd);
            _close(null);
        }
    }
    return stdoutClosed;
}

void ignoreWriteSignals()
{
    // Messages end their lines with LF as on Linux (a console shows them the same; scripts compare them).
    _setmode(_fileno(stderr), _O_BINARY);
}

} // namespace fw
