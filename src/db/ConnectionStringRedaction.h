#pragma once
#include <QString>

namespace fw {

// The only way a connection string is shown: every password value (keys PWD and Password in any letter case,
// braced or not) becomes "***" and the rest stays as written, so the server and database remain visible.
// Follows the ODBC attribute grammar: key=value pairs split at ';', a value in braces may hold ';' and "}}".
QString redactConnectionString(const QString& connectionString);

// A text that may quote the connection string (a driver's error message) with the password values of that
// connection string replaced by "***".
QString withoutConnectionSecrets(const QString& text, const QString& connectionString);

} // namespace fw
