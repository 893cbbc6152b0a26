#include "directory/NetlogonResponder.h"
#include "directory/ServerChecksWindowFixture.h"
#include "ui_DomainControllersPage.h"

#include "directory/LdapDirectory.h"
#include "directory/linux/LinuxDcLocator.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

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
