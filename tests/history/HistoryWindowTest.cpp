// The history windows as the administrator uses them: the chart, scrolling, pointing at points, selecting them.
#include "support/TestContext.h"

#include "app/StartupGate.h"
#include "app/ui/MainWindow.h"
#include "db/Database.h"
#include "history/ui/CustomPlot.h"
#include "history/ui/HistoryWindow.h"
#include "log/ActivityLog.h"
#include "support/Must.h"

#include <gtest/gtest.h>

#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSqlQuery>
#include <QTest>
#include <QTabWidget>
#include <QTimer>

using namespace fw;
using namespace fw::test;

namespace {

struct WindowHarness {
    TestContext tc;
    explicit WindowHarness(int runs = 3000)
    {
        tc.createDemoDatabase(runs, runs);
        StartupGate gate(tc.ctx());
        gate.initSafetyFactors();
        gate.startNewLog();
    }
};

// Shown and drawn, so that the points have their places on screen.
void show(HistoryWindow& w)
{
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.chart()->replot();
}

void hover(HistoryWindow& w, const QPoint& at)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(at), w.chart()->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(w.chart(), &move);
}

void wheel(HistoryWindow& w, QPoint angleDelta)
{
    const QPointF at(w.chart()->width() / 2.0, w.chart()->height() / 2.0);
    QWheelEvent e(at, w.chart()->mapToGlobal(at), QPoint(), angleDelta, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.chart(), &e);
}

} // namespace

// The load fills four bands with the points' values and labels, 120 points on screen, and the details table
// with its captions and the group size; the load is logged on entry and exit.
TEST(HistoryWindow, LoadFillsChartAndTable)
{
    WindowHarness h;
    HistoryWindow w(h.tc.ctx(), SyncSide::DC);
    ASSERT_TRUE(w.Form_Load());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("DC History"));
    ASSERT_EQ(w.chart()->graphCount(), 4);
    EXPECT_EQ(w.chart()->graph(0)->name(), QStringLiteral("Total # of objects synchronized"));
    EXPECT_EQ(w.chart()->graph(2)->name(), QStringLiteral("Latency (in minutes)"));
    const HistoryResult& r = w.result();
    ASSERT_EQ(w.pointCount(), 1501);
    for (int i : {0, 700, 1500}) {
        EXPECT_FLOAT_EQ(w.seriesValue(0, i), r.points[i].ObjectsProcessed);
        EXPECT_FLOAT_EQ(w.seriesValue(1, i), r.points[i].ElapsedSeconds);
        EXPECT_FLOAT_EQ(w.seriesValue(2, i), r.points[i].LatencyMinutes);
        EXPECT_FLOAT_EQ(w.seriesValue(3, i), r.points[i].events());
    }
    EXPECT_EQ(w.detailsCell(0, 1), QStringLiteral("group size:2"));
    EXPECT_EQ(w.detailsCell(3, 0), QStringLiteral("Elaped Time"));
    EXPECT_TRUE(w.detailsCell(1, 1).isEmpty());
    EXPECT_EQ(w.firstVisiblePoint(), 1);
    EXPECT_DOUBLE_EQ(w.chart()->graph(0)->keyAxis()->range().size(), 120);
    // The bands share the time axis and take 0.2, 0.2, 0.4 and 0.2 of the height.
    show(w);
    const int h0 = w.chart()->graph(0)->valueAxis()->axisRect()->outerRect().height();
    const int h2 = w.chart()->graph(2)->valueAxis()->axisRect()->outerRect().height();
    EXPECT_NEAR(w.chart()->graph(3)->valueAxis()->axisRect()->outerRect().height(), h0, 3);
    EXPECT_NEAR(static_cast<double>(h2) / h0, 2.0, 0.05);

    const QStringList log = h.tc.logLines();
    const int entering = static_cast<int>(
        log.indexOf(QRegularExpression(QStringLiteral(".*: Entering Form_Load of Form frmDCViewHistory$"))));
    ASSERT_GE(entering, 0);
    EXPECT_TRUE(log[entering + 1].endsWith(QStringLiteral(": Points:1501 GroupSize:2")));
    EXPECT_TRUE(log.last().endsWith(QStringLiteral(": Exiting Form_Load of Form frmDCViewHistory")));
}

