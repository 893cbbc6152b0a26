#include "app/StartupGate.h"
#include "app/ui/MainWindow.h"
#include "app/ui/WarningWindow.h"
#include "log/ActivityLog.h"
#include "support/TestContext.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace fw;

namespace {

const QString kSysParams = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\SystemParameters\\1.0");
const QString kNodeMgr = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\KsCsNodeMgr\\1.0\\Local Services\\KsCsMgr");
const QString kTool = QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool");

class StartupWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(t.createDemoDatabase(20, 20).isEmpty());
    }

    // Presses Continue as the administrator would.
    void pressContinue()
    {
        ASSERT_TRUE(warning.FormLoad());
        warning.show();
        QTest::mouseClick(warning.findChild<QPushButton*>("cmdContinue"), Qt::LeftButton);
    }

    QStringList logFiles() const { return QDir(t.logsDir()).entryList(QDir::Files, QDir::Name); }

    test::TestContext t;
    WarningWindow warning{t.ctx()};
    QList<int>& endCodes = t.eventLoop().exitCodes;
};

} // namespace

TEST_F(StartupWindows, ExitEndsTheProgramAndAnOldVersionIsRefusedAtLoad)
{
    EXPECT_TRUE(warning.findChild<QLabel*>("lblWarning")->text().startsWith("Warning!  The Ferrowind Manager is an advanced tool"));
    QTest::mouseClick(warning.findChild<QPushButton*>("cmdExit"), Qt::LeftButton);
    EXPECT_EQ(endCodes, QList<int>{0});

    t.setVersion(0x00040000, 0x00030063); // 4.0(3.99)
    EXPECT_FALSE(warning.FormLoad());
    EXPECT_EQ(t.prompter().messages, QStringList{"This tool only works with Velmora 4.0(4) versions and later.  Exiting..."});
    t.setVersion(0x00040000, 0x00030064); // 4.0(3.100)
    EXPECT_TRUE(warning.FormLoad());
}

TEST_F(StartupWindows, ContinueShowsTheMainWindowWithThreeTabsAndStartsALog)
{
    pressContinue();
    MainWindow* main = warning.mainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(main->isVisible());
    EXPECT_FALSE(warning.isVisible());
    EXPECT_TRUE(endCodes.isEmpty());
    QTabWidget* tabs = main->findChild<QTabWidget*>("tabMain");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_TRUE(tabs->isTabVisible(2));
    EXPECT_TRUE(tabs->isTabEnabled(2));
    EXPECT_EQ(logFiles(), QStringList{"FerrowindSettingsTool_Log_261205_18_44_43.TXT"});
    EXPECT_TRUE(t.ctx().connectionString.startsWith("sqlite:"));
    EXPECT_TRUE(t.prompter().messages.isEmpty()) << t.prompter().messages.join('\n').toStdString();
}

TEST_F(StartupWindows, StatusTabNeedsVersion8_0_0_85)
{
    t.setVersion(0x00080000, 0x00000054);
    pressContinue();
    QTabWidget* tabs = warning.mainWindow()->findChild<QTabWidget*>("tabMain");
    EXPECT_FALSE(tabs->isTabVisible(2));
    EXPECT_FALSE(tabs->isTabEnabled(2));

    // The installed version is read once per program run: a refresh keeps the tab hidden.
    t.setVersion(0x00080000, 0x00000055);
    warning.mainWindow()->mnuRefresh_Click();
    EXPECT_FALSE(tabs->isTabVisible(2));
}

