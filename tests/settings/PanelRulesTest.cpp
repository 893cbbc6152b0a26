#include "settings/PanelRules.h"
#include "settings/SettingsFill.h"
#include "settings/SettingsSaver.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "settings/TimeOfDay.h"

#include <gtest/gtest.h>

using namespace fw;
using namespace fw::PanelRules;

namespace {

PanelState loaded(PanelSide side, bool reconnect, bool autoFind)
{
    PanelState s(side);
    setReconnect(s, reconnect);
    setAutoFind(s, autoFind);
    reconnectClick(s);
    s.saveEnabled = false;
    return s;
}

DomainSettings row()
{
    DomainSettings d;
    d.objectId = "{ID}";
    d.domainName = "corp.example.com";
    d.reconnectEnabled = 1;
    d.reconnectAutoFind = 0;
    d.reconnectSearchAllSites = 1;
    d.reconnectLastResortAutoFind = 1;
    d.reconnectFailureThreshold = 7;
    d.manualDCPrimary = "dc1.corp.example.com";
    d.manualDCSecondary = QVariant();
    d.doTotalResynchUsesRelative = 0;
    d.doTotalResynchAtTime = 705;
    d.doTotalResynchAfterMinutes = 30.0;
    return d;
}

ConfigurationSnapshot gcNodes()
{
    ConfigurationSnapshot c;
    const QString p = settings_text::kDsgcPrefix;
    c.nodes = {{"System.Other", "x"},
               {p + "SynchInterval", "10"},
               {p + "CurrentGC", "gc1"},
               {p + "ReconnectFailureThreshold", "3"},
               {p + "DoTotalResynchUsesRelative", "1"},
               {p + "DoTotalResynchAtTime", "130"},
               {p + "DoTotalResynchAfterMinutes", "20"},
               {p + "ReconnectEnabled", "1"},
               {p + "ReconnectLastResortAutoFind", "0"},
               {p + "ReconnectAutoFind", "0"},
               {p + "ManualGCPrimary", QVariant()},
               {p + "ManualGCSecondary", "gc2"}};
    return c;
}

struct Recorded {
    QStringList messages;
    QStringList failures;
    FillSinks sinks()
    {
        FillSinks s;
        s.message = [this](const QString& t) { messages << t; };
        s.failure = [this](const FwError& e, const QString& p) { failures << QString::number(e.number) + " " + p; };
        return s;
    }
};

} // namespace

TEST(PanelRules, ClearingReconnectKeepsTheDomainLastResortButDisablesTheGlobalCatalogOne)
{
    for (PanelSide side : {PanelSide::DomainController, PanelSide::GlobalCatalog}) {
        PanelState s = loaded(side, true, false);
        ASSERT_TRUE(s.enabled.lastResort);
        ASSERT_FALSE(s.saveEnabled);
        setReconnect(s, false);
        EXPECT_FALSE(s.enabled.autoFind);
        EXPECT_FALSE(s.enabled.manual);
        EXPECT_EQ(s.enabled.lastResort, side == PanelSide::DomainController);
        EXPECT_TRUE(s.saveEnabled);
    }
}

TEST(PanelRules, CheckingReconnectAgainFollowsTheAutomaticSearchBox)
{
    PanelState s = loaded(PanelSide::DomainController, false, true);
    setReconnect(s, true);
    EXPECT_TRUE(s.enabled.autoFind);
    EXPECT_FALSE(s.enabled.manual);
    EXPECT_FALSE(s.enabled.lastResort);

    s = loaded(PanelSide::GlobalCatalog, true, false);
    setReconnect(s, false);
    setReconnect(s, true);
    EXPECT_TRUE(s.enabled.autoFind);
    EXPECT_TRUE(s.enabled.manual);
    EXPECT_TRUE(s.enabled.lastResort);
}

TEST(PanelRules, ModeOptionsSwitchTheTimePickerAndTheMinutesBox)
{
    PanelState s(PanelSide::GlobalCatalog);
    selectMode(s, true);
    EXPECT_TRUE(s.enabled.timePicker);
    EXPECT_FALSE(s.enabled.minutes);
    s.saveEnabled = false;
    // Selecting the option that is already selected runs the rule again.
    selectMode(s, true);
    EXPECT_TRUE(s.saveEnabled);
    selectMode(s, false);
    EXPECT_FALSE(s.enabled.timePicker);
    EXPECT_TRUE(s.enabled.minutes);
}

