#include "platform/WriteAll.h"

#include "platform/windows/Win32Text.h"

#include <QString>

#include <algorithm>

#include <io.h>
#include <windows.h>

namespace fw {

namespace {

HANDLE handleOf(int fd)
{
    const intptr_t h = _get_osfhandle(fd);
    return h == -1 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(h);
}

// A console shows text, not bytes: the UTF-8 is turned into UTF-16 so that non-ASCII names read right in
// cmd.exe and PowerShell whatever their code page.
int writeConsole(HANDLE h, const char* data, qint64 size)
{
    const QString text = QString::fromUtf8(data, static_cast<qsizetype>(size));
    const auto* w = reinterpret_cast<const wchar_t*>(text.utf16());
    qint64 done = 0;
    const qint64 total = text.size();
    while (done < total) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<qint64>(total - done, 16384));
        if (!WriteConsoleW(h, w + done, chunk, &written, nullptr))
            return win::errnoFromWin32(GetLastError());
        if (written == 0)
            return EIO;
        done += written;
    }
    return 0;
}

// Writes everything; with `offset` >= 0 at that place in the file, else at its current position.
int writeHandle(HANDLE h, const char* data, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<qint64>(size - done, 1 << 24));
        OVERLAPPED at{};
        if (offset >= 0) {
            const quint64 where = static_cast<quint64>(offset + done);
            at.Offset = static_cast<DWORD>(where);
            at.OffsetHigh = static_cast<DWORD>(where >> 32);
        }
        if (!WriteFile(h, data + done, chunk, &written, offset >= 0 ? &at : nullptr))
            return win::errnoFromWin32(GetLastError());
        if (written == 0)
            return EIO;
        done += written;
    }
    return 0;
}

} // namespace

int writeAll(int fd, const char* data, qint64 size)
{
    const HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE || h == nullptr)
        return EBADF;
    DWORD mode = 0;
    if (GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode))
        return writeConsole(h, data, size);
    return writeHandle(h, data, size, -1);
}

int writeAllAt(int fd, const char* data, qint64 size, qint64 offset)
{
    const HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE || h == nullptr)
        return EBADF;
    return writeHandle(h, data, size, offset);
}

int syncFile(int fd)
{
    const HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE || h == nullptr)
        return EBADF;
    return FlushFileBuffers(h) ? 0 : win::errnoFromWin32(GetLastError());
}

int createNewFile(const QString& path)
{
    const HANDLE h = CreateFileW(win::widePath(path).c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return win::errnoFromWin32(GetLastError());
    CloseHandle(h);
    return 0;
}

} // namespace fw
