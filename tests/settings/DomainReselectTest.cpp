// A domain save reloads the window: the saved domain stays selected, found by its key, even when the list comes back
// in another order. On the T-SQL server the window keeps its one connection: the save and its reload log in no more
// (counted at a proxy in front of the server).
#include "LagProxy.h"
#include "StoredSettings.h"
#include "app/ui/MainWindow.h"
#include "platform/ui/FlexGrid.h"
#include "settings/ui/DomainControllersPage.h"
#include "support/TestContext.h"
#include "ui_DomainControllersPage.h"

#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

namespace {

class DomainReselect : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        FW_SKIP_UNLESS_ENGINE(GetParam());
        t.setEngine(GetParam());
        m_direct = t.createDemoDatabase(5, 5);
        ASSERT_FALSE(m_direct.isEmpty());
        if (GetParam() != Engine::SqlServer)
            return;
        // The window reaches the server through the proxy, which counts its logins.
        static const QRegularExpression port(QStringLiteral("(?i)(^|;)\\s*Port\\s*=\\s*(\\d+)"));
        const QRegularExpressionMatch m = port.match(m_direct);
        ASSERT_TRUE(m.hasMatch()) << "the test server's connection string names no port";
        m_proxy = std::make_unique<bench::LagProxy>(static_cast<quint16>(m.captured(2).toUInt()), std::chrono::milliseconds(0));
        QString error;
        const quint16 listening = m_proxy->start(&error);
        ASSERT_NE(listening, 0) << error.toStdString();
        QString proxied = m_direct;
        proxied.replace(port, QStringLiteral("\\1Port=%1").arg(listening));
        t.registry().setString(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool"),
                               QStringLiteral("ConnectionString"), proxied);
        t.ctx().connectionString = proxied;
    }
    void TearDown() override { main.reset(); }

    Ui::DomainControllersPage& dc() { return *main->domainControllersPage()->ui(); }
    FlexGrid& grid() { return *dc().gridDomains; }
    int rowOf(const QString& objectId)
    {
        for (int r = 1; r < grid().rows(); ++r)
            if (grid().textByKey(r, QStringLiteral("ObjectID")) == objectId)
                return r;
        return -1;
    }

    TestContext t;
    QString m_direct;
    std::unique_ptr<bench::LagProxy> m_proxy;
    std::unique_ptr<MainWindow> main;
};

} // namespace

TEST_P(DomainReselect, TheSavedDomainStaysSelectedWhereverTheReloadPutsIt)
{
    main = std::make_unique<MainWindow>(t.ctx());
    main->resize(900, 700);
    ASSERT_EQ(main->Form_Load(), MainWindow::LoadOutcome::Completed);
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    grid().setRow(rowOf(kSales));
    ASSERT_EQ(dc().txtDCFailedConnections->text(), "5");

    // Meanwhile another hand adds a domain whose name comes first: after the reload every row moves down one.
    sqlValue(m_direct, "INSERT INTO ADDomain (AdDomainObjectID, DomainName, CurrentDC, ReconnectEnabled, ReconnectAutoFind, "
                       "ReconnectSearchAllSites, ReconnectLastResortAutoFind, ReconnectFailureThreshold, "
                       "DoTotalResynchUsesRelative, DoTotalResynchAtTime, DoTotalResynchAfterMinutes, ReconnectOnNextSynch) "
                       "VALUES ('{00000000-0000-4000-8000-000000000001}', 'aaa.example.com', 'dc01.aaa', 1, 1, 0, 0, 9, 1, 0, "
                       "0, 0)");
    const int loginsBefore = m_proxy ? m_proxy->counts().connections : 0;
    dc().txtDCFailedConnections->setFocus();
    dc().txtDCFailedConnections->selectAll();
    QTest::keyClicks(dc().txtDCFailedConnections, QStringLiteral("7"));
    ASSERT_TRUE(dc().cmdDCSave->isEnabled());
    QTest::mouseClick(dc().cmdDCSave, Qt::LeftButton);

    ASSERT_FALSE(t.prompter().messages.isEmpty());
    EXPECT_EQ(t.prompter().messages.last(), "Settings saved for domain");
    EXPECT_EQ(domainColumns(m_direct, "ReconnectFailureThreshold", kSales), "7");
    EXPECT_EQ(grid().rows(), 5);
    EXPECT_EQ(grid().row(), rowOf(kSales));
    EXPECT_EQ(grid().textByKey(grid().row(), QStringLiteral("Domain")), "sales.corp.example.com");
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "7");
    EXPECT_FALSE(dc().cmdDCSave->isEnabled());
    if (m_proxy) {
        EXPECT_EQ(m_proxy->counts().connections, loginsBefore) << "the save and its reload use the window's connection";
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, DomainReselect, kEngines, engineName);
