#pragma once
#include <QString>

namespace fw::test {

// A file's path as the SQLite3 ODBC driver is to open it. Under Wine the driver is the host's (Wine's odbc32 hands
// over to unixODBC), so it gets the host's path of the file; elsewhere the path as it is.
QString odbcFilePath(const QString& path);

} // namespace fw::test
