#include "app/StartupGate.h"
#include "app/ui/MainWindow.h"
#include "app/ui/WarningWindow.h"
#include "log/ActivityLog.h"
#include "support/TestContext.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>
#include <optional>

using namespace fw;

namespace {

const QString kSysParams = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\SystemParameters\\1.0");
const QString kNodeMgr = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\KsCsNodeMgr\\1.0\\Local Services\\KsCsMgr");
const QString kTool = QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool");
const QString kInactive =
    "The local Velmora is currently an inactvie server in a failover pair - this tool can only be run on an active server.";

class StartupWindows : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(t.createDemoDatabase(20, 20).isEmpty()); }

    // Presses Continue as the administrator would.
    void pressContinue()
    {
        ASSERT_TRUE(warning.Form_Load());
        warning.show();
        QTest::mouseClick(warning.findChild<QPushButton*>("cmdContinue"), Qt::LeftButton);
    }

    QStringList logFiles() const { return QDir(t.logsDir()).entryList(QDir::Files, QDir::Name); }

    test::TestContext t;
    WarningWindow warning{t.ctx()};
    QList<int>& endCodes = t.eventLoop().exitCodes;
};

} // namespace

TEST_F(StartupWindows, ExitEndsTheProgram)
{
    EXPECT_TRUE(
        warning.findChild<QLabel*>("lblWarning")->text().startsWith("Warning!  The Ferrowind Manager is an advanced tool"));
    QTest::mouseClick(warning.findChild<QPushButton*>("cmdExit"), Qt::LeftButton);
    EXPECT_EQ(endCodes, QList<int>{0});
}

