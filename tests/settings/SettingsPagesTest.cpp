#include "StoredSettings.h"
#include "log/ActivityLog.h"
#include "platform/ui/UpDownControl.h"
#include "support/ui/MainWindowFixture.h"
#include "ui_DomainControllersPage.h"
#include "ui_GlobalCatalogPage.h"
#include "ui_MainWindow.h"

#include <QFile>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;
using Answer = fw::Prompter::Answer;

namespace {

class SettingsPages : public MainWindowFixture {
protected:
    QString column(const QString& names, const QString& id) { return domainColumns(t.ctx().connectionString, names, id); }
    QString node(const QString& names) { return gcNodes(t.ctx().connectionString, names); }
    // A row of the domain grid, hidden columns included, its cells joined with '|'.
    std::string gridRow(int r)
    {
        QStringList cells;
        for (int c = 0; c < grid().cols(); ++c)
            cells << grid().textMatrix(r, c);
        return cells.join('|').toStdString();
    }
    QList<int>& endCodes = t.eventLoop().exitCodes;
};

} // namespace

// The pages' own part: what the grid and the panels show, how clicks reach the rules and the savers, the reload
// after a save and the questions around it. The rules, fills and savers themselves are tested below the pages.
TEST_F(SettingsPages, LoadFillsTheGridAndBothPanels)
{
    load();
    EXPECT_EQ(grid().rows(), 4);
    EXPECT_EQ(grid().row(), 1);
    EXPECT_TRUE(grid().isColHidden(grid().colIndex("ObjectID")));
    EXPECT_EQ(gridRow(0), "Domain|Current Domain Controller|Manual DC Primary|Manual DC Secondary|Auto Reconnect|ObjectID");
    // By name, whatever order the rows were written in.
    EXPECT_EQ(gridRow(3), "sales.corp.example.com|dc01.sales.corp.example.com|dc01.sales.corp.example.com|"
                          "dc02.sales.corp.example.com|1|{A9E8D7C6-B5A4-4392-8170-F6E5D4C3B2A1}");
    // Reconnect off: the table's manual servers are not shown in the grid.
    EXPECT_EQ(gridRow(2), "emea.example.org|emeadc2.emea.example.org|||0|{0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0}");

    EXPECT_EQ(dc().txtDCSyncInterval->text(), "15");
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "15");
    EXPECT_TRUE(dc().optDCForceFullSyncMinute->isChecked());
    EXPECT_FALSE(dc().txtDCManualPrimary->isEnabled());
    EXPECT_FALSE(dc().lblManualPrimaryDomainController->isEnabled());
    EXPECT_FALSE(dc().cmdDCSave->isEnabled());
    EXPECT_EQ(gc().txtCurrentGC->text(), "gc01.corp.example.com");
    EXPECT_EQ(gc().timeGCResyncAtTime->time(), QTime(1, 30));
    EXPECT_FALSE(gc().chkGCEnableLastResort->isEnabled());
    EXPECT_FALSE(gc().cmdGCSave->isEnabled());
}

TEST_F(SettingsPages, ClicksAndKeysReachTheRules)
{
    load();
    click(dc().chkDCEnableAutoFind);
    EXPECT_TRUE(dc().txtDCManualPrimary->isEnabled());
    EXPECT_TRUE(dc().cmdTestDCManualPrimary->isEnabled());
    EXPECT_TRUE(dc().cmdDCSave->isEnabled());
    click(dc().optDCForceFullSyncAtTime);
    EXPECT_TRUE(dc().timeDCResyncAtTime->isEnabled());
    EXPECT_FALSE(dc().UpDownDCResyncAfterMinutes->isEnabled());

    showTab(1);
    type(gc().txtGCManualPrimary, "x"); // disabled: the keys go nowhere
    EXPECT_FALSE(gc().cmdGCSave->isEnabled());
    click(gc().chkGCEnableReconnect);
    EXPECT_FALSE(gc().chkGCEnableAutoFind->isEnabled());
    EXPECT_TRUE(gc().cmdGCSave->isEnabled());
}

