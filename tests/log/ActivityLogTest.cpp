#include "log/ActivityLogFixture.h"

#include <QFileInfo>

using namespace fw;
using fw::test::ActivityLogTest;

TEST_F(ActivityLogTest, NewLogHasTheNameAndEightHeaderLines)
{
    open();
    EXPECT_EQ(QFileInfo(path).fileName(), QStringLiteral("FerrowindSettingsTool_Log_261205_18_44_43.TXT"));
    EXPECT_EQ(read(path), headerText);
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

// Only this program's own logs are cleaned up, suffixed ones included: the folder may hold other files.
TEST_F(ActivityLogTest, OnlyItsOwnLogsOlderThanThirtyCalendarDaysAreDeleted)
{
    const QDate today = clock.now().date();
    touch("FerrowindSettingsTool_Log_261105_10_00_00.TXT", QDateTime(today.addDays(-30), QTime(0, 0, 1)));
    touch("FerrowindSettingsTool_Log_261104_10_00_00.TXT", QDateTime(today.addDays(-31), QTime(23, 59, 59)));
    touch("FerrowindSettingsTool_Log_261020_10_00_00_2.TXT", QDateTime(today.addDays(-45), QTime(12, 0)));
    QFile::setPermissions(QDir(logsDir()).filePath("FerrowindSettingsTool_Log_261020_10_00_00_2.TXT"), QFileDevice::ReadOwner);
    touch("FerrowindSettingsTool_Log_261205_01_00_00.TXT", QDateTime(today, QTime(1, 0)));
    const QStringList foreign{".hidden-config", "FerrowindSettingsTool_Log_2610.TXT",
                              "FerrowindSettingsTool_Log_261001_10_00_00.TXT.bak", "ferrowind_Log_261001_10_00_00.TXT",
                              "velmora-audit-2026.csv"};
    for (const QString& name : foreign)
        touch(name, QDateTime(today.addDays(-200), QTime(12, 0)));
    QDir(logsDir()).mkdir("sub");

    log.GenerateNewLogFileName();
    QStringList left = QDir(logsDir()).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot);
    QStringList expected = foreign + QStringList{"FerrowindSettingsTool_Log_261105_10_00_00.TXT",
                                                 "FerrowindSettingsTool_Log_261205_01_00_00.TXT",
                                                 "FerrowindSettingsTool_Log_261205_18_44_43.TXT", "sub"};
    left.sort();
    expected.sort();
    EXPECT_EQ(left, expected);
}

// Another run's file of the same second is neither replaced nor shared; a reload within the second gets a new file too.
TEST_F(ActivityLogTest, EachLogHasAFileOfItsOwnWithinTheSameSecond)
{
    touch("FerrowindSettingsTool_Log_261205_18_44_43.TXT", clock.now());
    open();
    log.WriteLog("before reload", false);
    ActivityLog other{clock, "FerrowindSettingsTool", logsDir(), [] { return qint16(0); }};
    const QString otherPath = other.GenerateNewLogFileName();
    other.OpenLogFile(otherPath, header);
    other.WriteLog("other run", false);
    const QString again = log.GenerateNewLogFileName();
    log.OpenLogFile(again, header);
    log.WriteLog("after reload", false);

    const QString base = QDir(logsDir()).filePath("FerrowindSettingsTool_Log_261205_18_44_43");
    EXPECT_EQ(QStringList({path, otherPath, again}), QStringList({base + "_2.TXT", base + "_3.TXT", base + "_4.TXT"}));
    EXPECT_EQ(read(base + ".TXT"), "x");
    EXPECT_EQ(read(path), headerText + "before reload\r\n");
    EXPECT_EQ(read(otherPath), headerText + "other run\r\n");
    EXPECT_EQ(read(again), headerText + "after reload\r\n");
    EXPECT_TRUE(log.failure().isEmpty() && other.failure().isEmpty());
}