TEST(PanelRules, OnlyRealChangesMarkThePanel)
{
    PanelState s = loaded(PanelSide::DomainController, true, true);
    setText(s, Text::ManualPrimary, QString());
    setReconnect(s, true);
    setAutoFind(s, true);
    setLastResort(s, false);
    setSearchAllSites(s, false);
    setTime(s, QTime(0, 0));
    EXPECT_FALSE(s.saveEnabled);
    const auto enabled = s.enabled;
    setText(s, Text::Minutes, "5");
    EXPECT_TRUE(s.saveEnabled);
    EXPECT_EQ(s.enabled, enabled);
    s.saveEnabled = false;
    setTime(s, QTime(7, 5));
    EXPECT_TRUE(s.saveEnabled);
    s.saveEnabled = false;
    setSearchAllSites(s, true);
    EXPECT_TRUE(s.saveEnabled);
}

TEST(PanelRules, ResetPutsTheDefaultsInAndKeepsLastResortAndTime)
{
    for (PanelSide side : {PanelSide::DomainController, PanelSide::GlobalCatalog}) {
        PanelState s = loaded(side, false, false);
        setLastResort(s, true);
        selectMode(s, true);
        setTime(s, QTime(23, 5));
        setText(s, Text::ManualPrimary, "a");
        setText(s, Text::ManualSecondary, "b");
        setText(s, Text::FailedConnections, "40");
        setSearchAllSites(s, true);
        s.saveEnabled = false;
        resetToDefaults(s);
        const bool dc = side == PanelSide::DomainController;
        EXPECT_EQ(s.failedConnections, dc ? "15" : "2");
        EXPECT_TRUE(s.manualPrimary.isEmpty());
        EXPECT_TRUE(s.manualSecondary.isEmpty());
        EXPECT_TRUE(s.reconnect);
        EXPECT_TRUE(s.autoFind);
        EXPECT_FALSE(s.atTime);
        EXPECT_EQ(s.minutes, "0");
        EXPECT_EQ(s.searchAllSites, !dc); // the global catalog panel has no such box
        EXPECT_TRUE(s.lastResort);
        EXPECT_EQ(s.time, QTime(23, 5));
        EXPECT_FALSE(s.enabled.manual); // through the rules
        EXPECT_TRUE(s.saveEnabled);
    }
}

TEST(PanelFill, DomainRowFillsThePanelThroughTheRulesAndClearsTheMark)
{
    PanelState s(PanelSide::DomainController);
    Recorded r;
    fillDomainPanel(s, row(), r.sinks());
    EXPECT_EQ(s.failedConnections, "7");
    EXPECT_TRUE(s.atTime);
    EXPECT_EQ(s.time, QTime(7, 5));
    EXPECT_TRUE(s.reconnect);
    EXPECT_FALSE(s.autoFind);
    EXPECT_TRUE(s.searchAllSites);
    EXPECT_TRUE(s.lastResort);
    EXPECT_EQ(s.manualPrimary, "dc1.corp.example.com");
    EXPECT_EQ(s.manualSecondary, ""); // NULL shows empty
    EXPECT_TRUE(s.enabled.manual);
    EXPECT_TRUE(s.enabled.timePicker);
    EXPECT_FALSE(s.enabled.minutes);
    EXPECT_FALSE(s.saveEnabled);
    EXPECT_TRUE(r.messages.isEmpty());

    // The minutes mode shows the stored real as a whole number; a NULL flag reads as off.
    DomainSettings d = row();
    d.doTotalResynchUsesRelative = 1;
    d.reconnectEnabled = QVariant();
    fillDomainPanel(s, d, r.sinks());
    EXPECT_FALSE(s.atTime);
    EXPECT_EQ(s.minutes, "30");
    EXPECT_FALSE(s.reconnect);
    EXPECT_FALSE(s.enabled.autoFind);
    EXPECT_FALSE(s.enabled.manual);
    EXPECT_TRUE(s.enabled.lastResort); // left as rule A set it
    EXPECT_FALSE(s.saveEnabled);
}

TEST(PanelFill, BadStoredTimesShowTheirMessageAndGiveMidnight)
{
    PanelState s(PanelSide::DomainController);
    Recorded r;
    DomainSettings d = row();
    d.doTotalResynchAtTime = 2401;
    fillDomainPanel(s, d, r.sinks());
    EXPECT_EQ(r.messages, QStringList{"Invalid time format"});
    EXPECT_EQ(s.time, QTime(0, 0));
    d.doTotalResynchAtTime = 1275;
    setTime(s, QTime(3, 3));
    fillDomainPanel(s, d, r.sinks());
    EXPECT_EQ(r.failures, QStringList{"13 getTimeFromInteger"});
    EXPECT_EQ(s.time, QTime(0, 0));
}

