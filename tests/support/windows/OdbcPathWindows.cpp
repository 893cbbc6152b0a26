#include "support/OdbcPath.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

#include <windows.h>

namespace fw::test {

QString odbcFilePath(const QString& path)
{
    // Wine's kernel32 says where a Windows path lies on the host; Windows itself has no such export.
    using UnixName = char* (*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName)
        return path;
    char* name = unixName(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()));
    if (!name)
        return path;
    const QString host = QFile::decodeName(name);
    HeapFree(GetProcessHeap(), 0, name);
    return host;
}

} // namespace fw::test
