#include "MonitorTestDb.h"

#include "app/StartupGate.h"
#include "app/ui/MainWindow.h"
#include "monitor/ui/DcSyncOverviewWindow.h"
#include "monitor/ui/StatusPage.h"
#include "monitor/ui/SyncObjectsWindows.h"
#include "ui_DcSyncObjectsWindow.h"
#include "ui_DcSyncOverviewWindow.h"
#include "ui_GcSyncObjectsWindow.h"
#include "ui_StatusPage.h"

#include "platform/LeftThreads.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QHeaderView>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <sqlite3.h>

using namespace fw;
using namespace fw::test;

namespace {

// Runs `inspect` on the next modal window once it is up, then closes it.
void onNextModal(std::function<void(QWidget*)> inspect, QStringList* seen)
{
    auto* poll = new QTimer;
    poll->setInterval(10);
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(poll, &QTimer::timeout, [poll, clock, inspect, seen] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w && clock->elapsed() < 3000)
            return;
        poll->stop();
        poll->deleteLater();
        delete clock;
        if (!w)
            return;
        seen->append(w->objectName());
        inspect(w);
        w->close();
    });
    poll->start();
}

// A message box seam that lets the status timer tick while the box is up, as a real one does.
class TickingPrompter final : public Prompter {
public:
    std::function<void()> duringMessage;
    QStringList messages;

protected:
    void showMessage(const QString& text) override
    {
        messages.append(text);
        if (duringMessage)
            duringMessage();
    }
    Answer askYesNo(const QString&) override { return Answer::Yes; }
};

// The page's refresh reads on another thread: wait until it has shown what it read (a generous budget, for a busy
// machine).
::testing::AssertionResult refreshEnded(const StatusPage& page)
{
    if (QTest::qWaitFor([&] { return !page.refreshing(); }, 60000))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the Status page's refresh did not end within 60 s";
}

// Another writer holding the SQLite database: a reader waits for it (up to its 5 s) until release().
class ExclusiveLock {
public:
    explicit ExclusiveLock(const QString& connectionString)
    {
        const QByteArray path = connectionString.mid(7).toUtf8();
        if (sqlite3_open(path.constData(), &m_db) == SQLITE_OK &&
            sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK)
            m_held = true;
    }
    ~ExclusiveLock()
    {
        release();
        sqlite3_close(m_db);
    }
    bool held() const { return m_held; }
    void release()
    {
        if (m_held)
            sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        m_held = false;
    }

private:
    sqlite3* m_db = nullptr;
    bool m_held = false;
};

// Counts the paint events a widget gets.
class PaintCounter final : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class StatusPageTest : public MonitorTest {
protected:
    QTabWidget tabs;
    QWidget other;
    StatusPage* page = nullptr;

    void SetUp() override
    {
        tabs.addTab(&other, QStringLiteral("Other"));
        page = new StatusPage(t.ctx());
        tabs.addTab(page, QStringLiteral("Status"));
        tabs.setCurrentIndex(0);
    }
    Ui::StatusPage& ui() { return *page->ui(); }
};

// Each field shows its side's value; the timer runs only while the page is shown.
TEST_F(StatusPageTest, TimerRunsOnlyWhileThePageIsShownAndSelectingRefreshes)
{
    EXPECT_EQ(page->tmrStatus()->interval(), 5000);
    tabs.show();
    EXPECT_FALSE(page->tmrStatus()->isActive());
    db.addDcRun(10, true, now().addSecs(-3725));
    db.addObject(10, kCorp, false, QStringLiteral("MailUsers"), false, 12, 5, now());
    db.addGcRun(3, false, now().addSecs(-100), now().addSecs(-40));
    tabs.setCurrentIndex(1);
    EXPECT_TRUE(page->tmrStatus()->isActive());
    ASSERT_TRUE(refreshEnded(*page));
    EXPECT_EQ(ui().txtDCSynchronizationStatus->text(), "In progress");
    EXPECT_EQ(ui().txtDCSynchronizationStatus2->text(), "Started " + MonitorTestDb::ts(now().addSecs(-3725)));
    EXPECT_EQ(ui().txtElapsedTime1->text(), "01:02:05");
    EXPECT_EQ(ui().txtObjectsSynced1->text(), "12");
    EXPECT_EQ(ui().txtGCSynchronizationStatus2->text(), "Last done " + MonitorTestDb::ts(now().addSecs(-40)));
    EXPECT_EQ(ui().txtElapsedTime2->text(), "00:01:00");
    tabs.setCurrentIndex(0);
    EXPECT_FALSE(page->tmrStatus()->isActive());
}

