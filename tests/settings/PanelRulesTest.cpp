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
    // clang-format off
    return {.objectId = "{ID}", .domainName = "corp.example.com", .currentDC = {}, .reconnectEnabled = 1,
            .reconnectAutoFind = 0, .reconnectSearchAllSites = 1, .reconnectLastResortAutoFind = 1,
            .reconnectFailureThreshold = 7, .manualDCPrimary = "dc1.corp.example.com", .manualDCSecondary = {},
            .doTotalResynchUsesRelative = 0, .doTotalResynchAtTime = 705, .doTotalResynchAfterMinutes = 30.0,
            .reconnectOnNextSynch = {}};
    // clang-format on
}

ConfigurationSnapshot gcNodes()
{
    ConfigurationSnapshot c;
    const QString p = settings_text::kDsgcPrefix;
    // clang-format off
    c.nodes = {{"System.Other", "x"}, {p + "SynchInterval", "10"}, {p + "CurrentGC", "gc1"},
               {p + "ReconnectFailureThreshold", "3"}, {p + "DoTotalResynchUsesRelative", "1"},
               {p + "DoTotalResynchAtTime", "130"}, {p + "DoTotalResynchAfterMinutes", "20"}, {p + "ReconnectEnabled", "1"},
               {p + "ReconnectLastResortAutoFind", "0"}, {p + "ReconnectAutoFind", "0"}, {p + "ManualGCPrimary", QVariant()},
               {p + "ManualGCSecondary", "gc2"}};
    // clang-format on
    return c;
}

// The controls that are enabled, and the mark.
std::string enabled(const PanelState& s)
{
    QStringList on;
    for (const auto& [name, set] : {std::pair{"autoFind", s.enabled.autoFind},
                                    {"manual", s.enabled.manual},
                                    {"lastResort", s.enabled.lastResort},
                                    {"timePicker", s.enabled.timePicker},
                                    {"minutes", s.enabled.minutes}})
        if (set)
            on << name;
    return (on.join(' ') + (s.saveEnabled ? "; marked" : "")).toStdString();
}

// The whole panel in one line: the boxes that are checked, the texts, the controls that are enabled, the mark.
std::string shown(const PanelState& s)
{
    QStringList on;
    for (const auto& [name, set] : {std::pair{"reconnect", s.reconnect},
                                    {"autoFind", s.autoFind},
                                    {"lastResort", s.lastResort},
                                    {"allSites", s.searchAllSites},
                                    {"atTime", s.atTime}})
        if (set)
            on << name;
    return (on.join(' ') + "; failed=" + s.failedConnections + " primary=" + s.manualPrimary + " secondary=" + s.manualSecondary +
            " minutes=" + s.minutes + " time=" + s.time.toString("HH:mm") + "; enabled: ")
               .toStdString() +
           enabled(s);
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
        ASSERT_EQ(enabled(s), "autoFind manual lastResort timePicker minutes");
        setReconnect(s, false);
        EXPECT_EQ(enabled(s),
                  side == PanelSide::DomainController ? "lastResort timePicker minutes; marked" : "timePicker minutes; marked");
    }
}

TEST(PanelRules, CheckingReconnectAgainFollowsTheAutomaticSearchBox)
{
    PanelState s = loaded(PanelSide::DomainController, false, true);
    setReconnect(s, true);
    EXPECT_EQ(enabled(s), "autoFind timePicker minutes; marked");

    s = loaded(PanelSide::GlobalCatalog, true, false);
    setReconnect(s, false);
    setReconnect(s, true);
    EXPECT_EQ(enabled(s), "autoFind manual lastResort timePicker minutes; marked");
}

