#include "platform/RegistryStore.h"

#include "platform/windows/Win32Text.h"

#include <windows.h>

namespace fw {

RegFileStore::Read RegFileStore::readFile(const QString& path)
{
    const std::wstring wide = win::widePath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = GetLastError();
        return {{},
                e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND
                    ? QStringLiteral("does not exist")
                    : QStringLiteral("cannot be read (%1)").arg(win::win32Text(e))};
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return {{}, QStringLiteral("is a folder")};
    // Shared for writing and deleting: an editor or an installer that has the export open is not blocked.
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        return {{},
                e == ERROR_FILE_NOT_FOUND ? QStringLiteral("does not exist")
                                          : QStringLiteral("cannot be read (%1)").arg(win::win32Text(e))};
    }
    Read r;
    LARGE_INTEGER size{};
    // A pipe or a device may never end: only a disk file is read.
    if (GetFileType(h) != FILE_TYPE_DISK)
        r.problem = QStringLiteral("is not a registry export (it is not a regular file)");
    else if (!GetFileSizeEx(h, &size))
        r.problem = QStringLiteral("cannot be read (%1)").arg(win::win32Text(GetLastError()));
    else if (size.QuadPart > kMaxFileBytes)
        r.problem = QStringLiteral("is not a registry export (it is larger than 16 MiB)");
    while (r.problem.isEmpty()) {
        char chunk[65536];
        DWORD n = 0;
        if (!ReadFile(h, chunk, sizeof chunk, &n, nullptr))
            r.problem = QStringLiteral("cannot be read (%1)").arg(win::win32Text(GetLastError()));
        else if (n == 0)
            break;
        else if (r.bytes.size() + n > kMaxFileBytes) // grown since it was looked at
            r.problem = QStringLiteral("is not a registry export (it is larger than 16 MiB)");
        else
            r.bytes.append(chunk, static_cast<qsizetype>(n));
    }
    CloseHandle(h);
    if (!r.problem.isEmpty())
        r.bytes.clear();
    return r;
}

} // namespace fw
