// Tab and Shift+Tab on the Status page of the main window; the moves themselves are decided (and tested) in
// statusFocusMove.
#include "support/TestContext.h"

#include "app/ui/MainWindow.h"
#include "support/ui/StatusFocusOrder.h"

#include <QApplication>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace fw;

namespace {

class StatusFocusOrderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(t.createDemoDatabase(5, 5).isEmpty());
        tabs = main.findChild<QTabWidget*>(QStringLiteral("tabMain"));
        ASSERT_NE(tabs, nullptr);
        tabs->setCurrentIndex(StatusFocusOrder::kStatusTab);
        main.show();
        QApplication::setActiveWindow(&main);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    }
    void TearDown() override { tabs->setCurrentIndex(0); } // stops the status timer before the window goes

    QWidget* named(const char* name) { return main.findChild<QWidget*>(QString::fromLatin1(name)); }
    // Focus holder after pressing a key on the focused control and letting the queued move run.
    QWidget* press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), key, mods);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        return QApplication::focusWidget();
    }
    void focusOn(QWidget* w)
    {
        ASSERT_NE(w, nullptr);
        w->setFocus(Qt::OtherFocusReason);
        QCoreApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), w);
        t.debug().lines.clear();
    }
    QStringList moves() { return t.debug().lines.filter(QStringLiteral("You just")); }
    int tabIndex() const { return tabs->property(StatusFocusOrder::kTabIndexProperty).toInt(); }

    fw::test::TestContext t;
    MainWindow main{t.ctx()};
    QTabWidget* tabs = nullptr;
};

} // namespace

TEST_F(StatusFocusOrderTest, TabRunsFromExitThroughTheStatusFields)
{
    focusOn(named("cmdExit"));
    EXPECT_EQ(press(Qt::Key_Tab), tabs->tabBar());
    EXPECT_EQ(press(Qt::Key_Tab), named("txtDCSynchronizationStatus"));
    EXPECT_EQ(press(Qt::Key_Tab), named("txtDCSynchronizationStatus2"));
    EXPECT_EQ(press(Qt::Key_Tab), named("cmdDCSynchronizationDetails"));
    EXPECT_EQ(tabIndex(), 63) << "the tab bar's position follows the move";
    // Past the details button the page's own order goes on.
    EXPECT_EQ(press(Qt::Key_Tab), named("cmdDCViewHistory"));
    EXPECT_EQ(press(Qt::Key_Tab), named("txtGCSynchronizationStatus"));
    // The moves' own lines are tested with statusFocusMove; here, that each move writes one.
    EXPECT_EQ(moves().size(), 4);
}

TEST_F(StatusFocusOrderTest, ShiftTabRunsBackToExitAndOnToTheLastButton)
{
    focusOn(named("txtDCSynchronizationStatus2"));
    EXPECT_EQ(press(Qt::Key_Backtab, Qt::ShiftModifier), named("txtDCSynchronizationStatus"));
    EXPECT_EQ(press(Qt::Key_Backtab, Qt::ShiftModifier), tabs->tabBar());
    EXPECT_EQ(press(Qt::Key_Backtab, Qt::ShiftModifier), named("cmdExit"));
    EXPECT_EQ(press(Qt::Key_Backtab, Qt::ShiftModifier), named("cmdGCViewHistory"));
    EXPECT_EQ(moves().size(), 4);
}

TEST_F(StatusFocusOrderTest, FocusGivenByTheMouseMovesNothing)
{
    focusOn(named("txtDCSynchronizationStatus"));
    QWidget* clicked = named("txtElapsedTime2");
    clicked->setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), clicked);
    // The handler asked twice for the key state and found no Tab.
    EXPECT_EQ(t.debug().lines, QStringList(2, "GetTabState() - nIsTab=0, nMask = -256, Result=0, Shift=0"));
}

TEST_F(StatusFocusOrderTest, OtherPagesKeepTheOrdinaryOrder)
{
    tabs->setCurrentIndex(0);
    focusOn(named("cmdExit"));
    EXPECT_NE(press(Qt::Key_Backtab, Qt::ShiftModifier), named("cmdGCViewHistory"));
    focusOn(named("cmdExit"));
    press(Qt::Key_Tab);
    EXPECT_TRUE(moves().isEmpty());
}
