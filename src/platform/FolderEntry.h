#pragma once
#include <QDateTime>
#include <QString>

#include <optional>

namespace fw {

// A folder entry as it stands, a symbolic link not followed: what a clean-up judges before it removes anything,
// so that it never acts on a file outside its folder through a link.
struct FolderEntry {
    bool regularFile = false; // not a link, folder, pipe or device
    quint64 names = 0;        // hard links: more than one means the file is also known elsewhere
    QDateTime modified;       // local time
};

// The entry at `path`, or nothing when it cannot be examined.
std::optional<FolderEntry> examineEntry(const QString& path);

// Removes the name `path` itself, also when the file is read-only; a link goes, never what it points to.
// False when it cannot be removed.
bool removeEntry(const QString& path);

} // namespace fw