TEST_F(SettingsPages, SpinControlsHaveTheirRangesAndMarkThePanel)
{
    load();
    EXPECT_EQ(dc().UpDownDCResyncAfterMinutes->maximum(), 999);
    EXPECT_EQ(gc().upDownGCForceFullSyncMinute->maximum(), 999);
    EXPECT_EQ(gc().UpDownGCFailedConnections->value(), 2);

    click(dc().UpDownDCFailedConnections->upButton());
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "16");
    EXPECT_TRUE(dc().cmdDCSave->isEnabled());
    type(dc().txtDCFailedConnections, "99");
    click(dc().UpDownDCFailedConnections->upButton());
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "99"); // the top of the range
    QTest::keyClick(dc().txtDCFailedConnections, Qt::Key_Down);
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "98");
    // The box takes any text; the saver refuses it.
    type(dc().txtDCFailedConnections, "lots");
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "lots");

    showTab(1);
    gc().timeGCResyncAtTime->setFocus();
    QTest::keyClick(gc().timeGCResyncAtTime, Qt::Key_Up);
    EXPECT_TRUE(gc().cmdGCSave->isEnabled());
}

TEST_F(SettingsPages, LeavingADomainWithChangesAsksFirst)
{
    load();
    type(dc().txtDCFailedConnections, "44");
    ASSERT_TRUE(dc().cmdDCSave->isEnabled());

    t.prompter().answers = {Answer::No};
    clickCell(2, 0);
    EXPECT_EQ(t.prompter().questions,
              QStringList{"You will lose the changes you made to this domain.  Are you sure you want to switch domains?"});
    EXPECT_EQ(grid().row(), 1);
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "44");
    EXPECT_TRUE(dc().cmdDCSave->isEnabled());

    t.prompter().answers = {Answer::Yes};
    grid().setFocus();
    QTest::keyClick(&grid(), Qt::Key_Down);
    EXPECT_EQ(grid().row(), 2);
    // The reconnect-off domain shows its manual server on the panel.
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "25");
    EXPECT_EQ(dc().txtDCManualPrimary->text(), "emeadc1.emea.example.org");
    EXPECT_FALSE(dc().cmdDCSave->isEnabled());

    // Without changes there is no question.
    clickCell(3, 0);
    EXPECT_EQ(t.prompter().questions.size(), 2);
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "5");
    EXPECT_EQ(dc().txtDCManualSecondary->text(), "dc02.sales.corp.example.com");
    EXPECT_EQ(column("ReconnectFailureThreshold", kCorp), "15");
}

TEST_F(SettingsPages, DomainSaveReloadsInANewLogAndKeepsTheRow)
{
    load();
    clickCell(3, 0);
    const QString firstLog = t.ctx().log().logPath();
    type(dc().txtDCFailedConnections, "7");
    showTab(1);
    type(gc().txtGCFailedConnections, "9"); // unsaved GC change, discarded by the reload
    showTab(0);
    t.clock().advanceSecs(5);
    t.prompter().answers = {Answer::Yes};
    click(dc().cmdDCSave);

    EXPECT_EQ(column("ReconnectFailureThreshold", kSales), "7");
    EXPECT_EQ(grid().row(), 3);
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "7");
    EXPECT_FALSE(dc().cmdDCSave->isEnabled());
    EXPECT_EQ(gc().txtGCFailedConnections->text(), "3");
    EXPECT_FALSE(gc().cmdGCSave->isEnabled());
    EXPECT_TRUE(grid().redraw());
    // The save's lines end the earlier log; the reload starts the next one before the closing line.
    EXPECT_TRUE(t.logLines(firstLog).contains("Save pressed for Domain=sales.corp.example.com"));
    ASSERT_NE(t.ctx().log().logPath(), firstLog);
    EXPECT_EQ(t.logLines().mid(8), QStringList{"Settings saved for domain"});
}

