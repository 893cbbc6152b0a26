#pragma once
#include <QString>

namespace fw {

// The only way a connection string is shown: every password value (keys PWD and Password in any letter case,
// braced or not) becomes "***" and the rest stays as written, so the server and database remain visible.
// Drivers read the value's end differently (ODBC: a braced value may hold ';' and "}}"; FreeTDS: a brace right
// after '=' runs to "};"; some drivers: a value in quotes), so a password is masked to the furthest end any of
// them gives it, and a password any of them sees is masked. A brace or quote never closed hides everything after
// it, so a password key inside it is masked to the end.
QString redactConnectionString(const QString& connectionString);

// A text that may quote the connection string or part of it (a driver's error message) with every value that
// follows a PWD= or Password= key replaced by "***". The password's letters elsewhere are left alone: masking
// them everywhere would spell out a short password.
QString withoutConnectionSecrets(const QString& text, const QString& connectionString);

} // namespace fw