// Pointing at a point fills the table; positions left or right of the points on screen change nothing.
TEST(HistoryWindow, MouseOverVisiblePointsFillsTheTable)
{
    WindowHarness h;
    HistoryWindow w(h.tc.ctx(), SyncSide::DC);
    ASSERT_TRUE(w.Form_Load());
    show(w);
    hover(w, w.pointPosition(5, 2));
    EXPECT_EQ(w.detailsCell(1, 0), w.result().points[5].Label);
    EXPECT_EQ(w.detailsCell(1, 1), QStringLiteral("6"));

    // Scroll to point 201: the table follows only the points on screen.
    w.setFirstVisiblePoint(201);
    auto* scroll = w.findChild<QScrollBar*>(QStringLiteral("scrollDCHistory"));
    ASSERT_NE(scroll, nullptr);
    EXPECT_EQ(scroll->value(), 200);
    EXPECT_EQ(scroll->maximum(), 1501 - 120);
    const QString before = w.detailsCell(1, 1);
    w.mouseMovedTo(QPointF(150.5, 0)); // left of the first visible point
    EXPECT_EQ(w.detailsCell(1, 1), before);
    w.mouseMovedTo(QPointF(320.2, 0)); // right of the last visible one (index 319)
    EXPECT_EQ(w.detailsCell(1, 1), before);
    w.mouseMovedTo(QPointF(319.9, 0));
    EXPECT_EQ(w.detailsCell(1, 1), QStringLiteral("320"));
    w.mouseMovedTo(QPointF(200.0, 0));
    EXPECT_EQ(w.detailsCell(1, 1), QStringLiteral("201"));
}

// GC: a selected (or clicked) point shows its number in brackets, a pointed-at one without; a short history is all
// on screen, and right of its last point nothing is read.
TEST(HistoryWindow, GcSelectionShortHistoryAndLayout)
{
    WindowHarness h(80);
    HistoryWindow w(h.tc.ctx(), SyncSide::GC);
    ASSERT_TRUE(w.Form_Load());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("GC History"));
    ASSERT_EQ(w.pointCount(), 80);
    const QCPRange range = w.chart()->graph(0)->keyAxis()->range();
    EXPECT_LE(range.lower, 0.5);
    EXPECT_GE(range.upper, 79.5);
    w.pointSelected(9);
    EXPECT_EQ(w.detailsCell(1, 1), QStringLiteral("(10)"));
    w.mouseMovedTo(QPointF(9.5, 0));
    EXPECT_EQ(w.detailsCell(1, 1), QStringLiteral("10"));
    w.mouseMovedTo(QPointF(100.5, 0)); // inside the 120 but past the last point
    EXPECT_EQ(w.detailsCell(1, 1), QStringLiteral("10"));

    // The GC window lays out chart and button when resized: the button stays at the bottom right.
    show(w);
    w.resize(900, 600);
    QTest::qWait(50);
    auto* exit = w.findChild<QPushButton*>(QStringLiteral("cmdGCHistoryExit"));
    ASSERT_NE(exit, nullptr);
    EXPECT_EQ(exit->text(), QStringLiteral("E&xit"));
    EXPECT_NEAR(exit->geometry().right(), 900 - 26 - 6, 3);
    EXPECT_GT(exit->geometry().top(), w.chart()->geometry().bottom());
    EXPECT_LT(exit->geometry().bottom(), 600);
    EXPECT_NEAR(w.chart()->geometry().width(), 900 - 26 - 8, 2);

    // A click on a point selects it through the chart.
    w.chart()->replot();
    QTest::mouseClick(w.chart(), Qt::LeftButton, Qt::NoModifier, w.pointPosition(30, 2));
    EXPECT_EQ(w.detailsCell(1, 1), QStringLiteral("(31)"));
    EXPECT_EQ(w.detailsCell(1, 0), w.pointLabel(30));
    QTest::mouseClick(exit, Qt::LeftButton);
    EXPECT_FALSE(w.isVisible());
}

// "View History" on the Status page opens the history window of its side modally; closing it returns there.
TEST(HistoryWindow, OpenedFromTheStatusPage)
{
    WindowHarness h(300);
    ASSERT_TRUE(StartupGate(h.tc.ctx()).checkVersion()); // as the warning window does before
    MainWindow main(h.tc.ctx());
    ASSERT_EQ(main.Form_Load(), MainWindow::LoadOutcome::Completed);
    main.show();
    auto* tabs = main.findChild<QTabWidget*>(QStringLiteral("tabMain"));
    ASSERT_NE(tabs, nullptr);
    tabs->setCurrentIndex(2);
    const struct {
        const char *button, *form, *exit;
    } sides[] = {{"cmdDCViewHistory", "frmDCViewHistory", "cmdDCHistoryExit"},
                 {"cmdGCViewHistory", "frmGCViewHistory", "cmdGCHistoryExit"}};
    for (const auto& [button, form, exit] : sides) {
        auto* view = main.findChild<QPushButton*>(QString::fromLatin1(button));
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(view->isEnabled());
        QString opened;
        int points = 0;
        // The window is shown once its points are built (off this thread): wait for it.
        std::function<void()> exitWhenShown = [&] {
            auto* w = qobject_cast<HistoryWindow*>(QApplication::activeModalWidget());
            if (!w || !w->isVisible()) {
                QTimer::singleShot(10, exitWhenShown);
                return;
            }
            opened = w->objectName();
            points = w->pointCount();
            w->findChild<QPushButton*>(QString::fromLatin1(exit))->click();
        };
        QTimer::singleShot(0, exitWhenShown);
        view->click();
        EXPECT_EQ(opened, QString::fromLatin1(form));
        EXPECT_EQ(points, 300);
        EXPECT_TRUE(view->isEnabled());
    }
}

