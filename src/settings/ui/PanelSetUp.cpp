#include "settings/ui/PanelSetUp.h"

#include "platform/ui/UpDownControl.h"

#include <QAbstractButton>
#include <QLineEdit>

namespace fw {

PanelSetUp::Parts PanelSetUp::apply(PanelState& state, QObject* owner)
{
    widgets.upDownFailed->setRange(0, 99);
    widgets.upDownFailed->setIncrement(1);
    widgets.upDownFailed->setValue(failedConnectionsShown);
    widgets.upDownMinutes->setRange(0, 999);
    widgets.upDownMinutes->setIncrement(1);
    widgets.upDownMinutes->setValue(0);

    widgets.manualPrimary = servers.primary;
    widgets.manualSecondary = servers.secondary;
    widgets.manualControls = {servers.primary, servers.secondary,   primaryLabel,
                              secondaryLabel,  servers.testPrimary, servers.testSecondary};
    return {new PanelBinder(state, widgets, owner), new ServerControls(servers, owner)};
}

} // namespace fw