TEST_F(StatusPageTest, NullTotalKeepsThePreviousObjectsTextAndTickLogsTrace)
{
    db.addDcRun(1, false, now().addSecs(-100), now().addSecs(-50));
    db.addObject(1, kCorp, false, QStringLiteral("MailUsers"), false, 7, 5, now());
    page->PopulateDCGCStatus();
    ASSERT_TRUE(refreshEnded(*page));
    EXPECT_EQ(ui().txtObjectsSynced1->text(), "7");
    db.addDcRun(2, true, now().addSecs(-10));
    t.ctx().traceSetting = 1;
    page->tmrStatus_Timer();
    ASSERT_TRUE(refreshEnded(*page));
    EXPECT_EQ(ui().txtObjectsSynced1->text(), "7") << "SUM of a run without object rows is null";
    const QStringList lines = t.logLines();
    EXPECT_TRUE(lines[lines.size() - 3].endsWith(": tmrStatus_Timer call PopulateDCGCStatus"));
}

TEST_F(StatusPageTest, ViewHistoryWithoutFinishedRunsSaysNoDataAndOpensNothing)
{
    db.addGcRun(1, true, now());
    int opened = 0;
    page->setHistoryOpener([&](SyncSide, QWidget*) { ++opened; });
    ui().cmdGCViewHistory->click();
    EXPECT_EQ(t.prompter().messages, QStringList{"No Data in the database!"});
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(ui().cmdGCViewHistory->isEnabled());
}

TEST_F(StatusPageTest, ViewHistoryOpensTheSideWithTheTimerStoppedThenRefreshesAndRestarts)
{
    tabs.show();
    tabs.setCurrentIndex(1);
    db.addDcRun(4, false, now().addSecs(-100), now().addSecs(-50));
    std::optional<SyncSide> side;
    bool timerWhileOpen = true, buttonWhileOpen = true;
    page->setHistoryOpener([&](SyncSide s, QWidget*) {
        side = s;
        timerWhileOpen = page->tmrStatus()->isActive();
        buttonWhileOpen = ui().cmdDCViewHistory->isEnabled();
    });
    ui().cmdDCViewHistory->click();
    ASSERT_TRUE(side);
    EXPECT_EQ(*side, SyncSide::DC);
    EXPECT_FALSE(timerWhileOpen);
    EXPECT_FALSE(buttonWhileOpen);
    EXPECT_TRUE(page->tmrStatus()->isActive());
    // Asked for while the refresh of the page's selection may still read: it runs after that one.
    ASSERT_TRUE(refreshEnded(*page));
    EXPECT_EQ(ui().txtDCSynchronizationStatus2->text(), "Last done " + MonitorTestDb::ts(now().addSecs(-50)));
    EXPECT_TRUE(t.prompter().messages.isEmpty());
}

TEST_F(StatusPageTest, GcDetailsWithEmptyTableLogsMinusOneAndStillOpensTheWindow)
{
    tabs.show();
    tabs.setCurrentIndex(1);
    QStringList seen;
    bool timerWhileOpen = true;
    ASSERT_TRUE(refreshEnded(*page)); // the id logged is that of the refresh the page shows
    onNextModal([&](QWidget*) { timerWhileOpen = page->tmrStatus()->isActive(); }, &seen);
    ui().CmdGCSynchronizationDetails->click();
    EXPECT_EQ(seen, QStringList{"frmGCSynchronization"});
    EXPECT_FALSE(timerWhileOpen);
    EXPECT_TRUE(page->tmrStatus()->isActive());
    EXPECT_EQ(t.logLines().filter(": CmdGCSynchronizationDetails_Click(): SyncId = -1").size(), 1);
    EXPECT_TRUE(refreshEnded(*page));
}