// A touchpad's small deltas scroll the chart as a notch does (10 points), and so does a sideways wheel.
TEST(HistoryWindow, SmallAndSidewaysWheelDeltasScroll)
{
    WindowHarness h;
    HistoryWindow w(h.tc.ctx(), SyncSide::DC);
    ASSERT_TRUE(w.Form_Load());
    show(w);
    for (int i = 0; i < 8; ++i)
        wheel(w, QPoint(0, -15));
    EXPECT_EQ(w.firstVisiblePoint(), 11);
    wheel(w, QPoint(-120, 0));
    EXPECT_EQ(w.firstVisiblePoint(), 21);
}

// A query of the walk failing goes through the window's error path; no chart is opened and nothing is logged
// as built.
TEST(HistoryWindow, FailingWalkQueryOpensNothing)
{
    WindowHarness h(300);
    h.tc.sql(QStringLiteral("ALTER TABLE SyncHistoryObject RENAME TO SyncHistoryObjectGone"));
    HistoryWindow w(h.tc.ctx(), SyncSide::DC);
    EXPECT_FALSE(w.Form_Load());
    EXPECT_EQ(w.pointCount(), 0);
    ASSERT_EQ(h.tc.prompter().messages.size(), 1);
    const QString box = h.tc.prompter().messages.first();
    EXPECT_TRUE(box.contains(QStringLiteral("no such table: SyncHistoryObject"))) << box.toStdString();
    EXPECT_TRUE(box.endsWith(QStringLiteral(") in procedure Form_Load of Form frmDCViewHistory (line#=50)")))
        << box.toStdString();
    const QStringList log = h.tc.logLines();
    EXPECT_FALSE(log.filter(box).isEmpty());
    EXPECT_TRUE(log.filter(QStringLiteral("Points:")).isEmpty());
    EXPECT_TRUE(log.last().endsWith(QStringLiteral(": Exiting Form_Load of Form frmDCViewHistory")));
}

// A short history opens as it always did: the progress dialog is never shown, not even for a moment.
TEST(HistoryWindow, ShortHistoryOpensWithoutAFlashOfProgress)
{
    WindowHarness h(300);
    struct ShowWatch : QObject {
        int progressShown = 0;
        bool eventFilter(QObject* o, QEvent* e) override
        {
            if (e->type() == QEvent::Show && qobject_cast<QProgressDialog*>(o))
                ++progressShown;
            return false;
        }
    } watch;
    qApp->installEventFilter(&watch);
    HistoryWindow w(h.tc.ctx(), SyncSide::GC);
    const bool loaded = w.Form_Load();
    QTest::qWait(50); // a dialog shown late would be seen here
    qApp->removeEventFilter(&watch);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(w.pointCount(), 300);
    EXPECT_EQ(watch.progressShown, 0);
}

// A build that takes long shows its progress; Cancel abandons it: no window, no report, nothing logged as built.
// Here the build waits for a writer holding the database, and the user cancels meanwhile.
TEST(HistoryWindow, CancelDuringABuildOpensNothing)
{
    WindowHarness h(300);
    const std::unique_ptr<Database> writer = test::must(openForSetUp(h.tc.ctx().connectionString));
    ASSERT_TRUE(writer);
    QSqlQuery(writer->handle()).exec(QStringLiteral("BEGIN EXCLUSIVE"));

    HistoryWindow w(h.tc.ctx(), SyncSide::DC);
    w.setProgressDelay(0);
    QString label;
    bool shown = false;
    std::function<void()> cancelWhenShown = [&] {
        auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            QTimer::singleShot(10, cancelWhenShown);
            return;
        }
        shown = dialog->isVisible();
        label = dialog->labelText();
        QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
        QSqlQuery(writer->handle()).exec(QStringLiteral("ROLLBACK"));
    };
    QTimer::singleShot(10, cancelWhenShown);
    EXPECT_FALSE(w.Form_Load());
    EXPECT_TRUE(shown);
    EXPECT_EQ(label, QStringLiteral("Counting the finished runs..."));
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(h.tc.prompter().messages.isEmpty());
    const QStringList log = h.tc.logLines();
    EXPECT_TRUE(log.filter(QStringLiteral("Points:")).isEmpty());
    EXPECT_TRUE(log[log.size() - 2].endsWith(QStringLiteral(": History load cancelled; nothing is shown")));
}
