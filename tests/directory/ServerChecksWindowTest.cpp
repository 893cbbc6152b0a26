#include "ServerChecksWindowFixture.h"
#include "ServerTexts.h"
#include "support/ui/MainWindowFixture.h"
#include "ui_DomainControllersPage.h"
#include "ui_GlobalCatalogPage.h"
#include "ui_MainWindow.h"

#include "directory/ConnectorControl.h"
#include "directory/LdapDirectory.h"
#include "directory/NetTools.h"
#include "directory/ui/WidgetWaitUi.h"
#include "env/VelmoraVersion.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QMenu>
#include <QThread>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

// The buttons and fields reach the server tests and the forced reconnect with the selected row's values; what
// those find and say is tested below the window.
TEST_F(ServerChecksWindow, TestButtonsUseTheSelectedRowAndTheFieldsAndShowTheWaitCursor)
{
    QList<bool> cursorDuringBind;
    dir->onBind = [&] {
        cursorDuringBind.append(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    };
    selectRow(3); // sales.corp.example.com
    click(dc().cmdDCTestConnection);
    EXPECT_EQ(dir->bound.last(), "LDAP://dc01.sales.corp.example.com:389");
    EXPECT_EQ(shown().last(), server_texts::kDcFound);
    EXPECT_EQ(cursorDuringBind, QList<bool>{true});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The secondary (dc02.sales...) does not answer: the field is cleared.
    ASSERT_EQ(dc().txtDCManualSecondary->text(), "dc02.sales.corp.example.com");
    click(dc().cmdTestDCManualSecondary);
    EXPECT_EQ(dir->bound.last(), "LDAP://dc02.sales.corp.example.com:389");
    EXPECT_EQ(dc().txtDCManualSecondary->text(), "");

    showTab(1);
    click(gc().cmdGCTestConnection);
    EXPECT_EQ(dir->bound.last(), "GC://gc01.corp.example.com:3268");
}

TEST_F(ServerChecksWindow, LeavingAManualFieldValidatesItAgainstTheSelectedDomain)
{
    selectRow(3); // sales.corp.example.com
    main->domainControllersPage()->setSaveEnabled(false);
    typeAndLeave(dc().txtDCManualPrimary, QStringLiteral("dc9.other.example.org"), dc().txtDCManualSecondary);
    EXPECT_EQ(shown(),
              QStringList{"The server needs to be in the currently selected domain.  dc9.other.example.org is not part of "
                          "the sales.corp.example.com domain."});
    EXPECT_EQ(dc().txtDCManualPrimary->text(), "");

    typeAndLeave(dc().txtDCManualPrimary, QStringLiteral("  dc9.SALES.corp.example.com "), dc().txtDCManualSecondary);
    EXPECT_EQ(shown().size(), 1);
    EXPECT_EQ(dc().txtDCManualPrimary->text(), "dc9.SALES.corp.example.com");
    EXPECT_TRUE(dc().cmdDCSave->isEnabled());
}

// A context menu or another window takes the focus only for a while: the half-typed name stays and is
// checked once the user moves on to another control of the window.
TEST_F(ServerChecksWindow, FocusTakenByAMenuOrAnotherWindowKeepsTheHalfTypedName)
{
    QLineEdit* field = dc().txtDCManualPrimary;
    QList<Qt::FocusReason> lost;
    struct Recorder : QObject {
        QList<Qt::FocusReason>* lost;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::FocusOut)
                lost->append(static_cast<QFocusEvent*>(e)->reason());
            return false;
        }
    } recorder;
    recorder.lost = &lost;
    field->installEventFilter(&recorder);
    selectRow(3); // sales.corp.example.com
    type(field, QStringLiteral("dc9"), Qt::MouseFocusReason);

    QMenu menu;
    menu.addAction(QStringLiteral("Copy"));
    menu.popup(field->mapToGlobal(field->rect().center()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    menu.close();
    QApplication::processEvents();

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_EQ(lost, (QList<Qt::FocusReason>{Qt::PopupFocusReason, Qt::ActiveWindowFocusReason}));
    EXPECT_EQ(field->text(), "dc9");
    EXPECT_EQ(shown(), QStringList());

    other.close();
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
    ASSERT_TRUE(field->hasFocus());
    dc().txtDCManualSecondary->setFocus(Qt::BacktabFocusReason);
    EXPECT_EQ(shown(), QStringList{"You need to enter a fully qualified server name in the form of 'server.domain.com'"});
    EXPECT_EQ(field->text(), "");
}

TEST_F(ServerChecksWindow, ForceReconnectButtons)
{
    selectRow(1);
    click(dc().cmdDCForceReconnect);
    ASSERT_EQ(connector->calls.size(), 2);
    EXPECT_EQ(connector->calls[1].argument, "dc01.corp.example.com");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    showTab(1);
    click(gc().cmdGCReconnect);
    ASSERT_EQ(connector->calls.size(), 4);
    EXPECT_EQ(connector->calls[2].kind, ConnectorKind::GlobalCatalog);
}

// Blocking work runs on a worker thread; the name lookups there keep their deadline.
TEST(WidgetWaitUiTest, NetworkLookupsWorkOnTheWorkerThread)
{
    QWidget window;
    WidgetWaitUi wait(&window);
    Result<QList<QHostAddress>> addrs = QList<QHostAddress>();
    bool otherThread = false;
    QElapsedTimer t;
    t.start();
    wait.setBusy(true);
    wait.runBlocking([&] {
        otherThread = QThread::currentThread() != qApp->thread();
        addrs = net::resolveHost(QStringLiteral("localhost"), Deadline(2000));
        (void)net::lookupSrv(QStringLiteral("_ldap._tcp.dc._msdcs.invalid"), Deadline(1000));
    });
    wait.setBusy(false);
    EXPECT_TRUE(otherThread);
    ASSERT_TRUE(addrs) << addrs.error().description.toStdString();
    ASSERT_FALSE(addrs->isEmpty());
    EXPECT_TRUE(addrs->first().isLoopback());
    EXPECT_LT(t.elapsed(), 4000);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
