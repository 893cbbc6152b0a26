#pragma once
#include <QByteArray>
#include <QString>

namespace fw {

// Replaces the file at `path` by `data` so that a reader sees either the old file or the whole new one: a
// temporary file is made beside it (hidden, with the old file's permissions), every write is checked, the data is
// synced to disk and only then renamed over the old file (on Windows MoveFileExW with MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_WRITE_THROUGH). On failure only that temporary file is removed and the
// old file stays as it was. Returns the reason of a failure ("File too large"), empty on success.
QString replaceFile(const QString& path, const QByteArray& data);

} // namespace fw
