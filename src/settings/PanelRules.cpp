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
    case Text::FailedConnections: field = &s.failedConnections; break;
    case Text::ManualPrimary: field = &s.manualPrimary; break;
    case Text::ManualSecondary: field = &s.manualSecondary; break;
    case Text::Minutes: field = &s.minutes; break;
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

std::optional<Kept> keptBy(const PanelState& s, Setting which)
{
    const bool dc = s.side == PanelSide::DomainController;
    switch (which) {
    case Setting::Reconnect:
    case Setting::Mode:
    case Setting::FailedConnections:
    case Setting::SearchAllSites: return std::nullopt;
    case Setting::AtTime: return s.atTime ? std::nullopt : std::optional<Kept>(Kept::MinutesMode);
    case Setting::Minutes: return s.atTime ? std::optional<Kept>(Kept::TimeOfDayMode) : std::nullopt;
    case Setting::AutoFind: return s.reconnect ? std::nullopt : std::optional<Kept>(Kept::ReconnectOff);
    case Setting::LastResort:
        // The global catalog writes its last-resort node whatever reconnect is; the domain save skips it.
        return s.reconnect || !dc ? std::nullopt : std::optional<Kept>(Kept::ReconnectOff);
    case Setting::ManualPrimary:
    case Setting::ManualSecondary:
        if (!s.reconnect)
            return Kept::ReconnectOff;
        if (s.autoFind)
            return Kept::AutoFindOn;
        if (which == Setting::ManualSecondary && s.manualSecondary.isEmpty())
            return Kept::EmptySecondary;
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace fw::PanelRules
