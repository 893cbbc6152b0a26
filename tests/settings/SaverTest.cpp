#include "app/StartupGate.h"
#include "log/ActivityLog.h"
#include "settings/PanelRules.h"
#include "settings/SettingsFill.h"
#include "settings/SettingsSaver.h"
#include "settings/SettingsStore.h"
#include "StoredSettings.h"
#include "support/Must.h"

#include <gtest/gtest.h>

using namespace fw;
using namespace fw::PanelRules;
using fw::test::kCorp;
using fw::test::kDsgc;
using Answer = fw::Prompter::Answer;

namespace {

const QString kDcDisableReconnect =
    "WARNING, you have selected to disable the automatic reconnect functionality for this domain.  It is strongly "
    "recommended that you do not do this in most situations.  If the domain controller currently selected becomes "
    "unavailable, Velmora will not function properly until connectivity is restored.  Are you SURE you want to do this?";
const QString kDcDisableAutoFind =
    "WARNING, you have selected to disable the automatic server search functionality for this domain.  It is strongly "
    "recommended that you do not do this in most situations.  If the manually entered domain controller server(s) "
    "you've entered become unavailable, Velmora will not function properly until connectivity is restored.  Are you "
    "SURE you want to do this?";

class SaverTest : public ::testing::TestWithParam<test::Engine> {
protected:
    void SetUp() override
    {
        FW_SKIP_UNLESS_ENGINE(GetParam());
        m_t.setEngine(GetParam());
        ASSERT_FALSE(m_t.createDemoDatabase(5, 5).isEmpty());
        StartupGate(m_t.ctx()).startNewLog();
    }
    QString columns(const QString& names, const QString& id = kCorp)
    {
        return test::domainColumns(m_t.ctx().connectionString, names, id);
    }
    QString nodes(const QString& names) { return test::gcNodes(m_t.ctx().connectionString, names); }
    PanelState domainPanel(const QString& id = kCorp)
    {
        const QList<DomainSettings> rows = test::must(SettingsStore(m_t.ctx().connectionString).readDomain(id));
        PanelState s(PanelSide::DomainController);
        m_row = rows.value(0);
        fillDomainPanel(s, m_row, {});
        return s;
    }
    PanelState gcPanel()
    {
        PanelState s(PanelSide::GlobalCatalog);
        m_config = test::must(SettingsStore(m_t.ctx().connectionString).readConfiguration());
        fillGcPanel(s, m_config, {});
        return s;
    }
    // Saves against what the last domainPanel() or gcPanel() read.
    SaveOutcome saveDomain(const PanelState& s, const DomainRef& d, const std::function<void()>& after = {})
    {
        return DcSettingsSaver(m_t.ctx()).save(s, d, m_row, after);
    }
    SaveOutcome saveGc(const PanelState& s, const std::function<void()>& after = {})
    {
        return GcSettingsSaver(m_t.ctx()).save(s, m_config, after);
    }
    // The log lines after the header.
    QStringList body() { return m_t.logLines().mid(8); }

    test::TestContext m_t;
    DomainSettings m_row;
    ConfigurationSnapshot m_config;
};

} // namespace

TEST_P(SaverTest, DomainSaveInMinutesModeWritesAndLogsInOrder)
{
    PanelState s = domainPanel();
    setText(s, Text::FailedConnections, "20");
    setText(s, Text::Minutes, " 12 ");
    setSearchAllSites(s, true);
    setLastResort(s, true);
    int afterWrite = 0;
    EXPECT_EQ(saveDomain(s, {"corp.example.com", kCorp}, [&] { ++afterWrite; }), SaveOutcome::Saved);
    EXPECT_EQ(afterWrite, 1);
    EXPECT_EQ(m_t.prompter().messages, QStringList{"Settings saved for domain"}) << "no question either";
    const QStringList lines = body();
    EXPECT_EQ(lines.mid(1), (QStringList{"Save pressed for Domain=corp.example.com", "    DoTotalResyncUsesRelative = 1",
                                         "    ReconnectEnabled = 1", "    ReconnectAutoFind = 1",
                                         "    ReconnectLastResortAutoFind=1", "Settings saved for domain"}));
    EXPECT_TRUE(lines.value(0).endsWith(": "));
    EXPECT_EQ(columns("ReconnectFailureThreshold DoTotalResynchAfterMinutes ReconnectSearchAllSites "
                      "ReconnectLastResortAutoFind DoTotalResynchUsesRelative"),
              "20 12 1 1 1");
    EXPECT_EQ(m_t.debug().lines.first(), "Entering cmdDCSave_Click of Form frmMain");
    EXPECT_EQ(m_t.debug().lines.last(), "Exiting cmdDCSave_Click of Form frmMain");
}

