#pragma once
#include <QString>

namespace fw {

// The only way a connection string is shown: every password value (keys PWD and Password in any letter case,
// braced or not) becomes "***" and the rest stays as written, so the server and database remain visible.
// Follows the ODBC attribute grammar: key=value pairs split at ';', a value in braces may hold ';' and "}}".
// A brace never closed hides everything after it, so a password key inside it is masked to the end.
QString redactConnectionString(const QString& connectionString);

// A text that may quote the connection string or part of it (a driver's error message) with every value that
// follows a PWD= or Password= key replaced by "***". The password's letters elsewhere are left alone: masking
// them everywhere would spell out a short password.
QString withoutConnectionSecrets(const QString& text, const QString& connectionString);

} // namespace fw
