#include "platform/FolderEntry.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace fw {

std::optional<FolderEntry> examineEntry(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    FolderEntry entry;
    entry.regularFile = S_ISREG(st.st_mode);
    entry.names = static_cast<quint64>(st.st_nlink);
    entry.modified = QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
    return entry;
}

bool removeEntry(const QString& path)
{
    // Removing a name needs the folder's write permission, not the file's: nothing is changed on the file first.
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

} // namespace fw