TEST_P(SaverTest, DomainSaveWithReconnectClearedWritesOnlyWhatItMust)
{
    PanelState s = domainPanel();
    selectMode(s, true);
    setTime(s, QTime(7, 5));
    setAutoFind(s, false);
    setText(s, Text::ManualPrimary, "dcx.corp.example.com");
    setReconnect(s, false);
    m_t.prompter().answers = {Answer::Yes, Answer::Yes};
    EXPECT_EQ(saveDomain(s, {"corp.example.com", kCorp}), SaveOutcome::Saved);
    EXPECT_EQ(m_t.prompter().questions, (QStringList{kDcDisableReconnect, kDcDisableAutoFind}));
    EXPECT_EQ(body().mid(1), (QStringList{"Save pressed for Domain=corp.example.com", "    DoTotalResyncUsesRelative = 0",
                                          "    DoToalResyncAtTime=705", "    ReconnectEnabled = 0",
                                          "    Other settings for domain skipped since reconnect functionality disabled.",
                                          "Settings saved for domain"}));
    // Auto find and the manual server are not written.
    EXPECT_EQ(columns("ReconnectEnabled DoTotalResynchAtTime DoTotalResynchUsesRelative ReconnectAutoFind ManualDCPrimary "
                      "DoTotalResynchAfterMinutes"),
              "0 705 0 1 NULL 0");
}

TEST_P(SaverTest, DomainSaveManualServersKeepAStoredSecondaryWhenTheBoxIsEmpty)
{
    const QString sales = "{A9E8D7C6-B5A4-4392-8170-F6E5D4C3B2A1}";
    PanelState s = domainPanel(sales);
    setText(s, Text::ManualPrimary, "dc09.sales.corp.example.com");
    setText(s, Text::ManualSecondary, "");
    m_t.prompter().answers = {Answer::Yes};
    EXPECT_EQ(saveDomain(s, {"sales.corp.example.com", sales}), SaveOutcome::Saved);
    EXPECT_EQ(columns("ManualDCPrimary ManualDCSecondary", sales), "dc09.sales.corp.example.com dc02.sales.corp.example.com");
    EXPECT_TRUE(body().contains("    ManualDCPrimary=dc09.sales.corp.example.com"));
    EXPECT_TRUE(body().contains("    ReconnectAutoFind = 0"));
}

TEST_P(SaverTest, RefusalsAndNoAnswersWriteAndLogNothing)
{
    // No to the reconnect warning.
    PanelState s = domainPanel();
    setReconnect(s, false);
    m_t.prompter().answers = {Answer::No};
    EXPECT_EQ(saveDomain(s, {"corp.example.com", kCorp}), SaveOutcome::Declined);
    // Yes to it, but no manual primary with the search cleared.
    setAutoFind(s, false);
    m_t.prompter().answers = {Answer::Yes};
    EXPECT_EQ(saveDomain(s, {"corp.example.com", kCorp}), SaveOutcome::Refused);
    EXPECT_EQ(m_t.prompter().messages.last(), "You cannot disable the automatic server search functionality without "
                                              "providing an alternative primary domain controller");
    // Numbers that are not whole numbers are refused, naming the field.
    s = domainPanel();
    setText(s, Text::Minutes, "12abc");
    EXPECT_EQ(saveDomain(s, {"corp.example.com", kCorp}), SaveOutcome::Refused);
    EXPECT_TRUE(m_t.prompter().messages.last().contains("Delay full synchronization upon reconnect for this many minutes"));
    setText(s, Text::Minutes, "3");
    setText(s, Text::FailedConnections, "");
    EXPECT_EQ(saveDomain(s, {"corp.example.com", kCorp}), SaveOutcome::Refused);
    EXPECT_TRUE(m_t.prompter().messages.last().contains("Connection attempts before failure"));
    // The GC side the same way.
    PanelState g = gcPanel();
    setText(g, Text::FailedConnections, "-2");
    EXPECT_EQ(saveGc(g), SaveOutcome::Refused);
    g = gcPanel();
    setAutoFind(g, false);
    EXPECT_EQ(saveGc(g), SaveOutcome::Refused);
    EXPECT_EQ(m_t.prompter().messages.last(), "You cannot disable the automatic server search functionality without "
                                              "providing an alternative global catalog server");

    EXPECT_TRUE(body().isEmpty());
    EXPECT_EQ(columns("ReconnectEnabled ReconnectFailureThreshold"), "1 15");
    EXPECT_EQ(nodes("ReconnectFailureThreshold"), "3");
}

