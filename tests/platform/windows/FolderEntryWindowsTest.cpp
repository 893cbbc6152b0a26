#include "platform/FolderEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <windows.h>

using namespace fw;

namespace {

std::wstring wide(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

// Sets the entry's own last-write time (a link's, not its target's).
void setModified(const QString& path, const QDateTime& when)
{
    const HANDLE h = CreateFileW(wide(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path.toStdString() << ": error " << GetLastError();
    const quint64 ticks = static_cast<quint64>(when.toMSecsSinceEpoch() + 11644473600000LL) * 10000;
    const FILETIME t{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    const bool set = SetFileTime(h, nullptr, nullptr, &t);
    CloseHandle(h);
    ASSERT_TRUE(set) << path.toStdString();
}

} // namespace

// Each kind of entry as the log clean-up judges it, in a folder whose name has a space and a letter outside ASCII:
// only a regular file under one name could be a log of its own; a hard link shows its second name, a folder is
// no file, a missing name nothing at all.
TEST(FolderEntryWindows, EachKindOfEntryIsToldApart)
{
    QTemporaryDir tmp;
    const QDir dir(tmp.filePath(QStringLiteral("Zo\u00eb\\Velmora Daten")));
    ASSERT_TRUE(QDir().mkpath(dir.path()));
    const QDateTime old(QDate(2025, 1, 15), QTime(10, 30, 5));
    const QString plain = dir.filePath("plain.TXT");
    write(plain, "log");
    setModified(plain, old);
    const QString shared = dir.filePath("shared.TXT");
    write(shared, "elsewhere too");
    ASSERT_TRUE(CreateHardLinkW(wide(dir.filePath("second.TXT")).c_str(), wide(shared).c_str(), nullptr));
    ASSERT_TRUE(dir.mkdir("folder.TXT"));

    const std::optional<FolderEntry> p = examineEntry(plain);
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->regularFile);
    EXPECT_EQ(p->names, 1u);
    EXPECT_EQ(p->modified, old);
    const std::optional<FolderEntry> s = examineEntry(shared);
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->regularFile);
    EXPECT_EQ(s->names, 2u);
    const std::optional<FolderEntry> f = examineEntry(dir.filePath("folder.TXT"));
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->regularFile);
    EXPECT_FALSE(examineEntry(dir.filePath("missing.TXT")));
}

// A symbolic link is never taken for a file of its own: it is judged as itself; removing it leaves the file it points
// to.
TEST(FolderEntryWindows, ASymbolicLinkIsNotFollowed)
{
    QTemporaryDir tmp;
    const QString target = tmp.filePath("audit.csv");
    write(target, "foreign");
    const QString link = tmp.filePath("link.TXT");
    if (!CreateSymbolicLinkW(wide(link).c_str(), wide(target).c_str(), 0))
        GTEST_SKIP() << "no symbolic link could be made here (error " << GetLastError() << ")";
    // Wine 8.0 says it made the link and makes nothing.
    if (GetFileAttributesW(wide(link).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "CreateSymbolicLinkW said it made the link, but there is none (Wine)";
    const std::optional<FolderEntry> e = examineEntry(link);
    ASSERT_TRUE(e);
    EXPECT_FALSE(e->regularFile);
    EXPECT_TRUE(removeEntry(link));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    QFile t(target);
    ASSERT_TRUE(t.open(QIODevice::ReadOnly));
    EXPECT_EQ(t.readAll(), "foreign");
}

// A read-only file goes, as unlink removes it on Linux; a name that is not there, or a folder, is not removed.
TEST(FolderEntryWindows, ARemovalTakesAReadOnlyFileAndRefusesWhatItCannotRemove)
{
    QTemporaryDir tmp;
    const QString readOnly = tmp.filePath("old.TXT");
    write(readOnly, "log");
    ASSERT_TRUE(SetFileAttributesW(wide(readOnly).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(removeEntry(readOnly));
    EXPECT_FALSE(QFileInfo::exists(readOnly));
    EXPECT_FALSE(removeEntry(tmp.filePath("missing.TXT")));
    ASSERT_TRUE(QDir(tmp.path()).mkdir("folder.TXT"));
    EXPECT_FALSE(removeEntry(tmp.filePath("folder.TXT")));
    EXPECT_TRUE(QFileInfo(tmp.filePath("folder.TXT")).isDir());
}
