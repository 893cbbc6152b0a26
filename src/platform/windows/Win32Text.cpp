#include "platform/windows/Win32Text.h"

#include <QDir>

#include <cerrno>

namespace fw::win {

int errnoFromWin32(DWORD error)
{
    switch (error) {
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED: return EPIPE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_FILE_TOO_LARGE: return EFBIG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EIO;
    }
}

QString win32Text(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString s = n && text ? QString::fromWCharArray(text, static_cast<qsizetype>(n)).trimmed() : QString();
    if (text)
        LocalFree(text);
    if (s.isEmpty())
        s = QStringLiteral("error %1").arg(error);
    return s;
}

std::wstring widePath(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace fw::win
