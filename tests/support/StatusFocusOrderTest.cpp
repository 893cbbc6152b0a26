#include "support/TestContext.h"

#include "app/ui/MainWindow.h"
#include "support/ui/StatusFocusOrder.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace fw;

namespace {


// A window laid out like the main window: the tab control with its three pages and Exit below it.
class FocusWindow : public QWidget {
public:
    FocusWindow()
    {
        setObjectName(QStringLiteral("frmMain"));
        auto* layout = new QVBoxLayout(this);
        tabs = new QTabWidget(this);
        tabs->setObjectName(QStringLiteral("tabMain"));
        auto* dc = new QWidget;
        dc->setObjectName(QStringLiteral("tabDomainControllers"));
        dcField = new QLineEdit(dc);
        dcField->setObjectName(QStringLiteral("txtDCManualPrimary"));
        (new QVBoxLayout(dc))->addWidget(dcField);
        tabs->addTab(dc, QStringLiteral("Domain Controllers"));
        tabs->addTab(new QWidget, QStringLiteral("Global Catalog"));
        auto* status = new QWidget;
        status->setObjectName(QStringLiteral("tabStatus"));
        auto* statusLayout = new QVBoxLayout(status);
        // Created in another order than the page's tab order, so that the order has to be put right.
        for (const char* name : {"cmdGCViewHistory", "CmdGCSynchronizationDetails", "txtObjectsSynced2", "txtElapsedTime2",
                                 "txtGCSynchronizationStatus2", "txtGCSynchronizationStatus", "cmdDCViewHistory",
                                 "cmdDCSynchronizationDetails", "txtObjectsSynced1", "txtElapsedTime1",
                                 "txtDCSynchronizationStatus2", "txtDCSynchronizationStatus"}) {
            QWidget* w;
            if (QByteArray(name).toLower().startsWith("cmd"))
                w = new QPushButton(QString::fromLatin1(name), status);
            else {
                auto* e = new QLineEdit(status);
                e->setReadOnly(true);
                w = e;
            }
            w->setObjectName(QString::fromLatin1(name));
            w->setFocusPolicy(Qt::StrongFocus);
            statusLayout->addWidget(w);
        }
        tabs->addTab(status, QStringLiteral("Status"));
        layout->addWidget(tabs);
        exit = new QPushButton(QStringLiteral("E&xit"), this);
        exit->setObjectName(QStringLiteral("cmdExit"));
        exit->setFocusPolicy(Qt::StrongFocus);
        layout->addWidget(exit);
    }
    QWidget* named(const char* name) const { return findChild<QWidget*>(QString::fromLatin1(name)); }
    QTabWidget* tabs;
    QLineEdit* dcField;
    QPushButton* exit;
};

class StatusFocusOrderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        order = new StatusFocusOrder(t.ctx(), &window);
        window.tabs->setCurrentIndex(2);
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
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
        w->setFocus(Qt::OtherFocusReason);
        QCoreApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), w);
        t.debug().lines.clear();
    }
    QStringList moves() { return t.debug().lines.filter(QStringLiteral("You just")); }
    int tabIndex() const { return window.tabs->property(StatusFocusOrder::kTabIndexProperty).toInt(); }

    fw::test::TestContext t;
    FocusWindow window;
    StatusFocusOrder* order = nullptr;
};

TEST_F(StatusFocusOrderTest, TabRunsFromExitThroughTheStatusFields)
{
    focusOn(window.exit);
    EXPECT_EQ(press(Qt::Key_Tab), window.tabs->tabBar());
    EXPECT_EQ(tabIndex(), 1);
    EXPECT_EQ(press(Qt::Key_Tab), window.named("txtDCSynchronizationStatus"));
    EXPECT_EQ(tabIndex(), 61);
    EXPECT_EQ(press(Qt::Key_Tab), window.named("txtDCSynchronizationStatus2"));
    EXPECT_EQ(press(Qt::Key_Tab), window.named("cmdDCSynchronizationDetails"));
    EXPECT_EQ(tabIndex(), 63);
    // Past the details button the page's ordinary order goes on.
    EXPECT_EQ(press(Qt::Key_Tab), window.named("cmdDCViewHistory"));
    EXPECT_EQ(press(Qt::Key_Tab), window.named("txtGCSynchronizationStatus"));
    EXPECT_EQ(moves(), (QStringList{QStringLiteral("You just tabbed out of cmdExit"), QStringLiteral("You just tabbed out of tabMain"),
                                    QStringLiteral("You just tabbed out of txtDCSynchronizationStatus"),
                                    QStringLiteral("You just tabbed out of txtDCSynchronizationStatus2")}));
    EXPECT_TRUE(t.debug().lines.contains(QStringLiteral("GetTabState() - nIsTab=-128, nMask = -256, Result=-256, Shift=0")));
}

