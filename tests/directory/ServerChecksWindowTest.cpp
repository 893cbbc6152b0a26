#include "FakeDirectory.h"
#include "FakeLocator.h"
#include "NetlogonResponder.h"
#include "ServerTexts.h"
#include "support/ui/MainWindowFixture.h"
#include "ui_DomainControllersPage.h"
#include "ui_GlobalCatalogPage.h"
#include "ui_MainWindow.h"

#include "directory/ConnectorControl.h"
#include "directory/LdapDirectory.h"
#include "directory/linux/LinuxDcLocator.h"
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

namespace {

class ServerChecksWindow : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        t.ctx().localVersion = getVersion(t.registry());
        t.ctx().seams().directory = dir;
        t.ctx().seams().locator = loc;
        t.ctx().seams().connector = connector;
        dir->localSite = QStringLiteral("Default-First-Site-Name");
        for (const char* s : {"dc01.corp.example.com", "dc01.sales.corp.example.com"}) {
            dir->bindable[QStringLiteral("LDAP://%1:389").arg(QLatin1String(s))] = true;
            dir->sites[QString::fromLatin1(s)] = QStringLiteral("default-first-site-name");
        }
        load();
    }
    void selectRow(int row)
    {
        clickCell(row);
        ASSERT_EQ(grid().row(), row);
    }
    void typeAndLeave(QLineEdit* e, const QString& text, QWidget* next)
    {
        type(e, text, Qt::MouseFocusReason);
        next->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
    }
    QStringList& shown() { return t.prompter().messages; }

    std::shared_ptr<FakeDirectory> dir = std::make_shared<FakeDirectory>();
    std::shared_ptr<FakeLocator> loc = std::make_shared<FakeLocator>();
    std::shared_ptr<RecordingConnectorControl> connector = std::make_shared<RecordingConnectorControl>();
};

} // namespace

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

// The Test button with the real directory code against a server that accepts on its LDAP port and never
// answers (TCP and UDP): not found within the verdict's deadline, and no writability message.
TEST_F(ServerChecksWindow, TestButtonGivesUpOnASilentServerAtTheDeadline)
{
    NetlogonResponder::Config c;
    c.udp = NetlogonResponder::Mode::Silent;
    c.tcp = NetlogonResponder::Mode::Silent;
    NetlogonResponder peer(c);
    ASSERT_TRUE(peer.ok()) << peer.error().toStdString();
    LocatorOptions lo;
    lo.ldapPort = peer.port();
    auto locator = std::make_shared<LinuxDcLocator>(lo, [] { return QString(); });
    DirectoryOptions o;
    o.useKerberos = false;
    o.ldapPort = peer.port();
    t.ctx().seams().locator = locator;
    t.ctx().seams().directory = std::make_shared<LdapDirectory>(o, locator, [] { return QString(); });

    selectRow(3); // sales.corp.example.com
    dc().txtDCManualPrimary->setText(QStringLiteral("127.0.0.41"));
    shown().clear();
    QElapsedTimer timer;
    timer.start();
    click(dc().cmdTestDCManualPrimary);
    EXPECT_LT(timer.elapsed(), 10000); // only a hang guard: bench/directory_deadline_bench times the verdicts
    EXPECT_EQ(shown(), QStringList{"Server not found or not functioning as a domain controller."});
    EXPECT_EQ(dc().txtDCManualPrimary->text(), "");
    EXPECT_GT(peer.tcpRequests(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