TEST(PanelRules, ModeOptionsSwitchTheTimePickerAndTheMinutesBox)
{
    PanelState s(PanelSide::GlobalCatalog);
    selectMode(s, true);
    EXPECT_EQ(enabled(s), "autoFind manual lastResort timePicker; marked");
    s.saveEnabled = false;
    // Selecting the option that is already selected runs the rule again.
    selectMode(s, true);
    EXPECT_TRUE(s.saveEnabled);
    selectMode(s, false);
    EXPECT_EQ(enabled(s), "autoFind manual lastResort minutes; marked");
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
    const std::string before = enabled(s);
    setText(s, Text::Minutes, "5");
    EXPECT_EQ(enabled(s), before + "; marked");
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
        // The global catalog panel has no box for all sites; the enabled controls follow the rules.
        EXPECT_EQ(shown(s), side == PanelSide::DomainController
                                ? "reconnect autoFind lastResort; failed=15 primary= secondary= minutes=0 time=23:05; "
                                  "enabled: autoFind minutes; marked"
                                : "reconnect autoFind lastResort allSites; failed=2 primary= secondary= minutes=0 "
                                  "time=23:05; enabled: autoFind minutes; marked");
    }
}

TEST(PanelFill, DomainRowFillsThePanelThroughTheRulesAndClearsTheMark)
{
    PanelState s(PanelSide::DomainController);
    Recorded r;
    fillDomainPanel(s, row(), r.sinks()); // a NULL secondary shows empty
    EXPECT_EQ(shown(s), "reconnect lastResort allSites atTime; failed=7 primary=dc1.corp.example.com secondary= minutes= "
                        "time=07:05; enabled: autoFind manual lastResort timePicker");
    EXPECT_TRUE(r.messages.isEmpty());

    // The minutes mode shows the stored real as a whole number; a NULL flag reads as off; last resort stays
    // enabled as the reconnect rule left it.
    DomainSettings d = row();
    d.doTotalResynchUsesRelative = 1;
    d.reconnectEnabled = QVariant();
    fillDomainPanel(s, d, r.sinks());
    EXPECT_EQ(shown(s), "lastResort allSites; failed=7 primary=dc1.corp.example.com secondary= minutes=30 time=07:05; "
                        "enabled: lastResort minutes");
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
    // The fill leaves the mark as the rules set it.
    EXPECT_EQ(shown(s), "reconnect; failed=3 primary= secondary=gc2 minutes=20 time=00:00; enabled: autoFind manual "
                        "lastResort minutes; marked");

    // Missing SynchInterval: its lower-case message and nothing else is filled.
    ConfigurationSnapshot c = gcNodes();
    c.nodes.removeAt(1);
    PanelState empty(PanelSide::GlobalCatalog);
    EXPECT_FALSE(fillGcPanel(empty, c, r.sinks()));
    EXPECT_EQ(r.messages.last(),
              "error, could not find fullNodeName=System.DirectoryConnectors.ActiveDirectory.DSGC.SynchInterval");
    EXPECT_EQ(shown(empty), shown(PanelState(PanelSide::GlobalCatalog)));

    // Missing ManualGCPrimary: the upper-case message, the earlier nodes are in.
    c = gcNodes();
    c.nodes.removeAt(10);
    PanelState part(PanelSide::GlobalCatalog);
    EXPECT_FALSE(fillGcPanel(part, c, r.sinks()));
    EXPECT_EQ(r.messages.last(),
              "Error, could not find fullNodeName=System.DirectoryConnectors.ActiveDirectory.DSGC.ManualGCPrimary");
    EXPECT_EQ(part.failedConnections, "3");
    EXPECT_TRUE(part.manualSecondary.isEmpty());
}

TEST(PanelFill, GlobalCatalogTimeModeReadsTheIntegerPartAndNeverTheMinutesNode)
{
    ConfigurationSnapshot c = gcNodes();
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
    for (const auto& [v, time] : {std::pair{0, QTime(0, 0)}, {2359, QTime(23, 59)}, {730, QTime(7, 30)}, {5, QTime(0, 5)}})
        EXPECT_EQ(getTimeFromInteger(v).time, time) << v;
    using enum TimeFromInteger::Problem;
    for (const auto& [v, problem] : {std::pair{-1, OutOfRange}, {2401, OutOfRange}, {2400, NotATime}, {160, NotATime}})
        EXPECT_EQ(getTimeFromInteger(v).problem, problem) << v;
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
