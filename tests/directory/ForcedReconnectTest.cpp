#include "support/TestContext.h"

#include "directory/ConnectorControl.h"
#include "directory/ForcedReconnect.h"
#include "directory/WaitUi.h"
#include "env/VelmoraVersion.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace fw;
using namespace fw::test;

namespace {

const QString kCorpId = QStringLiteral("{6B1F0C2A-4D1E-4A8B-9C3D-1E2F3A4B5C6D}");

class CountingWait final : public WaitUi {
public:
    void setBusy(bool on) override { busy = on; }
    void countdown(int s) override { counts.append(s); }
    void runBlocking(const std::function<void()>& work) override
    {
        inBlocking = true;
        work();
        inBlocking = false;
    }
    bool busy = false;
    bool inBlocking = false;
    QList<int> counts;
};

class ForcedReconnectFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(t.createDemoDatabase(5, 5).isEmpty());
        t.ctx().localVersion = getVersion(t.registry());
        connector = std::make_shared<RecordingConnectorControl>();
        t.ctx().seams().connector = connector;
        // Each step goes into one list so that the order of calls, pauses and reloads shows.
        connector->onCall = [this] {
            events.append(QStringLiteral("%1(%2)").arg(connector->calls.last().method, connector->calls.last().argument));
            if (!wait.inBlocking)
                ++callsOnTheWindowThread;
        };
    }
    ForcedReconnect make()
    {
        return ForcedReconnect(t.ctx(), wait,
                               [this] { events.append(QStringLiteral("reload after %1 ms").arg(t.sleeper().totalMs)); });
    }

    TestContext t;
    CountingWait wait;
    std::shared_ptr<RecordingConnectorControl> connector;
    QStringList events;
    int callsOnTheWindowThread = 0; // calls made outside the wait that keeps the window painting
};

} // namespace

