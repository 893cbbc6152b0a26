#include "log/ActivityLogFixture.h"
#include "support/linux/FileSizeLimitLinux.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fw;
using fw::test::ActivityLogTest;
using fw::test::FileSizeLimit;

// 0640, not the umask's 0644: owner and group bits only (Qt's "User" bits repeat the owner's for its owner).
TEST_F(ActivityLogTest, ANewLogIsReadByItsOwnerAndGroupOnly)
{
    open();
    EXPECT_EQ(QFileInfo(path).permissions() & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
}

namespace {
// The entry's own permission bits and modification time, a symbolic link not followed.
mode_t modeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void setModified(const QString& path, const QDateTime& modified)
{
    const timespec t{modified.toSecsSinceEpoch(), 0};
    const timespec times[2] = {t, t};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0)
        << path.toStdString() << ": " << std::strerror(errno);
}
} // namespace

// Only a regular file under one name can be its own log: a link to a file elsewhere, symbolic or hard, is left as it
// is and so is that file; a name that only looks like a log's up to a line break is someone else's.
TEST_F(ActivityLogTest, TheCleanUpNeverReachesOutsideItsFolder)
{
    const QDateTime old(clock.now().date().addDays(-200), QTime(12, 0));
    const QString elsewhere = QDir(dir.path()).filePath("elsewhere");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_TRUE(QDir().mkpath(logsDir()));
    const QString target = QDir(elsewhere).filePath("audit.csv");
    const QString other = QDir(elsewhere).filePath("keep.db");
    for (const QString& path : {target, other}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        f.write("foreign");
        f.close();
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
        setModified(path, old);
    }
    const QString symlink = QDir(logsDir()).filePath("FerrowindSettingsTool_Log_260501_10_00_00.TXT");
    const QString hardlink = QDir(logsDir()).filePath("FerrowindSettingsTool_Log_260502_10_00_00.TXT");
    const QString fifo = QDir(logsDir()).filePath("FerrowindSettingsTool_Log_260503_10_00_00.TXT");
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(symlink).constData()), 0);
    setModified(symlink, old);
    ASSERT_EQ(::link(QFile::encodeName(other).constData(), QFile::encodeName(hardlink).constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    setModified(fifo, old);
    touch("FerrowindSettingsTool_Log_260504_10_00_00.TXT\n", old);
    touch("FerrowindSettingsTool_Log_260505_10_00_00.TXT", old); // its own old log, read-only: it goes
    ASSERT_EQ(
        ::chmod(QFile::encodeName(QDir(logsDir()).filePath("FerrowindSettingsTool_Log_260505_10_00_00.TXT")).constData(), 0444),
        0);

    log.GenerateNewLogFileName();
    QStringList left = QDir(logsDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    left.sort();
    EXPECT_EQ(left,
              QStringList({"FerrowindSettingsTool_Log_260501_10_00_00.TXT", "FerrowindSettingsTool_Log_260502_10_00_00.TXT",
                           "FerrowindSettingsTool_Log_260503_10_00_00.TXT", "FerrowindSettingsTool_Log_260504_10_00_00.TXT\n",
                           "FerrowindSettingsTool_Log_261205_18_44_43.TXT"}));
    EXPECT_EQ(QFileInfo(symlink).symLinkTarget(), target);
    EXPECT_EQ(modeOf(target), 0444u);
    EXPECT_EQ(modeOf(other), 0444u);
    EXPECT_EQ(read(target), "foreign");
    EXPECT_EQ(read(other), "foreign");
}

// Logging never stops the program, but a log that is not written says why, once, and is not taken for written.
TEST_F(ActivityLogTest, ALogThatCannotBeWrittenSaysWhyOnce)
{
    QStringList said;
    log.setFailureSink([&](const QString& why) { said << why; });
    log.WriteLog("no log started", true);
    EXPECT_TRUE(log.failure().isEmpty());

    {
        FileSizeLimit full(100);
        open();
        log.WriteLog("lost", false);
    }
    EXPECT_EQ(log.failure(), path + ": File too large");
    EXPECT_FALSE(log.isOpen());
    EXPECT_LE(read(path).size(), 100);
    // The next log starts afresh.
    open();
    log.WriteLog("kept", false);
    EXPECT_TRUE(log.failure().isEmpty());
    EXPECT_EQ(read(path), headerText + "kept\r\n");
    EXPECT_EQ(said.join("\n").toStdString(),
              (QDir(logsDir()).filePath("FerrowindSettingsTool_Log_261205_18_44_43.TXT") + ": File too large").toStdString());

    // No folder at all (neither XDG_STATE_HOME nor HOME): nothing is named as the log.
    ActivityLog nowhere(clock, "FerrowindSettingsTool", QString(), [] { return qint16(1); });
    nowhere.OpenLogFile(nowhere.GenerateNewLogFileName(), header);
    nowhere.WriteLog("lost", false);
    EXPECT_FALSE(nowhere.isOpen());
    EXPECT_TRUE(nowhere.logPath().isEmpty());
    EXPECT_EQ(nowhere.failure(), "there is no folder for it: neither XDG_STATE_HOME nor HOME names one");
}

// Beside a program outside /usr when that can be written; else $XDG_STATE_HOME, then /var/log for root, then home.
TEST(ActivityLogDir, BesideTheProgramElseXdgStateThenVarLogForRootThenHome)
{
    QTemporaryDir dir;
    EXPECT_EQ(ActivityLog::chooseLogsDir({dir.path(), "/state", "/home/ann", true, {}}), QDir(dir.path()).filePath("logs"));
    QFile file(QDir(dir.path()).filePath("not-a-folder"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    // Installed under /usr the program never writes beside itself, even when it could (as root).
    for (const QString& folder : {file.fileName(), QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin")}) {
        SCOPED_TRACE(folder.toStdString());
        EXPECT_EQ(ActivityLog::chooseLogsDir({folder, "/home/ann/.state", "/home/ann", true, {}}),
                  "/home/ann/.state/ferrowind/logs");
        EXPECT_EQ(ActivityLog::chooseLogsDir({folder, "", "/root", true, {}}), "/var/log/ferrowind");
        EXPECT_EQ(ActivityLog::chooseLogsDir({folder, "relative/is/ignored", "/root", true, {}}), "/var/log/ferrowind");
        EXPECT_EQ(ActivityLog::chooseLogsDir({folder, "", "/home/ann", false, {}}), "/home/ann/.local/state/ferrowind/logs");
        // Without a home folder there is no place for the logs (not "/.local/state").
        EXPECT_EQ(ActivityLog::chooseLogsDir({folder, "", "", false, {}}), "");
        EXPECT_EQ(ActivityLog::chooseLogsDir({folder, "", "/", false, {}}), "");
    }
}