TEST_F(StatusPageTest, TicksDuringARefreshMessageBoxDoNotStackAnotherRefresh)
{
    auto ticking = std::make_unique<TickingPrompter>();
    TickingPrompter* p = ticking.get();
    t.ctx().seams().prompter = std::move(ticking);
    t.ctx().connectionString = QStringLiteral("sqlite:") + t.dir() + QStringLiteral("/gone.sqlite");
    p->duringMessage = [&] { page->tmrStatus_Timer(); };
    page->PopulateDCGCStatus();
    ASSERT_TRUE(refreshEnded(*page));
    EXPECT_EQ(p->messages.size(), 1);
}

// A refresh waiting for a stalled database leaves the window to the user: timers fire, the page repaints and a
// field takes typed text while it waits; the answer is shown once it comes. A refresh asked for meanwhile waits
// for that one instead of running beside it, and the log keeps each refresh's lines together.
TEST_F(StatusPageTest, TheWindowKeepsGoingWhileTheDatabaseStalls)
{
    db.addDcRun(8, true, now().addSecs(-3725));
    db.addObject(8, kCorp, false, QStringLiteral("MailUsers"), false, 12, 5, now());
    t.ctx().traceSetting = 1;
    tabs.show();
    QLineEdit input;
    input.show();
    PaintCounter counter;
    page->installEventFilter(&counter);
    ExclusiveLock lock(t.ctx().connectionString);
    ASSERT_TRUE(lock.held());

    tabs.setCurrentIndex(1); // selecting the page refreshes it
    ASSERT_TRUE(page->refreshing());
    page->PopulateDCGCStatus(); // asked for again meanwhile: runs after the first
    bool fired = false;
    QTimer::singleShot(20, [&] { fired = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return fired; }, 3000)) << "the event loop stood still";
    page->update();
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 3000)) << "no repaint";
    input.activateWindow();
    input.setFocus();
    QTest::keyClicks(&input, QStringLiteral("typed"));
    EXPECT_EQ(input.text(), "typed");
    EXPECT_TRUE(page->refreshing()) << "the database still holds the refresh";
    EXPECT_EQ(ui().txtDCSynchronizationStatus->text(), "Idle") << "nothing shown before the answer";

    lock.release();
    ASSERT_TRUE(refreshEnded(*page));
    EXPECT_EQ(ui().txtDCSynchronizationStatus->text(), "In progress");
    EXPECT_EQ(ui().txtElapsedTime1->text(), "01:02:05");
    EXPECT_EQ(ui().txtObjectsSynced1->text(), "12");
    EXPECT_EQ(t.ctx().lastDCSyncId, 8);
    EXPECT_TRUE(t.prompter().messages.isEmpty());
    QStringList refreshLines;
    for (const QString& line : t.logLines())
        if (line.contains(QStringLiteral("PopulateDCGCStatus of Form frmMain")))
            refreshLines.append(line.section(QStringLiteral(": "), 1));
    EXPECT_EQ(refreshLines,
              (QStringList{"Entering PopulateDCGCStatus of Form frmMain", "Exiting  PopulateDCGCStatus of Form frmMain",
                           "Entering PopulateDCGCStatus of Form frmMain", "Exiting  PopulateDCGCStatus of Form frmMain"}));
}

// A page that goes while its refresh waits for the database: the answer, when it comes, is dropped unheard.
TEST_F(StatusPageTest, APageClosedWhileItsRefreshWaitsDropsTheAnswer)
{
    t.ctx().traceSetting = 1;
    db.addDcRun(8, true, now().addSecs(-60));
    ExclusiveLock lock(t.ctx().connectionString);
    ASSERT_TRUE(lock.held());
    page->PopulateDCGCStatus();
    ASSERT_TRUE(page->refreshing());
    delete page;
    page = nullptr;
    lock.release();
    EXPECT_TRUE(QTest::qWaitFor([] { return !LeftThreads::anyRunning(); }, 60000)) << "the reading thread did not end";
    QTest::qWait(50); // anything it posted would arrive now
    EXPECT_TRUE(t.logLines().filter(QStringLiteral("Exiting  PopulateDCGCStatus")).isEmpty());
    EXPECT_EQ(t.ctx().lastDCSyncId, 0) << "nothing of the answer was taken";
}

