#include "settings/PanelRules.h"

namespace fw::PanelRules {

void autoFindClick(PanelState& s)
{
    const bool manual = !s.autoFind;
    s.enabled.manual = manual;
    s.enabled.lastResort = manual;
    s.saveEnabled = true;
}

void reconnectClick(PanelState& s)
{
    if (!s.reconnect) {
        s.enabled.autoFind = false;
        s.enabled.manual = false;
        // The domain panel's last-resort box keeps its state; the global catalog's follows reconnect.
        if (s.side == PanelSide::GlobalCatalog)
            s.enabled.lastResort = false;
        s.saveEnabled = true;
        return;
    }
    s.enabled.autoFind = true;
    autoFindClick(s);
}

void modeClick(PanelState& s)
{
    s.enabled.timePicker = s.atTime;
    s.enabled.minutes = !s.atTime;
    s.saveEnabled = true;
}

void setReconnect(PanelState& s, bool on)
{
    if (s.reconnect == on)
        return;
    s.reconnect = on;
    reconnectClick(s);
}

void setAutoFind(PanelState& s, bool on)
{
    if (s.autoFind == on)
        return;
    s.autoFind = on;
    autoFindClick(s);
}

void setLastResort(PanelState& s, bool on)
{
    if (s.lastResort == on)
        return;
    s.lastResort = on;
    s.saveEnabled = true;
}

void setSearchAllSites(PanelState& s, bool on)
{
    if (s.searchAllSites == on)
        return;
    s.searchAllSites = on;
    s.saveEnabled = true;
}

void selectMode(PanelState& s, bool atTime)
{
    s.atTime = atTime;
    modeClick(s);
}

void setText(PanelState& s, Text which, const QString& text)
{
    QString* field = nullptr;
    switch (which) {
    case Text::FailedConnections:
        field = &s.failedConnections;
        break;
    case Text::ManualPrimary:
        field = &s.manualPrimary;
        break;
    case Text::ManualSecondary:
        field = &s.manualSecondary;
        break;
    case Text::Minutes:
        field = &s.minutes;
        break;
    }
    if (*field == text)
        return;
    *field = text;
    s.saveEnabled = true;
}

void setTime(PanelState& s, const QTime& t)
{
    if (s.time == t)
        return;
    s.time = t;
    s.saveEnabled = true;
}

void resetToDefaults(PanelState& s)
{
    const bool dc = s.side == PanelSide::DomainController;
    setText(s, Text::FailedConnections, dc ? QStringLiteral("15") : QStringLiteral("2"));
    setText(s, Text::ManualPrimary, QString());
    setText(s, Text::ManualSecondary, QString());
    setAutoFind(s, true);
    setReconnect(s, true);
    selectMode(s, false);
    setText(s, Text::Minutes, QStringLiteral("0"));
    if (dc)
        setSearchAllSites(s, false);
}

} // namespace fw::PanelRules