TEST_F(ForcedReconnectFixture, DomainReconnectWritesTheRowAndSignalsAroundThePause)
{
    ASSERT_EQ(t.sql("SELECT ReconnectOnNextSynch FROM ADDomain WHERE AdDomainObjectID = ?", {kCorpId}).toInt(), 0);
    auto fr = make();
    EXPECT_EQ(fr.cmdDCForceReconnect_Click(1, QStringLiteral("dc01.corp.example.com"), kCorpId),
              ForcedReconnect::Outcome::Initiated);
    EXPECT_EQ(t.sql("SELECT ReconnectOnNextSynch FROM ADDomain WHERE AdDomainObjectID = ?", {kCorpId}).toInt(), 1);
    EXPECT_EQ(t.sql("SELECT SUM(ReconnectOnNextSynch) FROM ADDomain").toInt(), 1);
    EXPECT_EQ(events, (QStringList{"RequestReconnect(dc01.corp.example.com)", "reload after 12000 ms",
                                   "RequestReconnectV8(dc01.corp.example.com)", "reload after 12000 ms"}));
    EXPECT_EQ(connector->calls[0].kind, ConnectorKind::Domain);
    EXPECT_EQ(t.prompter().messages, QStringList{"Reconnect process initiated for domain: dc01.corp.example.com"});
    EXPECT_EQ(wait.counts, (QList<int>{12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
    EXPECT_FALSE(wait.busy);
    EXPECT_EQ(callsOnTheWindowThread, 0);
}

TEST_F(ForcedReconnectFixture, BeforeVersion8TheFirstCallIsRepeated)
{
    t.setVersion(0x00070000, 0x00000100);
    t.ctx().localVersion = getVersion(t.registry());
    auto fr = make();
    fr.cmdDCForceReconnect_Click(2, QStringLiteral("dc01.sales.corp.example.com"),
                                 QStringLiteral("{A9E8D7C6-B5A4-4392-8170-F6E5D4C3B2A1}"));
    EXPECT_EQ(events[0], "RequestReconnect(dc01.sales.corp.example.com)");
    EXPECT_EQ(events[2], "RequestReconnect(dc01.sales.corp.example.com)");
    events.clear();
    fr.cmdGCReconnect_Click();
    EXPECT_EQ(events, (QStringList{"RequestReconnect()", "reload after 22000 ms", "RequestReconnect()"}));
    EXPECT_EQ(callsOnTheWindowThread, 0);
}

TEST_F(ForcedReconnectFixture, NoSelectionOrUnknownDomainChangesNothing)
{
    auto fr = make();
    EXPECT_EQ(fr.cmdDCForceReconnect_Click(0, QStringLiteral("dc01.corp.example.com"), kCorpId),
              ForcedReconnect::Outcome::NothingSelected);
    EXPECT_EQ(t.prompter().messages, QStringList{"select a domain first"});
    EXPECT_EQ(fr.cmdDCForceReconnect_Click(1, QStringLiteral("dc01.corp.example.com"), QStringLiteral("{no-such-id}")),
              ForcedReconnect::Outcome::NotFound);
    EXPECT_EQ(t.prompter().messages.last(), "Could not find domain in the AdDomain table in SQL");
    // An id with a quote reaches the database as a value, not as SQL.
    EXPECT_EQ(fr.cmdDCForceReconnect_Click(1, QStringLiteral("x"), QStringLiteral("' OR '1'='1")),
              ForcedReconnect::Outcome::NotFound);
    EXPECT_EQ(t.sql("SELECT SUM(ReconnectOnNextSynch) FROM ADDomain").toInt(), 0);
    EXPECT_TRUE(connector->calls.isEmpty());
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(ForcedReconnectFixture, FailuresAreReportedNeverAsInitiated)
{
    // The connector refuses the second call.
    connector->failAt = 2;
    auto fr = make();
    EXPECT_EQ(fr.cmdDCForceReconnect_Click(1, QStringLiteral("dc01.corp.example.com"), kCorpId),
              ForcedReconnect::Outcome::Failed);
    EXPECT_EQ(t.prompter().messages,
              QStringList{"(error):440 (Automation error) in procedure cmdDCForceReconnect_Click of Form frmMain"});
    EXPECT_EQ(events.size(), 4); // both reloads still happen

    // No connector command at all: the row is written, the failure shown, no pause.
    t.prompter().messages.clear();
    events.clear();
    t.ctx().seams().connector.reset();
    EXPECT_EQ(fr.cmdGCReconnect_Click(), ForcedReconnect::Outcome::Failed);
    EXPECT_TRUE(t.prompter().messages.last().startsWith("(error):429 ("));
    EXPECT_TRUE(t.prompter().messages.last().endsWith(") in procedure cmdGCReconnect_Click of Form frmMain"));
    EXPECT_TRUE(events.isEmpty());

    // The database cannot be opened.
    t.prompter().messages.clear();
    t.ctx().seams().connector = connector;
    connector->calls.clear();
    t.ctx().connectionString = QStringLiteral("sqlite:") + t.dir() + QStringLiteral("/missing.sqlite");
    EXPECT_EQ(fr.cmdDCForceReconnect_Click(1, QStringLiteral("dc01.corp.example.com"), kCorpId),
              ForcedReconnect::Outcome::Failed);
    ASSERT_EQ(t.prompter().messages.size(), 1);
    EXPECT_TRUE(t.prompter().messages[0].startsWith("(error):"));
    EXPECT_TRUE(connector->calls.isEmpty());
    EXPECT_FALSE(wait.busy);
}

TEST_F(ForcedReconnectFixture, GlobalCatalogReconnectWritesTheNode)
{
    const QString node = QStringLiteral("System.DirectoryConnectors.ActiveDirectory.DSGC.ReconnectOnNextSynch");
    auto fr = make();
    EXPECT_EQ(fr.cmdGCReconnect_Click(), ForcedReconnect::Outcome::Initiated);
    EXPECT_EQ(t.sql("SELECT NodeValue FROM Configuration WHERE FullNodeName = ?", {node}).toString(), "1");
    EXPECT_EQ(events, (QStringList{"RequestReconnect()", "reload after 10000 ms", "RequestReconnectV8()"}));
    EXPECT_EQ(connector->calls[0].kind, ConnectorKind::GlobalCatalog);
    EXPECT_EQ(t.prompter().messages, QStringList{"Reconnect process initiated"});

    // The node missing.
    t.sql("DELETE FROM Configuration WHERE FullNodeName = ?", {node});
    t.prompter().messages.clear();
    connector->calls.clear();
    EXPECT_EQ(fr.cmdGCReconnect_Click(), ForcedReconnect::Outcome::NotFound);
    EXPECT_EQ(
        t.prompter().messages,
        QStringList{"Could not find node name='System.DirectoryConnectors.ActiveDirectory.DSGC.ReconnectOnNextSynch' in the "
                    "Configuration table in SQL"});
    EXPECT_TRUE(connector->calls.isEmpty());
}

TEST(ConnectorCommandLine, QuotedWordsStayWholeAndACommandOfNoWordsIsNotConfigured)
{
    EXPECT_EQ(
        connectorCommandLine(QStringLiteral("\"/opt/velmora tools/ctl\" --quiet"), ConnectorKind::GlobalCatalog,
                             QStringLiteral("RequestReconnect"), QString()),
        (QStringList{"/opt/velmora tools/ctl", "--quiet", "KSDSGlobalCatalog.KsDSGlobalCatalog.1", "RequestReconnect", ""}));
    for (const char* configured : {"", "   ", "\"\"", "\"\" \"\""})
        EXPECT_TRUE(connectorCommandLine(QString::fromLatin1(configured), ConnectorKind::Domain,
                                         QStringLiteral("RequestReconnect"), QStringLiteral("dc1"))
                        .isEmpty())
            << configured;
}
