#pragma once
#include <QString>
#include <QTime>

namespace fw {

enum class PanelSide { DomainController, GlobalCatalog };

// What one settings panel shows: its values, which of its controls are enabled and whether its Save
// button is enabled (the panel's only unsaved-changes mark). The pages mirror it onto their widgets;
// the editing rules and the savers work on it alone.
struct PanelState {
    explicit PanelState(PanelSide s = PanelSide::DomainController) : side(s) {}

    PanelSide side;

    bool reconnect = false;
    bool autoFind = false;
    bool lastResort = false;
    bool searchAllSites = false; // domain panel only
    bool atTime = false;         // the time-of-day option is selected; otherwise the minutes option

    QString failedConnections;
    QString manualPrimary;
    QString manualSecondary;
    QString minutes;
    QTime time{0, 0};

    // Shown only.
    QString syncInterval;
    QString currentGC; // global catalog panel only

    struct Enabled {
        bool autoFind = true;
        bool manual = true; // both manual server boxes, their labels and their Test buttons
        bool lastResort = true;
        bool timePicker = true;
        bool minutes = true; // the minutes box and its spin control
        bool operator==(const Enabled&) const = default;
    } enabled;

    bool saveEnabled = false;
};

} // namespace fw
