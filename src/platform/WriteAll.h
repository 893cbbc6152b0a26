#pragma once
#include <QString>

#include <cerrno>
#include <system_error>

namespace fw {

// The platform's file primitives the shared code needs, on C runtime descriptors (QFile::handle() gives one on
// both platforms). Each returns 0 or an errno value, so that callers word failures the same way everywhere.

// Writes all of `data` to the descriptor, going on after short writes and interruptions. Returns 0, or the errno
// of the write that failed (a full disk, a file size limit, a reader that went away). A console gets the UTF-8
// bytes as text.
int writeAll(int fd, const char* data, qint64 size);
// The same at a given offset, leaving the descriptor's position alone.
int writeAllAt(int fd, const char* data, qint64 size, qint64 offset);
// Flushes the descriptor's data to the disk.
int syncFile(int fd);
// Creates `path` only if it does not exist yet (EEXIST when it does).
int createNewFile(const QString& path);

// The system's text for an errno value ("No space left on device").
inline QString errorText(int error)
{
    return QString::fromStdString(std::generic_category().message(error));
}

} // namespace fw