// A side whose state could not be read says so, and keeps nothing of an earlier reading beside it.
TEST_F(StatusPageTest, ASideThatCouldNotBeReadShowsItsStateUnknown)
{
    db.addDcRun(3, false, now().addSecs(-100), now().addSecs(-40));
    db.addObject(3, kCorp, false, QStringLiteral("MailUsers"), false, 9, 5, now());
    db.addGcRun(4, false, now().addSecs(-100), now().addSecs(-40));
    page->PopulateDCGCStatus();
    ASSERT_TRUE(refreshEnded(*page));
    ASSERT_EQ(ui().txtDCSynchronizationStatus2->text(), "Last done " + MonitorTestDb::ts(now().addSecs(-40)));

    t.sql(QStringLiteral("ALTER TABLE SyncHistoryGC RENAME TO Hidden"));
    page->PopulateDCGCStatus();
    ASSERT_TRUE(refreshEnded(*page));
    const auto fields = [&](bool dc) {
        return dc ? QStringList{ui().txtDCSynchronizationStatus->text(), ui().txtDCSynchronizationStatus2->text(),
                                ui().txtElapsedTime1->text(), ui().txtObjectsSynced1->text()}
                  : QStringList{ui().txtGCSynchronizationStatus->text(), ui().txtGCSynchronizationStatus2->text(),
                                ui().txtElapsedTime2->text(), ui().txtObjectsSynced2->text()};
    };
    EXPECT_EQ(fields(true), (QStringList{"Idle", "Last done " + MonitorTestDb::ts(now().addSecs(-40)), "00:01:00", "9"}));
    EXPECT_EQ(fields(false), (QStringList{"Unknown", "Could not be read", "", ""}));

    t.ctx().connectionString = QStringLiteral("sqlite:") + t.dir() + QStringLiteral("/gone.sqlite");
    page->PopulateDCGCStatus();
    ASSERT_TRUE(refreshEnded(*page));
    EXPECT_EQ(fields(true), (QStringList{"Unknown", "Could not be read", "", ""}));
    EXPECT_EQ(fields(false), (QStringList{"Unknown", "Could not be read", "", ""}));
    EXPECT_EQ(t.prompter().messages.size(), 2) << "each failed read still has its message";
}

using DetailWindowsTest = MonitorTest;

TEST_F(DetailWindowsTest, OverviewGridColumnsRowsAndTimerStopAfterFinishedRunShown)
{
    addDomains(2);
    db.addDcRun(9, false, now().addSecs(-100), now());
    db.addDcDomainRun(9, kCorp, false);
    db.addObject(9, kCorp, false, QStringLiteral("MailUsers"), false, 6, 70, now());
    t.ctx().lastDCSyncId = 9;
    DcSyncOverviewWindow w(t.ctx());
    EXPECT_EQ(w.windowTitle(), "DC Synchronization Status - main (SyncId 9)");
    EXPECT_EQ(w.grid().textMatrix(0, 1), "Current Domain Controller");
    EXPECT_TRUE(w.grid().isColHidden(w.grid().colIndex("ObjectID")));
    EXPECT_TRUE(w.grid().isColHidden(w.grid().colIndex("SyncId")));
    ASSERT_EQ(w.grid().rows(), 3);
    EXPECT_EQ(w.grid().textByKey(2, "Domain"), kSales);
    EXPECT_EQ(w.grid().textByKey(2, "Status"), "No data");
    EXPECT_EQ(w.grid().textByKey(2, "Duration"), "00:01:10");
    EXPECT_EQ(w.grid().textByKey(2, "Objects Synched"), "6");
    EXPECT_EQ(w.grid().textByKey(2, "ObjectID"), "{2}");
    EXPECT_EQ(w.grid().row(), 1);
    EXPECT_TRUE(w.tmrRefresh()->isActive());
    w.grid().setRowSilently(2);
    w.tmrRefresh_Timer();
    EXPECT_FALSE(w.tmrRefresh()->isActive());
    EXPECT_EQ(w.grid().row(), 2) << "the stopped window no longer rebuilds the grid";
}