TEST(PanelFill, GlobalCatalogNodesFillInOrderAndAMissingNodeStopsTheFill)
{
    PanelState s(PanelSide::GlobalCatalog);
    Recorded r;
    ASSERT_TRUE(fillGcPanel(s, gcNodes(), r.sinks()));
    EXPECT_EQ(s.syncInterval, "10");
    EXPECT_EQ(s.currentGC, "gc1");
    EXPECT_EQ(s.failedConnections, "3");
    EXPECT_FALSE(s.atTime);
    EXPECT_EQ(s.minutes, "20");
    EXPECT_TRUE(s.reconnect);
    EXPECT_FALSE(s.lastResort);
    EXPECT_FALSE(s.autoFind);
    EXPECT_EQ(s.manualPrimary, "");
    EXPECT_EQ(s.manualSecondary, "gc2");
    EXPECT_TRUE(s.enabled.manual);

    // Missing SynchInterval: its lower-case message and nothing else is filled.
    ConfigurationSnapshot c = gcNodes();
    c.nodes.removeAt(1);
    PanelState empty(PanelSide::GlobalCatalog);
    EXPECT_FALSE(fillGcPanel(empty, c, r.sinks()));
    EXPECT_EQ(r.messages.last(), "error, could not find fullNodeName=System.DirectoryConnectors.ActiveDirectory.DSGC.SynchInterval");
    EXPECT_TRUE(empty.failedConnections.isEmpty());
    EXPECT_FALSE(empty.saveEnabled);

    // Missing ManualGCPrimary: the upper-case message, the earlier nodes are in.
    c = gcNodes();
    c.nodes.removeAt(10);
    PanelState part(PanelSide::GlobalCatalog);
    EXPECT_FALSE(fillGcPanel(part, c, r.sinks()));
    EXPECT_EQ(r.messages.last(), "Error, could not find fullNodeName=System.DirectoryConnectors.ActiveDirectory.DSGC.ManualGCPrimary");
    EXPECT_EQ(part.failedConnections, "3");
    EXPECT_TRUE(part.manualSecondary.isEmpty());
}

TEST(PanelFill, GlobalCatalogTimeModeReadsTheIntegerPartAndNeverTheMinutesNode)
{
    ConfigurationSnapshot c = gcNodes();
    const QString p = settings_text::kDsgcPrefix;
    c.nodes[4].value = "0";
    c.nodes[5].value = "2305.9";
    c.nodes.removeAt(6); // no minutes node: not read in time mode
    PanelState s(PanelSide::GlobalCatalog);
    Recorded r;
    ASSERT_TRUE(fillGcPanel(s, c, r.sinks()));
    EXPECT_TRUE(s.atTime);
    EXPECT_EQ(s.time, QTime(23, 5));

    c.nodes[5].value = "soon";
    ASSERT_TRUE(fillGcPanel(s, c, r.sinks()));
    EXPECT_EQ(r.failures, QStringList{"13 PopulateGCSettings"});
    c.nodes[5].value = "99999";
    ASSERT_TRUE(fillGcPanel(s, c, r.sinks()));
    EXPECT_EQ(r.failures.last(), "6 PopulateGCSettings");
}

TEST(TimeOfDay, ConversionBothWaysAndEverySixteenBitValueIsSafe)
{
    EXPECT_EQ(getTimeFromInteger(0).time, QTime(0, 0));
    EXPECT_EQ(getTimeFromInteger(2359).time, QTime(23, 59));
    EXPECT_EQ(getTimeFromInteger(730).time, QTime(7, 30));
    EXPECT_EQ(getTimeFromInteger(5).time, QTime(0, 5));
    EXPECT_EQ(getTimeFromInteger(-1).problem, TimeFromInteger::Problem::OutOfRange);
    EXPECT_EQ(getTimeFromInteger(2401).problem, TimeFromInteger::Problem::OutOfRange);
    EXPECT_EQ(getTimeFromInteger(2400).problem, TimeFromInteger::Problem::NotATime);
    EXPECT_EQ(getTimeFromInteger(160).problem, TimeFromInteger::Problem::NotATime);
    int valid = 0;
    for (int v = -32768; v <= 32767; ++v) {
        const TimeFromInteger t = getTimeFromInteger(v);
        ASSERT_TRUE(t.time.isValid());
        if (t.problem == TimeFromInteger::Problem::None) {
            ++valid;
            ASSERT_EQ(integerFromTime(t.time), v);
        } else {
            ASSERT_EQ(t.time, QTime(0, 0));
        }
    }
    EXPECT_EQ(valid, 24 * 60);
}

TEST(SaveRules, WholeNumbersOnly)
{
    EXPECT_EQ(parseWholeNumber("15"), 15);
    EXPECT_EQ(parseWholeNumber(" 0 "), 0);
    EXPECT_EQ(parseWholeNumber("2147483647"), 2147483647LL);
    for (const char* bad : {"", " ", "12abc", "-1", "1.5", "2147483648", "1e3", "x"})
        EXPECT_FALSE(parseWholeNumber(bad).has_value()) << bad;
}
