#include "settings/SettingsFill.h"

#include "log/Result.h"
#include "settings/PanelRules.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "settings/TimeOfDay.h"

#include <cmath>
#include <optional>

namespace fw {

namespace {

void say(const FillSinks& sinks, const QString& text)
{
    if (sinks.message)
        sinks.message(text);
}

void fail(const FillSinks& sinks, const FwError& e, const QString& procedure)
{
    if (sinks.failure)
        sinks.failure(e, procedure);
}

// The integer part of a stored number as a 16-bit value, or the error a conversion would raise.
Result<int> storedInteger(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return FwError::invalidUseOfNull();
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return FwError::typeMismatch();
    const double whole = std::trunc(d);
    if (whole < -32768 || whole > 32767)
        return FwError::overflow();
    return static_cast<int>(whole);
}

} // namespace

QTime timeForPicker(int value, const FillSinks& sinks)
{
    const TimeFromInteger r = getTimeFromInteger(value);
    if (r.problem == TimeFromInteger::Problem::OutOfRange)
        say(sinks, settings_text::kInvalidTime);
    else if (r.problem == TimeFromInteger::Problem::NotATime)
        fail(sinks, FwError::typeMismatch(), QStringLiteral("getTimeFromInteger"));
    return r.time;
}

void fillDomainPanel(PanelState& s, const DomainSettings& row, const FillSinks& sinks)
{
    using namespace PanelRules;
    const QString procedure = QStringLiteral("PopulateDomainSettings");
    // A flag that cannot be read is reported and leaves its box as it was.
    const auto withFlag = [&](const QVariant& v, const StoredColumn& c, auto&& apply) {
        const Result<bool> on = DomainSettings::flag(v, c);
        if (on)
            apply(*on);
        else
            fail(sinks, on.error(), procedure);
    };
    setText(s, Text::FailedConnections, DomainSettings::text(row.reconnectFailureThreshold));
    const Result<bool> relative = DomainSettings::flag(row.doTotalResynchUsesRelative, column::adDoTotalResynchUsesRelative);
    if (!relative) {
        fail(sinks, relative.error(), procedure);
    } else if (!*relative) {
        selectMode(s, true);
        if (const Result<int> v = storedInteger(row.doTotalResynchAtTime))
            setTime(s, timeForPicker(*v, sinks));
        else
            fail(sinks, v.error(), procedure);
    } else {
        selectMode(s, false);
        setText(s, Text::Minutes, DomainSettings::text(row.doTotalResynchAfterMinutes));
    }
    withFlag(row.reconnectEnabled, column::adReconnectEnabled, [&](bool on) { setReconnect(s, on); });
    withFlag(row.reconnectAutoFind, column::adReconnectAutoFind, [&](bool on) { setAutoFind(s, on); });
    withFlag(row.reconnectSearchAllSites, column::adReconnectSearchAllSites, [&](bool on) { setSearchAllSites(s, on); });
    setText(s, Text::ManualPrimary, DomainSettings::text(row.manualDCPrimary));
    setText(s, Text::ManualSecondary, DomainSettings::text(row.manualDCSecondary));
    withFlag(row.reconnectLastResortAutoFind, column::adReconnectLastResortAutoFind, [&](bool on) { setLastResort(s, on); });
    reconnectClick(s);
    s.saveEnabled = false;
}

bool fillGcPanel(PanelState& s, const ConfigurationSnapshot& config, const FillSinks& sinks)
{
    using namespace PanelRules;
    const QString& prefix = settings_text::kDsgcPrefix;
    // Looks a node up; a missing one shows its message followed by the full name.
    auto node = [&](const char* suffix, const QString& missing) -> const ConfigurationNode* {
        const QString name = prefix + QLatin1String(suffix);
        const ConfigurationNode* n = config.find(name);
        if (!n)
            say(sinks, missing + name);
        return n;
    };
    auto text = [](const ConfigurationNode* n) { return DomainSettings::text(n->value); };
    auto on = [](const ConfigurationNode* n) { return n->value.isNull() || n->value.toString() != QLatin1String("0"); };
    const QString& lower = settings_text::kNodeMissingLower;
    const QString& upper = settings_text::kNodeMissingUpper;

    const ConfigurationNode* n = node("SynchInterval", lower);
    if (!n)
        return false;
    s.syncInterval = text(n);
    if (!(n = node("CurrentGC", lower)))
        return false;
    s.currentGC = text(n);
    if (!(n = node("ReconnectFailureThreshold", lower)))
        return false;
    setText(s, Text::FailedConnections, text(n));
    if (!(n = node("DoTotalResynchUsesRelative", upper)))
        return false;
    if (!n->value.isNull() && n->value.toString() == QLatin1String("0")) {
        selectMode(s, true);
        if (!(n = node("DoTotalResynchAtTime", upper)))
            return false;
        if (const Result<int> v = storedInteger(n->value))
            setTime(s, timeForPicker(*v, sinks));
        else
            fail(sinks, v.error(), QStringLiteral("PopulateGCSettings"));
    } else {
        selectMode(s, false);
        if (!(n = node("DoTotalResynchAfterMinutes", upper)))
            return false;
        setText(s, Text::Minutes, text(n));
    }
    if (!(n = node("ReconnectEnabled", upper)))
        return false;
    setReconnect(s, on(n));
    if (!(n = node("ReconnectLastResortAutoFind", upper)))
        return false;
    setLastResort(s, on(n));
    if (!(n = node("ReconnectAutoFind", upper)))
        return false;
    setAutoFind(s, on(n));
    if (!(n = node("ManualGCPrimary", upper)))
        return false;
    setText(s, Text::ManualPrimary, text(n));
    if (!(n = node("ManualGCSecondary", upper)))
        return false;
    setText(s, Text::ManualSecondary, text(n));
    reconnectClick(s);
    return true;
}

} // namespace fw