TEST_P(SaverTest, DomainRowGoneOrDatabaseFailingIsNeverReportedAsSaved)
{
    PanelState s = domainPanel();
    setText(s, Text::FailedConnections, "30");
    bool after = false;
    EXPECT_EQ(saveDomain(s, {"gone.example.com", "{gone}"}, [&] { after = true; }), SaveOutcome::NotFound);
    EXPECT_FALSE(after);
    EXPECT_EQ(m_t.prompter().messages.last(), "Error!  Could not find selected domain in ADDomain table in the database.");
    EXPECT_EQ(body().mid(1), QStringList{"Save pressed for Domain=gone.example.com"});

    // A write the database refuses.
    m_t.sql(test::refuseUpdatesSql(GetParam(), "ADDomain", "disk quota exceeded"));
    m_t.prompter().messages.clear();
    EXPECT_EQ(saveDomain(s, {"corp.example.com", kCorp}, [&] { after = true; }), SaveOutcome::Failed);
    EXPECT_FALSE(after);
    ASSERT_EQ(m_t.prompter().messages.size(), 1);
    EXPECT_TRUE(m_t.prompter().messages[0].startsWith("(error):"));
    EXPECT_TRUE(m_t.prompter().messages[0].contains("disk quota exceeded"));
    EXPECT_TRUE(m_t.prompter().messages[0].endsWith("in procedure cmdDCSave_Click of Form frmMain"));
    EXPECT_FALSE(body().contains("Settings saved for domain"));
    EXPECT_EQ(columns("ReconnectFailureThreshold"), "15");
}

TEST_P(SaverTest, GlobalCatalogSaveWritesNodesInOrderAndLogsThem)
{
    PanelState g = gcPanel();
    ASSERT_TRUE(g.atTime);
    setTime(g, QTime(23, 5));
    setText(g, Text::FailedConnections, "2");
    setAutoFind(g, false);
    setText(g, Text::ManualPrimary, "gcm.example.com");
    m_t.prompter().answers = {Answer::Yes};
    int after = 0;
    EXPECT_EQ(saveGc(g, [&] { ++after; }), SaveOutcome::Saved);
    EXPECT_EQ(after, 1);
    const QString p = "    " + kDsgc;
    EXPECT_EQ(body().mid(1),
              (QStringList{"Save pressed for Global catalog server", p + "ReconnectFailureThreshold=2",
                           p + "DoTotalResynchUsesRelative= 0", p + "DoTotalResynchAtTime=2305",
                           p + "ReconnectLastResortAutoFind= 1", p + "ReconnectEnabled= 1", p + "ReconnectAutoFind= 0",
                           p + "ManualGCPrimary=gcm.example.com", "Settings saved for global catalog server"}));
    EXPECT_EQ(nodes("DoTotalResynchAtTime ReconnectAutoFind ManualGCPrimary ManualGCSecondary DoTotalResynchAfterMinutes"),
              "2305 0 gcm.example.com NULL 20");
    EXPECT_EQ(m_t.prompter().messages.last(), "Settings saved for global catalog server");
}

TEST_P(SaverTest, GlobalCatalogSaveWithReconnectClearedStillWritesLastResort)
{
    PanelState g = gcPanel();
    selectMode(g, false);
    setText(g, Text::Minutes, "45");
    setLastResort(g, false);
    setReconnect(g, false);
    m_t.prompter().answers = {Answer::Yes};
    EXPECT_EQ(saveGc(g), SaveOutcome::Saved);
    EXPECT_EQ(body().value(body().size() - 2), "    Other settings for GC skipped since reconnect functionality disabled.");
    EXPECT_EQ(nodes("ReconnectEnabled ReconnectLastResortAutoFind DoTotalResynchAfterMinutes DoTotalResynchUsesRelative "
                    "DoTotalResynchAtTime ReconnectAutoFind"),
              "0 0 45 1 130 1");
}

