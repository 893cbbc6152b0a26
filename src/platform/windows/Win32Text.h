#pragma once
#include <QString>

#include <windows.h>

namespace fw::win {

// The errno value the shared code words a Win32 error with (ENOSPC for a full disk, EPIPE for a reader that left).
int errnoFromWin32(DWORD error);
// The system's own text for a Win32 error, without the trailing line break.
QString win32Text(DWORD error);
// A path as the wide-character API wants it (backslashes, no trailing zero needed: utf16() ends in one).
std::wstring widePath(const QString& path);

} // namespace fw::win