// The registry is pointed at another database while the window is open: the save, the reload after it and a refresh
// stay with the database the window was loaded from, and the other one is used from the next start.
TEST_F(SettingsPages, ARegistryPointedElsewhereWhileOpenTakesEffectAtTheNextStart)
{
    const QString first = t.ctx().connectionString;
    ASSERT_TRUE(first.startsWith("sqlite:"));
    const QString other = "sqlite:" + t.dir() + "/other.sqlite";
    ASSERT_TRUE(QFile::copy(first.mid(7), other.mid(7)));
    sqlValue(other, "UPDATE ADDomain SET ReconnectFailureThreshold = 99");
    load();
    clickCell(3, 0);
    t.registry().setString("HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool", "ConnectionString", other);
    type(dc().txtDCFailedConnections, "7");
    t.prompter().answers = {Answer::Yes};
    click(dc().cmdDCSave);

    EXPECT_EQ(t.prompter().messages.last(), "Settings saved for domain");
    EXPECT_EQ(grid().row(), 3);
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "7") << "the panel shows what was saved";
    EXPECT_EQ(domainColumns(first, "ReconnectFailureThreshold", kSales), "7");
    EXPECT_EQ(domainColumns(other, "ReconnectFailureThreshold", kSales), "99");
    EXPECT_TRUE(t.debug().lines.contains("The registry names another database than at the start; this window keeps using "
                                         "the one it was loaded from until the program starts again"));
    main->mnuRefresh_Click();
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "15") << "the first domain, as the window's database holds it";

    main.reset();
    load();
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "99") << "a new start reads the registry again";
}

TEST_F(SettingsPages, DomainSaveAnsweredNoKeepsTheEdits)
{
    load();
    click(dc().chkDCEnableReconnect);
    t.prompter().answers = {Answer::No};
    click(dc().cmdDCSave);
    EXPECT_EQ(t.prompter().questions.size(), 1);
    EXPECT_TRUE(dc().cmdDCSave->isEnabled());
    EXPECT_FALSE(dc().chkDCEnableReconnect->isChecked());
}

TEST_F(SettingsPages, DomainResetSavesTheDefaultsOfTheSelectedDomain)
{
    load();
    clickCell(3, 0); // sales: manual servers, time mode
    const QString firstLog = t.ctx().log().logPath();
    t.clock().advanceSecs(3);
    click(dc().cmdDCResetToDefaults);
    EXPECT_TRUE(t.prompter().questions.isEmpty());
    EXPECT_EQ(column("ReconnectAutoFind DoTotalResynchUsesRelative", kSales), "1 1");
    EXPECT_TRUE(t.logLines(firstLog).contains("User selected to reset to default values for domain=sales.corp.example.com"));
    EXPECT_EQ(grid().row(), 3);
    EXPECT_EQ(gridRow(3), "sales.corp.example.com|dc01.sales.corp.example.com|||1|{A9E8D7C6-B5A4-4392-8170-F6E5D4C3B2A1}");
}

TEST_F(SettingsPages, GlobalCatalogSaveAndResetKeepThePanelAndTheLog)
{
    load();
    showTab(1);
    const QString logPath = t.ctx().log().logPath();
    click(gc().optGCForceFullSyncMinute);
    type(gc().txtGCForceFullSyncMinute, "25");
    click(gc().cmdGCSave);
    EXPECT_EQ(node("DoTotalResynchAfterMinutes"), "25");
    EXPECT_FALSE(gc().cmdGCSave->isEnabled());
    EXPECT_TRUE(gc().optGCForceFullSyncMinute->isChecked()); // no reload
    EXPECT_EQ(t.ctx().log().logPath(), logPath);

    click(gc().cmdGCRestoreDefaults);
    EXPECT_TRUE(t.prompter().questions.isEmpty());
    EXPECT_EQ(node("ReconnectFailureThreshold"), "2");
    EXPECT_EQ(gc().txtGCFailedConnections->text(), "2");
    EXPECT_FALSE(gc().cmdGCSave->isEnabled());
    EXPECT_TRUE(t.logLines().contains("User selected to reset to default values for GC"));
}

