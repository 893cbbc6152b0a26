#pragma once
#include "settings/PanelState.h"

#include <QList>
#include <QObject>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimeEdit;
class QWidget;

namespace fw {

class UpDownControl;

// The widgets of one settings panel.
struct PanelWidgets {
    QCheckBox* reconnect = nullptr;
    QCheckBox* autoFind = nullptr;
    QCheckBox* lastResort = nullptr;
    QCheckBox* searchAllSites = nullptr; // domain panel only
    QRadioButton* optAtTime = nullptr;
    QRadioButton* optMinutes = nullptr;
    QLineEdit* failedConnections = nullptr;
    QLineEdit* manualPrimary = nullptr;
    QLineEdit* manualSecondary = nullptr;
    QLineEdit* minutes = nullptr;
    QLineEdit* syncInterval = nullptr;
    QLineEdit* currentGC = nullptr; // global catalog panel only
    QTimeEdit* time = nullptr;
    UpDownControl* upDownFailed = nullptr;
    UpDownControl* upDownMinutes = nullptr;
    QList<QWidget*> manualControls; // boxes, labels and Test buttons of the manual servers
    QPushButton* save = nullptr;
};

// Keeps a panel's widgets and its PanelState in step: what the administrator does goes through the
// editing rules into the state, and the state is shown back on the widgets.
class PanelBinder : public QObject {
    Q_OBJECT
public:
    PanelBinder(PanelState& state, PanelWidgets widgets, QObject* parent);
    // Shows the state on the widgets (without feeding the change back).
    void render();
    const PanelWidgets& widgets() const { return m_w; }

private:
    PanelState& m_state;
    PanelWidgets m_w;
    bool m_rendering = false;
};

} // namespace fw
