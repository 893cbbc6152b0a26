// The command line against a T-SQL server reached through a proxy that counts what a distant server costs: the
// logins (connections) and the round trips (requests) of each command, the connection serve-metrics keeps between
// scrapes, and what the commands print when the server fails them. Skipped without a T-SQL server.
#include "LagProxy.h"
#include "../settings/StoredSettings.h"
#include "support/CliProcess.h"
#include "support/HttpGets.h"
#include "support/Must.h"
#include "support/TestEngine.h"
#include "support/TestContext.h"
#include "../monitor/ServeMetricsProcess.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

namespace {

class ServerDistance : public ::testing::Test {
protected:
    void SetUp() override
    {
        FW_SKIP_UNLESS_ENGINE(Engine::SqlServer);
        t.setEngine(Engine::SqlServer);
        m_direct = t.createDemoDatabase(50, 50);
        ASSERT_FALSE(m_direct.isEmpty());
        static const QRegularExpression port(QStringLiteral("(?i)(^|;)\\s*Port\\s*=\\s*(\\d+)"));
        const QRegularExpressionMatch m = port.match(m_direct);
        ASSERT_TRUE(m.hasMatch()) << "the test server's connection string names no port";
        proxy = std::make_unique<bench::LagProxy>(static_cast<quint16>(m.captured(2).toUInt()), std::chrono::milliseconds(0));
        QString error;
        const quint16 listening = proxy->start(&error);
        ASSERT_NE(listening, 0) << error.toStdString();
        QString proxied = m_direct;
        proxied.replace(port, QStringLiteral("\\1Port=%1").arg(listening));
        t.ctx().connectionString = proxied;
        m_registry = t.writeRegistryFile();
    }
    CliRun run(const QStringList& args)
    {
        proxy->resetCounts();
        return runCli(QStringLiteral(FERROWIND_CLI), args, m_registry);
    }
    // One scrape: whether the page said the database was read.
    QString scrape(const QString& url)
    {
        const QList<QPair<int, QByteArray>> answers = getAll({url});
        const QString page = answers.isEmpty() ? QString() : QString::fromUtf8(answers.first().second);
        static const QRegularExpression up(QStringLiteral("(?m)^ferrowind_up (\\d)$"));
        const QRegularExpressionMatch m = up.match(page);
        return m.hasMatch() ? m.captured(1) : QStringLiteral("no ferrowind_up in: ") + page.left(200);
    }

    TestContext t;
    QString m_direct;
    QString m_registry;
    std::unique_ptr<bench::LagProxy> proxy;
};

} // namespace

// Each command logs in once and runs all its statements on that connection, sent together where they can be.
TEST_F(ServerDistance, EachCommandLogsInOnceAndKeepsToItsRoundTrips)
{
    const struct {
        QStringList args;
        QList<int> exits;
        int roundTrips; // at most, the login's included; 0: not bounded here
    } commands[] = {
        {{"metrics"}, {0}, 8},
        {{"check-sync"}, {0, 1, 2}, 8},
        {{"status"}, {0, 1}, 0},
        {{"status", "--details", "dc"}, {0}, 0},
        {{"history", "dc"}, {0}, 0},
        {{"settings", "show"}, {0}, 0},
        {{"settings", "set", "--gc", "ReconnectFailureThreshold=4", "--yes"}, {0}, 10},
    };
    for (const auto& c : commands) {
        const CliRun r = run(c.args);
        const std::string name = c.args.join(' ').toStdString();
        EXPECT_TRUE(c.exits.contains(r.code)) << name << " exited " << r.code << ": " << r.err.toStdString();
        const bench::LagProxy::Counts n = proxy->counts();
        EXPECT_EQ(n.connections, 1) << name;
        if (c.roundTrips > 0) {
            EXPECT_LE(n.requests, c.roundTrips) << name;
        }
    }
    EXPECT_EQ(gcNodes(m_direct, "ReconnectFailureThreshold"), "4");
}

// serve-metrics keeps its connection between scrapes. One the server dropped is opened again by the next scrape;
// while the server cannot be reached the page says so, and says it no longer once it can.
TEST_F(ServerDistance, TheScrapesKeepOneConnectionAndTellTheTruthWhenItIsLost)
{
    ServeMetricsProcess server(m_registry);
    ASSERT_FALSE(server.url.isEmpty()) << server.err.toStdString();
    proxy->resetCounts();
    EXPECT_EQ(scrape(server.url), "1");
    EXPECT_EQ(scrape(server.url), "1");
    EXPECT_EQ(proxy->counts().connections, 1);

    proxy->dropConnections();
    EXPECT_EQ(scrape(server.url), "1") << "opened again at once";
    EXPECT_EQ(proxy->counts().connections, 2);

    proxy->setRefusing(true);
    proxy->dropConnections();
    EXPECT_EQ(scrape(server.url), "0");
    proxy->setRefusing(false);
    EXPECT_EQ(scrape(server.url), "1");
}

// A connection the server dropped is opened again for a new operation, but never under a transaction that has sent
// statements: what they did is gone with the old connection, and going on would commit half of it.
TEST_F(ServerDistance, ADroppedConnectionIsNotReopenedUnderATransactionThatWrote)
{
    const QString threshold = QStringLiteral(
        "SELECT ReconnectFailureThreshold FROM ADDomain WHERE DomainName = 'corp.example.com'");
    const QString before = sqlValue(m_direct, threshold).toString();
    const QString raise = QStringLiteral(
        "UPDATE ADDomain SET ReconnectFailureThreshold = ReconnectFailureThreshold + 1 WHERE DomainName = 'corp.example.com'");
    const std::unique_ptr<Database> db = must(openForSetUp(t.ctx().connectionString));
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->begin());
    ASSERT_TRUE(db->run(raise));
    db->startOperation();
    proxy->dropConnections();
    EXPECT_FALSE(db->run(raise)) << "the transaction's first statement was lost with the connection";
    EXPECT_EQ(db->logins(), 1);
    db->rollback();
    EXPECT_EQ(sqlValue(m_direct, threshold).toString(), before);

    db->startOperation();
    proxy->dropConnections();
    EXPECT_TRUE(db->run(threshold)) << "outside a transaction a new operation logs in again";
    EXPECT_EQ(db->logins(), 2);
}

// check-sync prints its one line and nothing else, also when the server refuses what it asks (a table gone) or the
// login: the driver's own warnings stay out of a monitoring plugin's output.
TEST_F(ServerDistance, CheckSyncPrintsOnlyItsLineWhenTheServerFailsIt)
{
    sqlValue(m_direct, renameTableSql(Engine::SqlServer, "SyncHistoryGC", "SyncHistoryGC_gone"));
    CliRun r = run({"check-sync"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.out.startsWith("FERROWIND UNKNOWN - the database could not be read completely (")) << r.out.toStdString();
    EXPECT_EQ(r.out.count('\n'), 1) << r.out.toStdString();
    EXPECT_EQ(r.err, "");

    QString wrong = t.ctx().connectionString;
    wrong.replace(QRegularExpression("(?i)PWD=[^;]*"), "PWD=Wrong-Secret-42");
    t.ctx().connectionString = wrong;
    m_registry = t.writeRegistryFile();
    r = run({"check-sync"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.out.startsWith("FERROWIND UNKNOWN - ")) << r.out.toStdString();
    EXPECT_EQ(r.out.count('\n'), 1) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("Wrong-Secret-42"));
    EXPECT_EQ(r.err, "");
}
