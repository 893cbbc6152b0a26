#pragma once
#include "settings/ui/PanelBinder.h"
#include "settings/ui/ServerControls.h"

namespace fw {

// What the domain controller and global catalog pages set up alike: the up-down ranges, the binder that keeps
// the widgets and the panel state in step, and the server-check controls. Each page names its controls once.
struct PanelSetUp {
    PanelWidgets widgets; // manualPrimary, manualSecondary and manualControls come from `servers` and the labels
    ServerControls::Widgets servers;
    QWidget* primaryLabel = nullptr;
    QWidget* secondaryLabel = nullptr;
    int failedConnectionsShown = 0; // the up-down's number until the settings are read

    struct Parts {
        PanelBinder* binder;
        ServerControls* servers;
    };
    // The binder and the server controls are children of `owner`.
    Parts apply(PanelState& state, QObject* owner);
};

} // namespace fw