TEST_F(StartupWindows, ConnectorAndFailoverChecksEndTheProgram)
{
    t.registry().setString(kSysParams, "IDCProgID", "");
    pressContinue();
    EXPECT_EQ(t.prompter().messages, QStringList{"This utility only works with Velmora configured with Exchange 2000 or 2003.  "
                                                 "It does not work with Exchange 5.5 or Domino systems.  Exiting."});
    EXPECT_EQ(endCodes, QList<int>{1});
    EXPECT_FALSE(warning.mainWindow()->isVisible());
    EXPECT_TRUE(logFiles().isEmpty()) << "refused before the log starts";

    t.prompter().messages.clear();
    endCodes.clear();
    t.registry().setString(kSysParams, "IDCProgID", "ksidcadsvr.ksidcad.1");
    t.registry().setDword(kNodeMgr, "Active Status", 0);
    QTest::mouseClick(warning.findChild<QPushButton*>("cmdContinue"), Qt::LeftButton);
    EXPECT_EQ(t.prompter().messages, QStringList{"The local Velmora is currently an inactvie server in a failover pair - this "
                                                 "tool can only be run on an active server."});
    EXPECT_EQ(endCodes, QList<int>{1});
}

TEST_F(StartupWindows, TraceOverflowIsReportedAndLoadGoesOn)
{
    t.registry().setDword(kTool, "Trace", 40000);
    pressContinue();
    EXPECT_EQ(t.prompter().messages, QStringList{"(error):6 (Overflow) in procedure Form_Load of Form frmMain"});
    EXPECT_TRUE(t.debug().lines.contains("(error):6 (Overflow) in procedure Form_Load of Form frmMain"));
    EXPECT_EQ(t.ctx().traceSetting, 0);
    EXPECT_TRUE(warning.mainWindow()->isVisible());
    EXPECT_EQ(logFiles().size(), 1);
}

TEST_F(StartupWindows, UnreadableDatabaseIsNotReportedAsEmpty)
{
    t.registry().setString(kTool, "ConnectionString", "sqlite:" + QDir(t.dir()).filePath("missing.sqlite"));
    pressContinue();
    ASSERT_EQ(t.prompter().messages.size(), 1);
    EXPECT_TRUE(t.prompter().messages[0].startsWith("(error):"));
    EXPECT_TRUE(t.prompter().messages[0].contains("missing.sqlite"));
    EXPECT_TRUE(t.prompter().messages[0].endsWith("in procedure Form_Load of Form frmMain"));
    EXPECT_TRUE(warning.mainWindow()->isVisible());
}

TEST_F(StartupWindows, RefreshStartsANewLogAndKeepsSafetyFactors)
{
    pressContinue();
    MainWindow* main = warning.mainWindow();
    t.ctx().dcSafetyFactor = 6;
    t.clock().advanceSecs(5);
    main->findChild<QAction*>("mnuRefresh")->trigger();
    EXPECT_EQ(t.ctx().dcSafetyFactor, 6);
    EXPECT_EQ(logFiles(), (QStringList{"FerrowindSettingsTool_Log_261205_18_44_43.TXT", "FerrowindSettingsTool_Log_261205_18_44_48.TXT"}));
    EXPECT_TRUE(t.ctx().log().logPath().endsWith("18_44_48.TXT"));
}

TEST_F(StartupWindows, ViewLogsDirectoryAndExit)
{
    pressContinue();
    MainWindow* main = warning.mainWindow();
    main->findChild<QAction*>("mnuViewLogsDirectory")->trigger();
    ASSERT_EQ(t.shell().calls.size(), 1);
    EXPECT_EQ(t.shell().calls[0].kind, QStringLiteral("folder"));
    EXPECT_EQ(t.shell().calls[0].target, t.logsDir());

    t.shell().next = {false, 2, "xdg-open is missing"};
    main->findChild<QAction*>("mnuViewLogsDirectory")->trigger();
    ASSERT_EQ(t.prompter().messages.size(), 1);
    EXPECT_TRUE(t.prompter().messages[0].contains("xdg-open is missing"));

    QTest::mouseClick(main->findChild<QPushButton*>("cmdExit"), Qt::LeftButton);
    EXPECT_EQ(endCodes, QList<int>{0});
    EXPECT_FALSE(t.ctx().log().isOpen());
}
