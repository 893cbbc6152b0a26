#include "log/ActivityLog.h"
#include "support/doubles/TestDoubles.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

namespace {

class ActivityLogTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }

    QString logsDir() const { return QDir(dir.path()).filePath("logs"); }

    void open()
    {
        path = log.GenerateNewLogFileName();
        log.OpenLogFile(path, header);
    }

    QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void touch(const QString& name, const QDateTime& modified)
    {
        QDir().mkpath(logsDir());
        QFile f(QDir(logsDir()).filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
        f.close();
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(modified, QFileDevice::FileModificationTime));
    }

    QTemporaryDir dir;
    FixedClock clock{QDateTime(QDate(2026, 12, 5), QTime(18, 44, 43))};
    qint16 trace = 0;
    const LogHeader header{"1.0.22", "4.0(3.100)", "admin", "CORP"};
    // What opening a file writes first: eight lines between two rules.
    const QByteArray headerText = QByteArray(64, '=') + "\r\n"
                                                        "Running FerrowindSettingsTool, version 1.0.22\r\n"
                                                        "\r\n"
                                                        "Local Velmora version=4.0(3.100)\r\n"
                                                        "Running under acciont: admin\\CORP\r\n"
                                                        "Local time=5 Dec 2026 18:44:43\r\n"
                                                        "\r\n" +
                                  QByteArray(64, '=') + "\r\n";
    ActivityLog log{clock, "FerrowindSettingsTool", logsDir(), [this] { return trace; }};
    QString path;
};

} // namespace

TEST_F(ActivityLogTest, NewLogHasTheNameAndEightHeaderLines)
{
    open();
    EXPECT_EQ(QFileInfo(path).fileName(), QStringLiteral("FerrowindSettingsTool_Log_261205_18_44_43.TXT"));
    EXPECT_EQ(read(path), headerText);
    // 0640, not the umask's 0644: owner and group bits only (Qt's "User" bits repeat the owner's for its owner).
    EXPECT_EQ(QFileInfo(path).permissions() & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
}

// A flush keeps writing to the same file; after the close nothing is written.
TEST_F(ActivityLogTest, LinesWithAndWithoutTimeStampAndEmbeddedLineBreaksUntilTheClose)
{
    open();
    log.WriteLog("", true);
    log.WriteLog("Save pressed for Domain=corp.example.com", false);
    log.FlushLogFile();
    log.WriteLog("first\r\nsecond", true);
    log.CloseLogFile();
    log.WriteLog("after the close", false);
    EXPECT_EQ(read(path), headerText + "5 Dec 2026 18:44:43: \r\n"
                                       "Save pressed for Domain=corp.example.com\r\n"
                                       "5 Dec 2026 18:44:43: first\r\nsecond\r\n");
}

TEST_F(ActivityLogTest, TraceLinesOnlyWhileTheSwitchIsPositive)
{
    open();
    trace = 0;
    log.WriteTraceLog("zero", false);
    trace = -1;
    log.WriteTraceLog("negative", false);
    trace = 1;
    log.WriteTraceLog("on", true);
    EXPECT_EQ(read(path), headerText + "5 Dec 2026 18:44:43: on\r\n");
}

TEST_F(ActivityLogTest, FilesOlderThanThirtyCalendarDaysAreDeleted)
{
    const QDate today = clock.now().date();
    touch("old_but_kept.TXT", QDateTime(today.addDays(-30), QTime(0, 0, 1)));
    touch("too_old.TXT", QDateTime(today.addDays(-31), QTime(23, 59, 59)));
    touch("not_a_log.dat", QDateTime(today.addDays(-200), QTime(12, 0)));
    touch("fresh.TXT", QDateTime(today, QTime(1, 0)));
    touch("readonly.TXT", QDateTime(today.addDays(-45), QTime(12, 0)));
    QFile::setPermissions(QDir(logsDir()).filePath("readonly.TXT"), QFileDevice::ReadOwner);
    QDir(logsDir()).mkdir("sub");

    log.GenerateNewLogFileName();
    EXPECT_EQ(QDir(logsDir()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{"fresh.TXT", "old_but_kept.TXT", "sub"}));
}

TEST_F(ActivityLogTest, ReplacesAnEarlierRunsFileButAppendsToItsOwn)
{
    touch("FerrowindSettingsTool_Log_261205_18_44_43.TXT", clock.now());
    open();
    log.WriteLog("before reload", false);

    // A reload within the same second gets the same name: this run's lines stay.
    const QString again = log.GenerateNewLogFileName();
    ASSERT_EQ(again, path);
    log.OpenLogFile(again, header);
    log.WriteLog("after reload", false);
    // The earlier run's "x" is gone.
    EXPECT_EQ(read(path), headerText + "before reload\r\n" + headerText + "after reload\r\n");
}

TEST_F(ActivityLogTest, FailuresAreSilent)
{
    log.WriteLog("nothing open", true); // no crash, nothing to write to
    log.FlushLogFile();
    log.CloseLogFile();
    // A logs folder that cannot exist: the path still points into it and opening fails quietly.
    QFile blocker(QDir(dir.path()).filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ActivityLog blocked(clock, "FerrowindSettingsTool", QDir(dir.path()).filePath("blocker/logs"), [] { return qint16(1); });
    const QString lost = blocked.GenerateNewLogFileName();
    blocked.OpenLogFile(lost, header);
    blocked.WriteLog("lost", false);
    EXPECT_FALSE(blocked.isOpen());
    EXPECT_FALSE(QFileInfo::exists(lost));
}

// Beside a program outside /usr when that can be written; else $XDG_STATE_HOME, then /var/log for root, then home.
TEST(ActivityLogDir, BesideTheProgramElseXdgStateThenVarLogForRootThenHome)
{
    QTemporaryDir dir;
    EXPECT_EQ(ActivityLog::chooseLogsDir({dir.path(), "/state", "/home/ann", true}), QDir(dir.path()).filePath("logs"));
    QFile file(QDir(dir.path()).filePath("not-a-folder"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    // Installed under /usr the program never writes beside itself, even when it could (as root).
    for (const QString& folder : {file.fileName(), QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin")}) {
        SCOPED_TRACE(folder.toStdString());
        EXPECT_EQ(ActivityLog::chooseLogsDir({folder, "/home/ann/.state", "/home/ann", true}), "/home/ann/.state/ferrowind/logs");
        EXPECT_EQ(ActivityLog::chooseLogsDir({folder, "", "/root", true}), "/var/log/ferrowind");
        EXPECT_EQ(ActivityLog::chooseLogsDir({folder, "relative/is/ignored", "/root", true}), "/var/log/ferrowind");
        EXPECT_EQ(ActivityLog::chooseLogsDir({folder, "", "/home/ann", false}), "/home/ann/.local/state/ferrowind/logs");
    }
}