// Someone else saved after the panels were filled: the window says what changed and shows the stored values again.
TEST_F(SettingsPages, SaveOnSettingsChangedSinceTheLoadNamesThemAndShowsTheStoredValues)
{
    const QString conflict = "Nothing was saved: someone else changed these settings of %1 after they were read: %2. "
                             "Look at the stored values and make your change again.";
    load();
    type(dc().txtDCFailedConnections, "44");
    t.sql("UPDATE ADDomain SET DoTotalResynchAfterMinutes = 77, ManualDCPrimary = 'dc5.corp.example.com', ReconnectAutoFind = 0 "
          "WHERE AdDomainObjectID = ?",
          {kCorp});
    click(dc().cmdDCSave);
    EXPECT_EQ(t.prompter().messages, QStringList{conflict.arg("domain corp.example.com",
                                                              "DoTotalResynchAfterMinutes, ReconnectAutoFind, ManualDCPrimary")});
    EXPECT_EQ(column("ReconnectFailureThreshold DoTotalResynchAfterMinutes", kCorp), "15 77");
    EXPECT_EQ(grid().row(), 1);
    EXPECT_EQ(gridRow(1),
              "corp.example.com|dc01.corp.example.com|dc5.corp.example.com||1|{6B1F0C2A-4D1E-4A8B-9C3D-1E2F3A4B5C6D}");
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "15");
    EXPECT_EQ(dc().txtDCResyncAfterMinutes->text(), "77");
    EXPECT_TRUE(dc().txtDCManualPrimary->isEnabled());
    EXPECT_FALSE(dc().cmdDCSave->isEnabled());
    // Made again on what is stored now, the change is saved.
    type(dc().txtDCFailedConnections, "44");
    t.prompter().answers = {Answer::Yes};
    click(dc().cmdDCSave);
    EXPECT_EQ(t.prompter().messages.last(), "Settings saved for domain");
    EXPECT_EQ(column("ReconnectFailureThreshold DoTotalResynchAfterMinutes ManualDCPrimary", kCorp),
              "44 77 dc5.corp.example.com");

    showTab(1);
    type(gc().txtGCFailedConnections, "7");
    t.sql("UPDATE Configuration SET NodeValue = '0' WHERE FullNodeName = ?", {kDsgc + "ReconnectAutoFind"});
    t.sql("UPDATE Configuration SET NodeValue = 'gc7.corp.example.com' WHERE FullNodeName = ?", {kDsgc + "ManualGCPrimary"});
    click(gc().cmdGCSave);
    EXPECT_EQ(t.prompter().messages.last(), conflict.arg("the global catalog", "ReconnectAutoFind, ManualGCPrimary"));
    EXPECT_EQ(node("ReconnectFailureThreshold"), "3");
    EXPECT_EQ(gc().txtGCFailedConnections->text(), "3");
    EXPECT_EQ(gc().txtGCManualPrimary->text(), "gc7.corp.example.com");
    EXPECT_FALSE(gc().chkGCEnableAutoFind->isChecked());
    EXPECT_FALSE(gc().cmdGCSave->isEnabled());
}

TEST_F(SettingsPages, GlobalCatalogSaveTheDatabaseRefusesIsShownInABox)
{
    load();
    showTab(1);
    t.sql("CREATE TRIGGER refuse BEFORE UPDATE ON Configuration BEGIN SELECT RAISE(ABORT, 'disk quota exceeded'); END");
    type(gc().txtGCFailedConnections, "7");
    click(gc().cmdGCSave);
    EXPECT_EQ(t.prompter().messages.size(), 1);
    EXPECT_TRUE(gc().cmdGCSave->isEnabled()) << "the edits are still unsaved";
}

TEST_F(SettingsPages, RefreshWithoutDomainsEmptiesTheGridAndASaveFindsNoDomain)
{
    load();
    t.sql("DELETE FROM ADDomain");
    main->mnuRefresh_Click();
    EXPECT_EQ(t.prompter().messages.last(), "Could not find ADDomain information in database.");
    EXPECT_EQ(grid().rows(), 1);
    click(dc().chkDCRecoonectSearchAllSites);
    click(dc().cmdDCSave);
    EXPECT_EQ(t.prompter().messages.last(), "Error!  Could not find selected domain in ADDomain table in the database.");
    EXPECT_TRUE(endCodes.isEmpty());
}

