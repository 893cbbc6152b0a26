#pragma once
#include "settings/PanelState.h"

#include <optional>

namespace fw {

// The editing rules of the two settings panels. Every change, whether the administrator's or the
// program's, goes through these so that the enabled states and the Save mark follow the same rules.
// Check boxes run their rule only when their value changes; selecting an option always runs rule C;
// texts and the time mark the panel changed only when they differ.
namespace PanelRules {

// Rule A (automatic server search), then the Save mark.
void autoFindClick(PanelState& s);
// Rule B (automatic reconnect), then the Save mark.
void reconnectClick(PanelState& s);
// Rule C (full synchronisation mode), then the Save mark.
void modeClick(PanelState& s);

void setReconnect(PanelState& s, bool on);
void setAutoFind(PanelState& s, bool on);
void setLastResort(PanelState& s, bool on);
void setSearchAllSites(PanelState& s, bool on);
// Selects the time-of-day option (true) or the minutes option (false).
void selectMode(PanelState& s, bool atTime);

enum class Text { FailedConnections, ManualPrimary, ManualSecondary, Minutes };
void setText(PanelState& s, Text which, const QString& text);
void setTime(PanelState& s, const QTime& t);

// The reset values of "Reset to Defaults", put in one by one in the order the panel lists them.
void resetToDefaults(PanelState& s);

// The settings a panel saves (the domain panel alone has SearchAllSites).
// clang-format off
enum class Setting { Reconnect, AutoFind, LastResort, SearchAllSites, Mode, FailedConnections, AtTime, Minutes, ManualPrimary, ManualSecondary };
// clang-format on
// Why a save of the panel as it stands leaves a setting as it is stored.
enum class Kept {
    ReconnectOff,   // automatic reconnect is off: the rest of the reconnect settings are skipped
    AutoFindOn,     // automatic search is on: the manual servers are not written
    MinutesMode,    // the delay is in minutes: the time of day is not written
    TimeOfDayMode,  // the delay is until a time of day: the minutes are not written
    EmptySecondary, // an empty secondary server box leaves the stored secondary
};
// The rule that keeps `which` out of a save of this panel; none when the save writes it.
std::optional<Kept> keptBy(const PanelState& s, Setting which);
inline bool saves(const PanelState& s, Setting which)
{
    return !keptBy(s, which);
}

} // namespace PanelRules

} // namespace fw
