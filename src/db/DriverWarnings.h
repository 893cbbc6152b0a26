#pragma once
#include <QString>

namespace fw {

// Qt's ODBC driver (6.4) warns on standard error, in its default logging category, of each statement that fails
// ("QODBCResult::exec: Unable to execute statement: ..."), of each login refused and of each handle it cannot free.
// The program says each such failure once, in its own words, where it belongs (a status line, a message box):
// these warnings are left out. Every other message goes where it went. Installed once per process.
void quietenDriverWarnings();

// Whether a warning of Qt's default category is one of the driver's own.
bool isDriverWarning(const QString& message);

} // namespace fw
