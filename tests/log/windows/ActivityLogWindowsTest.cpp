#include "log/ActivityLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

// Beside the program wherever it runs from, when that can be written; else the user's local application data.
TEST(ActivityLogDirWindows, BesideTheProgramElseLocalAppData)
{
    QTemporaryDir tmp;
    const QString program = QDir(tmp.path()).filePath(QStringLiteral("Zo\u00eb\\Velmora Daten"));
    ASSERT_TRUE(QDir().mkpath(program));
    const QString appData = QStringLiteral("C:\\Users\\Zo\u00eb\\AppData\\Local");
    EXPECT_EQ(QDir::fromNativeSeparators(ActivityLog::chooseLogsDir({program, {}, {}, false, appData})),
              QDir(program).filePath("logs"));

    // A folder that cannot hold one: a file stands where it would be.
    QFile file(QDir(program).filePath("not-a-folder"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(ActivityLog::chooseLogsDir({file.fileName(), {}, {}, false, appData}),
              QStringLiteral("C:\\Users\\Zo\u00eb\\AppData\\Local\\Ferrowind\\logs"));
    // Without %LOCALAPPDATA%, or with a relative one, there is no place for the logs.
    EXPECT_EQ(ActivityLog::chooseLogsDir({file.fileName(), {}, {}, false, {}}), QString());
    EXPECT_EQ(ActivityLog::chooseLogsDir({file.fileName(), {}, {}, false, QStringLiteral("AppData\\Local")}), QString());
}