TEST_P(SaverTest, GlobalCatalogSaveWithAMissingNodeChangesNothingAndSaysSo)
{
    m_t.sql("DELETE FROM Configuration WHERE FullNodeName = ?", {kDsgc + "ReconnectEnabled"});
    PanelState g = gcPanel(); // the fill stops at the missing node; the earlier values are in
    setReconnect(g, true);
    setAutoFind(g, true);
    setText(g, Text::FailedConnections, "8");
    bool after = false;
    EXPECT_EQ(saveGc(g, [&] { after = true; }), SaveOutcome::Failed);
    EXPECT_FALSE(after);
    EXPECT_EQ(nodes("ReconnectFailureThreshold"), "3");
    const QString failure = "(error):-2147467259 (The configuration node " + kDsgc +
                            "ReconnectEnabled does not exist) in procedure cmdGCSave_Click of Form frmMain";
    EXPECT_EQ(body().mid(1), (QStringList{"Save pressed for Global catalog server", failure}));
    EXPECT_TRUE(m_t.debug().lines.contains(failure));
    EXPECT_EQ(m_t.prompter().messages, QStringList{failure}) << "the box shows what the log says, and no success";
}

// Two administrators read the same settings; the second to save is refused and told what the first changed.
TEST_P(SaverTest, ASaveOnSettingsChangedSinceTheyWereReadWritesNothingAndNamesThem)
{
    const QString ref = "corp.example.com";
    // A flag stored as 5 reads as on; a save that does not change it leaves it as it is (a bit column keeps 1).
    m_t.sql("UPDATE ADDomain SET ReconnectSearchAllSites = 5 WHERE AdDomainObjectID = ?", {kCorp});
    const QString flag = GetParam() == test::Engine::Sqlite ? "5" : "1";
    PanelState a = domainPanel();
    const DomainSettings readA = m_row;
    PanelState b = domainPanel();
    setText(b, Text::FailedConnections, "20");
    setText(a, Text::Minutes, "77");
    EXPECT_EQ(saveDomain(b, {ref, kCorp}), SaveOutcome::Saved);
    m_t.prompter().messages.clear();
    DcSettingsSaver saverA(m_t.ctx());
    bool after = false;
    EXPECT_EQ(saverA.save(a, {ref, kCorp}, readA, [&] { after = true; }), SaveOutcome::Conflict);
    EXPECT_FALSE(after);
    EXPECT_EQ(saverA.changedUnderneath(), QStringList{"ReconnectFailureThreshold"});
    const QString conflict = "Nothing was saved: someone else changed these settings of domain corp.example.com after they "
                             "were read: ReconnectFailureThreshold. Look at the stored values and make your change again.";
    EXPECT_EQ(m_t.prompter().messages, QStringList{conflict});
    EXPECT_EQ(body().mid(body().size() - 2), (QStringList{"Save pressed for Domain=corp.example.com", conflict}));
    EXPECT_EQ(columns("ReconnectFailureThreshold DoTotalResynchAfterMinutes ReconnectSearchAllSites"), "20 0 " + flag);

    // Read again, the same change is saved, and only what differs is written.
    a = domainPanel();
    setText(a, Text::Minutes, "77");
    EXPECT_EQ(saveDomain(a, {ref, kCorp}), SaveOutcome::Saved);
    EXPECT_EQ(columns("ReconnectFailureThreshold DoTotalResynchAfterMinutes ReconnectSearchAllSites"), "20 77 " + flag);

    // The global catalog the same way; its saved panel keeps saving against what it wrote.
    PanelState ga = gcPanel();
    ConfigurationSnapshot readGa = m_config;
    PanelState gb = gcPanel();
    setText(gb, Text::FailedConnections, "5");
    EXPECT_EQ(saveGc(gb), SaveOutcome::Saved);
    setText(gb, Text::FailedConnections, "6");
    EXPECT_EQ(saveGc(gb), SaveOutcome::Saved);
    setTime(ga, QTime(2, 0));
    setText(ga, Text::FailedConnections, "9");
    GcSettingsSaver gcA(m_t.ctx());
    EXPECT_EQ(gcA.save(ga, readGa, {}), SaveOutcome::Conflict);
    EXPECT_EQ(gcA.changedUnderneath(), QStringList{"ReconnectFailureThreshold"});
    EXPECT_EQ(m_t.prompter().messages.last(),
              "Nothing was saved: someone else changed these settings of the global catalog after "
              "they were read: ReconnectFailureThreshold. Look at the stored values and make your "
              "change again.");
    EXPECT_EQ(body().last(), m_t.prompter().messages.last());
    EXPECT_EQ(nodes("ReconnectFailureThreshold DoTotalResynchAtTime"), "6 130");
}

INSTANTIATE_TEST_SUITE_P(Engines, SaverTest, test::kEngines, test::engineName);
