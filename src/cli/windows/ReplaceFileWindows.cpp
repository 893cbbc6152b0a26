#include "cli/ReplaceFile.h"

#include "platform/WriteAll.h"
#include "platform/windows/Win32Text.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>

#include <windows.h>

namespace fw {

namespace {

QString reason(DWORD error)
{
    return errorText(win::errnoFromWin32(error));
}

// Writes everything through the handle.
DWORD writeAllTo(HANDLE h, const QByteArray& data)
{
    qint64 done = 0;
    while (done < data.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<qint64>(data.size() - done, 1 << 24));
        if (!WriteFile(h, data.constData() + done, chunk, &written, nullptr))
            return GetLastError();
        if (written == 0)
            return ERROR_WRITE_FAULT;
        done += written;
    }
    return ERROR_SUCCESS;
}

} // namespace

QString replaceFile(const QString& path, const QByteArray& data)
{
    const QFileInfo target(path);
    const std::wstring targetName = win::widePath(target.absoluteFilePath());
    const DWORD attributes = GetFileAttributesW(targetName.c_str());
    const bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
    if (replacing && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return QStringLiteral("not a regular file");

    // Hidden and without the target's extension, so that a collector reading *.prom never sees it half written.
    std::wstring tempName;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        tempName = win::widePath(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                                 QStringLiteral(".tmp-%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        h = CreateFileW(tempName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return reason(GetLastError());
    }
    if (h == INVALID_HANDLE_VALUE)
        return reason(ERROR_FILE_EXISTS);

    const auto fail = [&](DWORD error) {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        DeleteFileW(tempName.c_str());
        return reason(error);
    };
    if (const DWORD e = writeAllTo(h, data))
        return fail(e);
    if (!FlushFileBuffers(h))
        return fail(GetLastError());
    const BOOL closed = CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
    if (!closed)
        return fail(GetLastError());
    // The new file shows as the old one did: not hidden unless the old one was.
    const DWORD shown = replacing ? (attributes & ~FILE_ATTRIBUTE_NORMAL) : FILE_ATTRIBUTE_NORMAL;
    if (!SetFileAttributesW(tempName.c_str(), shown ? shown : FILE_ATTRIBUTE_NORMAL))
        return fail(GetLastError());
    // The move replaces the old file in one step, written through to the disk before it returns. (ReplaceFileW is
    // not used: where it fails half-way it may leave a backup file of its own behind.)
    if (!MoveFileExW(tempName.c_str(), targetName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail(GetLastError());
    return QString();
}

} // namespace fw
