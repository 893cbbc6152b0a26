#pragma once
#include "log/FwError.h"
#include "settings/PanelState.h"

#include <QString>
#include <functional>

namespace fw {

struct DomainSettings;
class ConfigurationSnapshot;

// Where a fill sends what it has to show: a plain message, or a failure of a named procedure
// (the caller knows that procedure's sinks).
struct FillSinks {
    std::function<void(const QString& text)> message;
    std::function<void(const FwError& e, const QString& procedure)> failure;
};

// Turns a stored time integer into the picker's time; an out-of-range value shows "Invalid time
// format", a value that is no time of day reports error 13 of getTimeFromInteger; both give midnight.
QTime timeForPicker(int value, const FillSinks& sinks);

// The domain panel from its row, through the editing rules, ending with the Save mark cleared.
void fillDomainPanel(PanelState& s, const DomainSettings& row, const FillSinks& sinks);

// The global catalog panel from the configuration nodes, one after the other. A missing node shows its
// message and stops the fill (false); otherwise rule B runs at the end (true). The Save mark is left
// as the rules set it.
bool fillGcPanel(PanelState& s, const ConfigurationSnapshot& config, const FillSinks& sinks);

} // namespace fw