TEST_F(SettingsPages, NullColumnsShowEmptyAndANullTimeIsReported)
{
    t.sql("UPDATE ADDomain SET ReconnectEnabled = NULL, ReconnectFailureThreshold = NULL WHERE AdDomainObjectID = ?", {kCorp});
    t.sql("UPDATE Configuration SET NodeValue = NULL WHERE FullNodeName = ?", {kDsgc + "CurrentGC"});
    load();
    EXPECT_EQ(gridRow(1), "corp.example.com|dc01.corp.example.com|||0|{6B1F0C2A-4D1E-4A8B-9C3D-1E2F3A4B5C6D}");
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "");
    EXPECT_EQ(gc().txtCurrentGC->text(), "");
    EXPECT_TRUE(t.prompter().messages.isEmpty());

    // A NULL time of day cannot be shown: the report names the procedure, the rest of the panel is filled.
    t.sql("UPDATE ADDomain SET DoTotalResynchUsesRelative = 0, DoTotalResynchAtTime = NULL WHERE AdDomainObjectID = ?", {kEmea});
    clickCell(2, 0);
    EXPECT_EQ(t.prompter().messages,
              QStringList{"(error):94 (Invalid use of Null) in procedure PopulateDomainSettings of Form frmMain"});
    EXPECT_EQ(dc().txtDCFailedConnections->text(), "25");
    EXPECT_FALSE(dc().cmdDCSave->isEnabled());
}

// An empty configuration ends the program during the load: the window tests of the start-up follow that case.
TEST_F(SettingsPages, MissingDomainRowEndsTheProgram)
{
    load();
    t.sql("DELETE FROM ADDomain WHERE AdDomainObjectID = ?", {kSales});
    clickCell(3, 0);
    EXPECT_EQ(t.prompter().messages.last(),
              "Error, could not find currently selected domain in ADDomain table in the VelmoraDB database");
    EXPECT_EQ(endCodes, QList<int>{1});
}

TEST_F(SettingsPages, PanelsMissingANodeShowTheMessageAndRefuseToSave)
{
    t.sql("DELETE FROM Configuration WHERE FullNodeName = ?", {kDsgc + "SynchInterval"});
    t.sql("DELETE FROM Configuration WHERE FullNodeName = ?", {"System.DirectoryConnectors.ActiveDirectory.DSAD.SynchInterval"});
    load();
    EXPECT_EQ(t.prompter().messages,
              (QStringList{"error, could not find fullNodeName=System.DirectoryConnectors.ActiveDirectory.DSGC.SynchInterval",
                           "error, could not find fullNodeName=System.DirectoryConnectors.ActiveDirectory.DSAD.SynchInterval"}));
    EXPECT_EQ(dc().txtDCFailedConnections->text(), ""); // the domain panel stops there too
    EXPECT_TRUE(endCodes.isEmpty());

    // Panels that never showed the stored settings do not save what they hold instead.
    const QString notLoaded = "The settings of %1 could not be read from the database, so the panel does not show them. "
                              "Nothing was saved.";
    type(dc().txtDCFailedConnections, "4");
    click(dc().cmdDCSave);
    EXPECT_EQ(t.prompter().messages.last(), notLoaded.arg("domain corp.example.com"));
    click(dc().cmdDCResetToDefaults);
    EXPECT_EQ(t.prompter().messages.last(), notLoaded.arg("domain corp.example.com"));
    EXPECT_EQ(column("ReconnectFailureThreshold", kCorp), "15");
    showTab(1);
    click(gc().cmdGCRestoreDefaults);
    EXPECT_EQ(t.prompter().messages.last(), notLoaded.arg("the global catalog"));
    EXPECT_EQ(node("ReconnectFailureThreshold"), "3");
}

TEST_F(SettingsPages, TabSwitchLogsAndRunsTheStatusRefreshOnlyOnStatus)
{
    load();
    int refreshes = 0;
    main->setStatusRefresh([&] {
        ++refreshes;
        main->tabMain_Click(0); // a nested switch while this one runs is ignored
    });
    showTab(2);
    EXPECT_EQ(refreshes, 1);
    showTab(0);
    showTab(2);
    EXPECT_EQ(refreshes, 2);
    QStringList tabs;
    for (const QString& l : t.logLines()) {
        if (l.endsWith("clicked."))
            tabs << l.mid(l.indexOf(": ") + 2);
    }
    EXPECT_EQ(tabs, (QStringList{"Tab #2 clicked.", "Tab #0 clicked.", "Tab #2 clicked."}));
}
