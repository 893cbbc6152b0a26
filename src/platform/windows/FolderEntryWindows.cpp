#include "platform/FolderEntry.h"

#include "platform/windows/Win32Text.h"

#include <windows.h>

namespace fw {
namespace {

// Milliseconds from 1601-01-01, where FILETIME counts from, to the Unix epoch.
constexpr qint64 kEpochFrom1601Ms = 11644473600000;

} // namespace

std::optional<FolderEntry> examineEntry(const QString& path)
{
    // Opened as the entry itself: a symbolic link or junction is looked at, not followed.
    const HANDLE h = CreateFileW(win::widePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info);
    const DWORD type = GetFileType(h);
    CloseHandle(h);
    if (!known)
        return std::nullopt;
    FolderEntry entry;
    entry.regularFile = type == FILE_TYPE_DISK &&
                        !(info.dwFileAttributes &
                          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
    entry.names = info.nNumberOfLinks;
    const qint64 ticks = static_cast<qint64>((static_cast<quint64>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                             info.ftLastWriteTime.dwLowDateTime);
    entry.modified = QDateTime::fromMSecsSinceEpoch(ticks / 10000 - kEpochFrom1601Ms);
    return entry;
}

bool removeEntry(const QString& path)
{
    const std::wstring wide = win::widePath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    // Windows refuses to remove a read-only file (Linux asks only the folder): the mark goes first, and comes back
    // when the file stays. A link's mark is left alone, so that nothing is changed on what it points to.
    const bool unmark = (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (unmark && !SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        return false;
    if (DeleteFileW(wide.c_str()))
        return true;
    if (unmark)
        SetFileAttributesW(wide.c_str(), attributes);
    return false;
}

} // namespace fw