TEST_F(StatusFocusOrderTest, ShiftTabRunsBackToExitAndOnToTheLastButton)
{
    focusOn(window.named("txtDCSynchronizationStatus2"));
    EXPECT_EQ(press(Qt::Key_Backtab, Qt::ShiftModifier), window.named("txtDCSynchronizationStatus"));
    EXPECT_EQ(tabIndex(), 61);
    EXPECT_EQ(press(Qt::Key_Backtab, Qt::ShiftModifier), window.tabs->tabBar());
    EXPECT_EQ(tabIndex(), 1);
    EXPECT_EQ(press(Qt::Key_Backtab, Qt::ShiftModifier), window.exit);
    EXPECT_EQ(tabIndex(), 0);
    EXPECT_EQ(press(Qt::Key_Backtab, Qt::ShiftModifier), window.named("cmdGCViewHistory"));
    EXPECT_EQ(tabIndex(), 68);
    EXPECT_EQ(moves(), (QStringList{QStringLiteral("You just back tabbed out of txtDCSynchronizationStatus2"),
                                    QStringLiteral("You just back tabbed out of txtDCSynchronizationStatus"),
                                    QStringLiteral("You just back tabbed out of tabMain"),
                                    QStringLiteral("You just back tabbed out of cmdExit")}));
    EXPECT_TRUE(t.debug().lines.contains(QStringLiteral("GetTabState() - nIsTab=-128, nMask = -256, Result=-256, Shift=-128")));
}

TEST_F(StatusFocusOrderTest, MouseClickMovesNoFocusByProgram)
{
    focusOn(window.named("txtDCSynchronizationStatus"));
    QWidget* clicked = window.named("txtElapsedTime2");
    QTest::mouseClick(clicked, Qt::LeftButton);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), clicked);
    EXPECT_TRUE(moves().isEmpty());
    // The handler still asked twice for the key state and found no Tab.
    EXPECT_EQ(t.debug().lines, QStringList(2, QStringLiteral("GetTabState() - nIsTab=0, nMask = -256, Result=0, Shift=0")));
}

TEST_F(StatusFocusOrderTest, OtherPagesKeepTheOrdinaryOrder)
{
    window.tabs->setCurrentIndex(0);
    focusOn(window.exit);
    QWidget* before = press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_NE(before, window.named("cmdGCViewHistory"));
    EXPECT_TRUE(moves().isEmpty());
    focusOn(window.exit);
    press(Qt::Key_Tab);
    EXPECT_TRUE(moves().isEmpty());
}

TEST(StatusFocusOrderMainWindow, TheStatusTabOfTheMainWindowFollowsTheOrder)
{
    fw::test::TestContext t;
    t.createDemoDatabase(5, 5);
    MainWindow main(t.ctx());
    auto* tabs = main.findChild<QTabWidget*>(QStringLiteral("tabMain"));
    ASSERT_NE(tabs, nullptr);
    tabs->setCurrentIndex(StatusFocusOrder::kStatusTab);
    main.show();
    QApplication::setActiveWindow(&main);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    auto pressTab = [](Qt::Key key, Qt::KeyboardModifiers mods) {
        QTest::keyClick(QApplication::focusWidget(), key, mods);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        return QApplication::focusWidget();
    };
    QWidget* exit = main.findChild<QWidget*>(QStringLiteral("cmdExit"));
    QWidget* dcStatus = main.findChild<QWidget*>(QStringLiteral("txtDCSynchronizationStatus"));
    QWidget* dcStatus2 = main.findChild<QWidget*>(QStringLiteral("txtDCSynchronizationStatus2"));
    ASSERT_TRUE(exit && dcStatus && dcStatus2);
    exit->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    EXPECT_EQ(pressTab(Qt::Key_Tab, Qt::NoModifier), tabs->tabBar());
    EXPECT_EQ(pressTab(Qt::Key_Tab, Qt::NoModifier), dcStatus);
    EXPECT_EQ(pressTab(Qt::Key_Tab, Qt::NoModifier), dcStatus2);
    EXPECT_EQ(pressTab(Qt::Key_Tab, Qt::NoModifier), main.findChild<QWidget*>(QStringLiteral("cmdDCSynchronizationDetails")));
    exit->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    EXPECT_EQ(pressTab(Qt::Key_Backtab, Qt::ShiftModifier), main.findChild<QWidget*>(QStringLiteral("cmdGCViewHistory")));
    EXPECT_TRUE(t.debug().lines.contains(QStringLiteral("You just tabbed out of txtDCSynchronizationStatus2")));
    EXPECT_TRUE(t.debug().lines.contains(QStringLiteral("You just back tabbed out of cmdExit")));
    tabs->setCurrentIndex(0); // stops the status timer before the window goes
}

} // namespace