TEST_F(StartupWindows, AnOldVersionIsRefusedAtLoad)
{
    t.setVersion(0x00040000, 0x00030063); // 4.0(3.99)
    EXPECT_FALSE(warning.Form_Load());
    EXPECT_EQ(t.prompter().messages, QStringList{"This tool only works with Velmora 4.0(4) versions and later.  Exiting..."});
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

TEST_F(StartupWindows, ConnectorCheckEndsTheProgram)
{
    t.registry().setString(kSysParams, "IDCProgID", "");
    pressContinue();
    EXPECT_EQ(t.prompter().messages, QStringList{"This utility only works with Velmora configured with Exchange 2000 or 2003.  "
                                                 "It does not work with Exchange 5.5 or Domino systems.  Exiting."});
    EXPECT_EQ(endCodes, QList<int>{1});
    EXPECT_FALSE(warning.mainWindow()->isVisible());
    EXPECT_TRUE(logFiles().isEmpty()) << "refused before the log starts";
}

namespace {

// Notes, at the request to end, the messages shown, the debugger lines, every log file and the database
// file, so a test can tell whether anything ran, showed or wrote after it.
class EndWatch {
public:
    explicit EndWatch(test::TestContext& t) : m_t(t)
    {
        t.eventLoop().onExit = [this] {
            if (!m_atEnd)
                m_atEnd = take();
        };
    }
    ~EndWatch() { m_t.eventLoop().onExit = nullptr; }
    bool ended() const { return m_atEnd.has_value(); }
    // What happened after the end; empty when nothing did.
    QStringList sinceEnd() const
    {
        QStringList changes = m_t.prompter().messages.mid(m_atEnd->messages) + m_t.debug().lines.mid(m_atEnd->debugLines);
        if (take().files != m_atEnd->files)
            changes << QStringLiteral("a log file or the database was written");
        return changes;
    }

private:
    struct State {
        qsizetype messages = 0;
        qsizetype debugLines = 0;
        QMap<QString, QByteArray> files; // by path: the log files, the database and its write-ahead log
    };
    State take() const
    {
        State s{m_t.prompter().messages.size(), m_t.debug().lines.size(), {}};
        const QDir logs(m_t.logsDir());
        const QString database = m_t.ctx().connectionString.mid(QStringLiteral("sqlite:").size());
        for (const QString& path : QStringList{database, database + "-wal"} + logs.entryList(QDir::Files)) {
            QFile f(logs.filePath(path));
            s.files.insert(path, f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
        }
        return s;
    }

    test::TestContext& m_t;
    std::optional<State> m_atEnd;
};

} // namespace

// The case of an empty configuration: the Global Catalog panel's fill ends the program, and the load stops
// there: the domain panel's fill does not show its own message and end a second time, no window opens,
// and the menus do nothing any more.
TEST_F(StartupWindows, AnEndDuringTheLoadIsTheLastThingThatHappens)
{
    t.sql("DELETE FROM Configuration");
    EndWatch watch(t);
    pressContinue();
    ASSERT_TRUE(watch.ended());
    EXPECT_EQ(t.prompter().messages,
              QStringList{"Configuration database not found on local system - please contact QRC for assistance"});
    EXPECT_EQ(endCodes, QList<int>{1});
    EXPECT_TRUE(watch.sinceEnd().isEmpty()) << watch.sinceEnd().join('\n').toStdString();
    MainWindow* main = warning.mainWindow();
    EXPECT_FALSE(main->isVisible());
    EXPECT_EQ(main->findChild<QTableView*>("gridDomains")->model()->rowCount(), 0) << "the domain list was filled";

    main->findChild<QAction*>("mnuRefresh")->trigger();
    main->findChild<QAction*>("mnuExit")->trigger();
    QTest::mouseClick(warning.findChild<QPushButton*>("cmdContinue"), Qt::LeftButton);
    EXPECT_EQ(main->Form_Load(), MainWindow::LoadOutcome::EndProgram);
    EXPECT_EQ(endCodes, QList<int>{1}) << "a later exit turned the failure into success";
    EXPECT_TRUE(watch.sinceEnd().isEmpty()) << watch.sinceEnd().join('\n').toStdString();
}

// A save whose reload is refused: the row is written before the end, and after it nothing claims the save,
// neither in a box nor in the log, and the panel is not filled again.
TEST_F(StartupWindows, AnEndDuringASavesReloadClaimsNoSave)
{
    pressContinue();
    MainWindow* main = warning.mainWindow();
    auto* failed = main->findChild<QLineEdit*>("txtDCFailedConnections");
    failed->setFocus();
    failed->selectAll();
    QTest::keyClicks(failed, "4");
    t.registry().setDword(kNodeMgr, "Active Status", 0);
    EndWatch watch(t);
    QTest::mouseClick(main->findChild<QPushButton*>("cmdDCSave"), Qt::LeftButton);

    ASSERT_TRUE(watch.ended());
    EXPECT_EQ(t.prompter().messages, QStringList{kInactive});
    EXPECT_EQ(endCodes, QList<int>{1});
    // Nothing follows, not even the save's closing trace line.
    EXPECT_TRUE(watch.sinceEnd().isEmpty()) << watch.sinceEnd().join('\n').toStdString();
    EXPECT_EQ(t.sql("SELECT COUNT(*) FROM ADDomain WHERE ReconnectFailureThreshold = 4").toInt(), 1);
    EXPECT_TRUE(t.logBytes().contains("Save pressed for Domain="));
    EXPECT_FALSE(t.logBytes().contains("Settings saved for domain"));
}

TEST_F(StartupWindows, TraceOverflowIsReportedAndLoadGoesOn)
{
    t.registry().setDword(kTool, "Trace", 40000);
    pressContinue();
    EXPECT_EQ(t.prompter().messages, QStringList{"(error):6 (Overflow) in procedure Form_Load of Form frmMain"});
    EXPECT_TRUE(t.debug().lines.contains("(error):6 (Overflow) in procedure Form_Load of Form frmMain"));
    EXPECT_TRUE(warning.mainWindow()->isVisible());
    EXPECT_EQ(logFiles().size(), 1);
}

TEST_F(StartupWindows, UnreadableDatabaseIsNotReportedAsEmpty)
{
    t.registry().setString(kTool, "ConnectionString", "sqlite:" + QDir(t.dir()).filePath("missing.sqlite"));
    pressContinue();
    EXPECT_EQ(t.prompter().messages,
              QStringList{"(error):-2147467259 (The database file " + QDir(t.dir()).filePath("missing.sqlite") +
                          " does not exist) in procedure Form_Load of Form frmMain"});
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
    EXPECT_EQ(logFiles(),
              (QStringList{"FerrowindSettingsTool_Log_261205_18_44_43.TXT", "FerrowindSettingsTool_Log_261205_18_44_48.TXT"}));
    EXPECT_TRUE(t.ctx().log().logPath().endsWith("18_44_48.TXT"));
}

TEST_F(StartupWindows, ViewLogsDirectoryAndExit)
{
    pressContinue();
    MainWindow* main = warning.mainWindow();
    main->findChild<QAction*>("mnuViewLogsDirectory")->trigger();
    EXPECT_EQ(t.shell().requests(), QStringList{"folder " + t.logsDir()});

    t.shell().next = {false, 2, "xdg-open is missing"};
    main->findChild<QAction*>("mnuViewLogsDirectory")->trigger();
    EXPECT_EQ(t.prompter().messages, QStringList{"The logs folder " + t.logsDir() + " could not be opened: xdg-open is missing"});

    QTest::mouseClick(main->findChild<QPushButton*>("cmdExit"), Qt::LeftButton);
    EXPECT_EQ(endCodes, QList<int>{0});
    EXPECT_FALSE(t.ctx().log().isOpen());
}

// Force Reconnect reloads the window after its first request: a reload that is refused ends the program,
// and the connector is not signalled again, nor is the reconnect announced.
TEST_F(StartupWindows, AnEndDuringAReconnectsReloadSignalsNothingMore)
{
    auto connector = std::make_shared<RecordingConnectorControl>();
    t.ctx().seams().connector = connector;
    pressContinue();
    t.registry().setDword(kNodeMgr, "Active Status", 0);
    EndWatch watch(t);
    QTest::mouseClick(warning.mainWindow()->findChild<QPushButton*>("cmdDCForceReconnect"), Qt::LeftButton);

    ASSERT_TRUE(watch.ended());
    EXPECT_EQ(connector->calls.size(), 1);
    EXPECT_EQ(t.prompter().messages, QStringList{kInactive});
    EXPECT_EQ(endCodes, QList<int>{1});
    EXPECT_TRUE(watch.sinceEnd().isEmpty()) << watch.sinceEnd().join('\n').toStdString();
}