TEST_F(DetailWindowsTest, ViewObjectsOpensTheObjectsWindowOfTheSelectedDomain)
{
    addDomains(2);
    db.addDcRun(3, true, now().addSecs(-60));
    db.addDcDomainRun(3, kSales, true, 1000);
    t.ctx().lastDCSyncId = 3;
    DcSyncOverviewWindow w(t.ctx());
    w.grid().setRowSilently(2);
    QStringList seen;
    QString title, lag, latency, caption3;
    onNextModal(
        [&](QWidget* m) {
            auto* o = qobject_cast<DcSyncObjectsWindow*>(m);
            ASSERT_TRUE(o);
            title = o->windowTitle();
            lag = o->ui()->txtUsnLag->text();
            latency = o->ui()->txtLatency->text();
            caption3 = o->grid().textMatrix(3, 0);
        },
        &seen);
    w.ui()->cmdDCSynchronizationMainViewObjects->click();
    EXPECT_EQ(seen, QStringList{"frmDCSynchronization"});
    EXPECT_EQ(title, "DC Synchronization Status - sales.example.com (SyncId 3)");
    EXPECT_EQ(lag, "1000");
    EXPECT_EQ(latency, "00:30:00");
    EXPECT_EQ(caption3, "Scope Dist Lists    Modifies");
}

TEST_F(DetailWindowsTest, GcObjectsWindowShowsRowsAndStopsAfterTheFinishedRun)
{
    db.addGcRun(5, false, now().addSecs(-100), now(), 500, 15, 1000);
    db.addObject(5, QStringLiteral("GC"), false, QStringLiteral("Servers"), true, 3, 7, now());
    t.ctx().lastGCSyncId = 5;
    GcSyncObjectsWindow w(t.ctx());
    EXPECT_EQ(w.windowTitle(), "GC Synchronization Status (SyncId 5)");
    EXPECT_EQ(w.ui()->txtIsActive->text(), "No");
    EXPECT_EQ(w.ui()->txtLatency->text(), "00:30:00");
    EXPECT_EQ(w.grid().rows(), 11);
    EXPECT_EQ(w.grid().textByKey(4, "ObjectsSynchronized"), "3");
    EXPECT_EQ(w.grid().textByKey(4, "ElapsedTime"), "00:00:07");
    EXPECT_TRUE(w.grid().isColHidden(w.grid().colIndex("ObjectsRemaining")));
    EXPECT_EQ(w.grid().row(), 1);
    EXPECT_TRUE(w.tmrRefresh()->isActive());
    w.tmrRefresh_Timer();
    EXPECT_FALSE(w.tmrRefresh()->isActive());
}

// In the main window the page runs on the window's own tmrStatus, which the tab switch starts and stops.
TEST(StatusPageInMainWindow, TabSwitchRefreshesTicksTraceAndDetailsStopTheTimer)
{
    TestContext t;
    ASSERT_FALSE(t.createDemoDatabase(20, 20).isEmpty());
    ASSERT_TRUE(StartupGate(t.ctx()).checkVersion()); // as the warning window does before
    MainWindow main(t.ctx());
    ASSERT_EQ(main.Form_Load(), MainWindow::LoadOutcome::Completed);
    main.show();
    Ui::StatusPage& ui = *main.statusPage()->ui();
    QTabWidget* tabs = main.findChild<QTabWidget*>(QStringLiteral("tabMain"));
    EXPECT_FALSE(main.tmrStatus()->isActive());
    EXPECT_EQ(ui.txtDCSynchronizationStatus2->text(), "") << "nothing read before the page is selected";

    tabs->setCurrentIndex(2);
    EXPECT_TRUE(main.tmrStatus()->isActive());
    ASSERT_TRUE(refreshEnded(*main.statusPage()));
    EXPECT_EQ(ui.txtDCSynchronizationStatus->text(), "In progress");

    t.ctx().traceSetting = 1;
    main.tmrStatus()->setInterval(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !t.logLines().filter("tmrStatus_Timer call PopulateDCGCStatus").isEmpty(); }, 3000));
    main.tmrStatus()->setInterval(StatusPage::kRefreshMs);

    QStringList seen;
    bool timerWhileOpen = true;
    onNextModal([&](QWidget*) { timerWhileOpen = main.tmrStatus()->isActive(); }, &seen);
    ui.cmdDCSynchronizationDetails->click();
    EXPECT_EQ(seen, QStringList{"frmDCSynchronizationMain"});
    EXPECT_FALSE(timerWhileOpen);
    EXPECT_TRUE(main.tmrStatus()->isActive());

    tabs->setCurrentIndex(0);
    EXPECT_FALSE(main.tmrStatus()->isActive());
    EXPECT_TRUE(refreshEnded(*main.statusPage()));
    main.close();
}
