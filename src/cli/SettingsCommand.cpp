#include "app/StartupGate.h"
#include "cli/CliSupport.h"
#include "context/AppContext.h"
#include "directory/NameValidation.h"
#include "log/ActivityLog.h"
#include "log/ErrorReport.h"
#include "platform/Sleeper.h"
#include "settings/PanelRules.h"
#include "settings/SettingsFill.h"
#include "settings/SettingsSaver.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "settings/TimeOfDay.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

namespace fw {
namespace {

// clang-format off
const char* const kDomainKeys[] = {"AdDomainObjectID", "DomainName", "CurrentDC", "ReconnectEnabled", "ReconnectAutoFind",
                                   "ReconnectSearchAllSites", "ReconnectLastResortAutoFind", "ReconnectFailureThreshold",
                                   "ManualDCPrimary", "ManualDCSecondary", "DoTotalResynchUsesRelative",
                                   "DoTotalResynchAtTime", "DoTotalResynchAfterMinutes", "ReconnectOnNextSynch"};
const char* const kGcKeys[] = {"SynchInterval", "CurrentGC", "ReconnectFailureThreshold", "DoTotalResynchUsesRelative",
                               "DoTotalResynchAtTime", "DoTotalResynchAfterMinutes", "ReconnectEnabled",
                               "ReconnectLastResortAutoFind", "ReconnectAutoFind", "ManualGCPrimary", "ManualGCSecondary",
                               "ReconnectOnNextSynch"};
// clang-format on

QList<QVariant> domainValues(const DomainSettings& d)
{
    // clang-format off
    return {d.objectId, d.domainName, d.currentDC, d.reconnectEnabled, d.reconnectAutoFind, d.reconnectSearchAllSites,
            d.reconnectLastResortAutoFind, d.reconnectFailureThreshold, d.manualDCPrimary, d.manualDCSecondary,
            d.doTotalResynchUsesRelative, d.doTotalResynchAtTime, d.doTotalResynchAfterMinutes, d.reconnectOnNextSynch};
    // clang-format on
}

QJsonValue jsonOf(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return QJsonValue(QJsonValue::Null);
    return DomainSettings::text(v);
}

QString plainOf(const QVariant& v)
{
    return v.isNull() || !v.isValid() ? QStringLiteral("(null)") : DomainSettings::text(v);
}

// The domains whose name matches (letter case ignored, as the database compares names).
QList<DomainSettings> domainsNamed(const QList<DomainSettings>& all, const QString& name)
{
    QList<DomainSettings> r;
    for (const DomainSettings& d : all) {
        if (d.domainName.compare(name, Qt::CaseInsensitive) == 0)
            r.append(d);
    }
    return r;
}

struct Target {
    bool gc = false;
    QString domain;
};

int chooseTarget(QCommandLineParser& p, const QCommandLineOption& domain, const QCommandLineOption& gc, CliEnv& env,
                 const QString& command, bool required, Target* t)
{
    if (p.isSet(domain) && p.isSet(gc)) {
        env.err << "ferrowind " << command << ": give --domain or --gc, not both\n";
        return ExitUsage;
    }
    if (required && !p.isSet(domain) && !p.isSet(gc)) {
        env.err << "ferrowind " << command << ": say what to change with --domain NAME or --gc\n";
        return ExitUsage;
    }
    t->gc = p.isSet(gc);
    t->domain = p.value(domain);
    return -1;
}

} // namespace

int runSettingsShow(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption domain(QStringLiteral("domain"), QStringLiteral("Show only this domain."), QStringLiteral("NAME"));
    const QCommandLineOption gc(QStringLiteral("gc"), QStringLiteral("Show only the global catalog settings."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    p.addOption(domain);
    p.addOption(gc);
    p.addOption(json);
    if (int rc = parseCommandLine(
            p, env, QStringLiteral("settings show"),
            QStringLiteral("Show the stored reconnect settings: the ADDomain columns of every domain (or of "
                           "one with --domain) and the global catalog configuration nodes (--gc). "
                           "The names shown are the KEYs that 'settings set' takes.\n"
                           "Exit status 0 when shown, 1 when the domain or a node is missing, 2 on a "
                           "usage or database error."));
        rc >= 0)
        return rc;
    Target t;
    if (int rc = chooseTarget(p, domain, gc, env, QStringLiteral("settings show"), false, &t); rc >= 0)
        return rc;

    AppContext& ctx = env.context();
    ctx.connectionString = StartupGate(ctx).connectionString();
    const SettingsStore store(ctx.databaseSession(), ctx.connectionString);
    const bool showDomains = !t.gc;
    const bool showGc = t.gc || t.domain.isEmpty();
    int rc = ExitOk;

    QList<DomainSettings> domains;
    if (showDomains) {
        Result<QList<DomainSettings>> read = store.readDomains();
        if (!read) {
            env.err << "ferrowind settings show: " << read.error().description << "\n";
            return ExitUsage;
        }
        domains = std::move(read).value();
        if (!t.domain.isEmpty()) {
            domains = domainsNamed(domains, t.domain);
            if (domains.isEmpty()) {
                env.err << "ferrowind settings show: there is no domain named '" << t.domain << "'\n";
                return ExitFailed;
            }
        }
        // A value its column cannot hold is no setting to show.
        for (const DomainSettings& d : domains) {
            if (const Result<void> ok = d.readable(); !ok) {
                env.err << "ferrowind settings show: domain " << d.domainName << ": " << ok.error().description << "\n";
                return ExitUsage;
            }
        }
    }
    const Result<ConfigurationSnapshot> readConfig = store.readConfiguration();
    if (!readConfig) {
        env.err << "ferrowind settings show: " << readConfig.error().description << "\n";
        return ExitUsage;
    }
    const ConfigurationSnapshot& config = *readConfig;
    const ConfigurationNode* dcInterval = config.find(settings_text::kDsadSyncInterval);

    QJsonObject root;
    if (showDomains) {
        QJsonArray arr;
        for (const DomainSettings& d : domains) {
            const QList<QVariant> values = domainValues(d);
            if (p.isSet(json)) {
                QJsonObject o;
                for (int i = 0; i < values.size(); ++i)
                    o[QLatin1String(kDomainKeys[i])] = jsonOf(values[i]);
                arr.append(o);
            } else {
                env.out << "Domain " << d.domainName << "\n";
                for (int i = 0; i < values.size(); ++i)
                    env.out << "  " << QString::fromLatin1(kDomainKeys[i]).leftJustified(28) << " " << plainOf(values[i]) << "\n";
            }
        }
        if (p.isSet(json)) {
            root[QStringLiteral("domains")] = arr;
            root[QStringLiteral("dcSynchInterval")] = dcInterval ? jsonOf(dcInterval->value) : QJsonValue(QJsonValue::Null);
        } else {
            env.out << "DC sync interval (" << settings_text::kDsadSyncInterval
                    << "): " << (dcInterval ? plainOf(dcInterval->value) : QStringLiteral("(missing)")) << "\n";
        }
    }
    if (showGc) {
        QJsonObject o;
        if (!p.isSet(json))
            env.out << "Global catalog (" << settings_text::kDsgcPrefix << "*)\n";
        for (const char* key : kGcKeys) {
            const ConfigurationNode* n = config.find(settings_text::kDsgcPrefix + QLatin1String(key));
            if (!n)
                rc = ExitFailed;
            if (p.isSet(json))
                o[QLatin1String(key)] = n ? jsonOf(n->value) : QJsonValue(QJsonValue::Undefined);
            else
                env.out << "  " << QString::fromLatin1(key).leftJustified(28) << " "
                        << (n ? plainOf(n->value) : QStringLiteral("(missing node)")) << "\n";
        }
        if (p.isSet(json))
            root[QStringLiteral("globalCatalog")] = o;
        if (rc != ExitOk)
            env.err << "ferrowind settings show: some global catalog nodes are missing\n";
    }
    if (p.isSet(json))
        printJson(env.out, QJsonDocument(root));
    return rc;
}

namespace {

// The panel setting a key changes; none for keys that are shown only or unknown.
std::optional<PanelRules::Setting> settingOfKey(const QString& key, PanelSide side)
{
    using PanelRules::Setting;
    const bool dc = side == PanelSide::DomainController;
    const struct {
        const char* key;
        Setting setting;
    } keys[] = {
        {"ReconnectEnabled", Setting::Reconnect},
        {"ReconnectAutoFind", Setting::AutoFind},
        {"ReconnectLastResortAutoFind", Setting::LastResort},
        {dc ? "ReconnectSearchAllSites" : nullptr, Setting::SearchAllSites},
        {"DoTotalResynchUsesRelative", Setting::Mode},
        {"ReconnectFailureThreshold", Setting::FailedConnections},
        {"DoTotalResynchAfterMinutes", Setting::Minutes},
        {"DoTotalResynchAtTime", Setting::AtTime},
        {dc ? "ManualDCPrimary" : "ManualGCPrimary", Setting::ManualPrimary},
        {dc ? "ManualDCSecondary" : "ManualGCSecondary", Setting::ManualSecondary},
    };
    for (const auto& k : keys) {
        if (k.key && key.compare(QLatin1String(k.key), Qt::CaseInsensitive) == 0)
            return k.setting;
    }
    return std::nullopt;
}

// Why the panel's save would leave `key` as stored, with what to add to the command; empty when it is saved.
QString notSavedText(const PanelState& s, const QString& key)
{
    using PanelRules::Kept;
    const std::optional<PanelRules::Setting> setting = settingOfKey(key, s.side);
    const std::optional<Kept> kept = setting ? PanelRules::keptBy(s, *setting) : std::nullopt;
    if (!kept)
        return {};
    switch (*kept) {
    case Kept::ReconnectOff:
        return QStringLiteral("%1 is not saved while automatic reconnect is off; set ReconnectEnabled=1 in the same command")
            .arg(key);
    case Kept::AutoFindOn:
        return QStringLiteral("%1 is not saved while automatic search is on; set ReconnectAutoFind=0 in the same command")
            .arg(key);
    case Kept::MinutesMode:
        return QStringLiteral("%1 is not saved while the full synchronization is delayed by minutes; set "
                              "DoTotalResynchUsesRelative=0 in the same command")
            .arg(key);
    case Kept::TimeOfDayMode:
        return QStringLiteral("%1 is not saved while the full synchronization is delayed until a time of day; set "
                              "DoTotalResynchUsesRelative=1 in the same command")
            .arg(key);
    case Kept::EmptySecondary:
        return QStringLiteral("%1 is not saved when it is empty (the stored secondary server stays); give a server name")
            .arg(key);
    }
    return {};
}

// What the command would have the panel save but the panel would not: keys its rules skip, and server names the
// window's fields refuse (in the fields' words). One text per key; none when everything asked for is saved.
QStringList refusals(const PanelState& s, const QList<std::pair<QString, QString>>& changes, const QString& domainName)
{
    using PanelRules::Setting;
    QStringList out;
    QStringList seen;
    for (const auto& [key, value] : changes) {
        const std::optional<Setting> setting = settingOfKey(key, s.side);
        if (seen.contains(key, Qt::CaseInsensitive) || !setting)
            continue;
        seen << key;
        if (const QString kept = notSavedText(s, key); !kept.isEmpty()) {
            out << kept;
        } else if (*setting == Setting::ManualPrimary || *setting == Setting::ManualSecondary) {
            const QString& name = *setting == Setting::ManualPrimary ? s.manualPrimary : s.manualSecondary;
            if (!name.isEmpty()) {
                if (const QString refused = manualServerRefusal(name, domainName); !refused.isEmpty())
                    out << key + QStringLiteral(": ") + refused;
            }
        }
    }
    return out;
}

// Applies one KEY=VALUE to the panel through the editing rules; returns an error text or empty.
QString applySetting(PanelState& s, const QString& key, const QString& value)
{
    using namespace PanelRules;
    const bool dc = s.side == PanelSide::DomainController;
    auto is = [&](const char* k) { return key.compare(QLatin1String(k), Qt::CaseInsensitive) == 0; };
    auto flag = [&](bool* out) -> bool {
        if (value == QLatin1String("0") || value == QLatin1String("1")) {
            *out = value == QLatin1String("1");
            return true;
        }
        return false;
    };
    bool on = false;
    const QString flagError = QStringLiteral("%1 takes 0 or 1, not '%2'").arg(key, value);
    if (is("ReconnectEnabled")) {
        if (!flag(&on))
            return flagError;
        setReconnect(s, on);
    } else if (is("ReconnectAutoFind")) {
        if (!flag(&on))
            return flagError;
        setAutoFind(s, on);
    } else if (is("ReconnectLastResortAutoFind")) {
        if (!flag(&on))
            return flagError;
        setLastResort(s, on);
    } else if (dc && is("ReconnectSearchAllSites")) {
        if (!flag(&on))
            return flagError;
        setSearchAllSites(s, on);
    } else if (is("DoTotalResynchUsesRelative")) {
        if (!flag(&on))
            return flagError;
        selectMode(s, !on);
    } else if (is("ReconnectFailureThreshold")) {
        setText(s, Text::FailedConnections, value);
    } else if (is("DoTotalResynchAfterMinutes")) {
        setText(s, Text::Minutes, value);
    } else if (is("DoTotalResynchAtTime")) {
        static const QRegularExpression hhmm(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
        static const QRegularExpression number(QStringLiteral("^\\d{1,4}$"));
        QTime t;
        if (const auto m = hhmm.match(value); m.hasMatch())
            t = QTime(m.captured(1).toInt(), m.captured(2).toInt());
        else if (number.match(value).hasMatch() && getTimeFromInteger(value.toInt()).problem == TimeFromInteger::Problem::None)
            t = getTimeFromInteger(value.toInt()).time;
        if (!t.isValid())
            return QStringLiteral(
                       "DoTotalResynchAtTime takes a time of day as HH:MM or as hours*100+minutes (0 to 2359), not '%1'")
                .arg(value);
        setTime(s, t);
    } else if (is(dc ? "ManualDCPrimary" : "ManualGCPrimary")) {
        setText(s, Text::ManualPrimary, value.trimmed()); // as the field trims it
    } else if (is(dc ? "ManualDCSecondary" : "ManualGCSecondary")) {
        setText(s, Text::ManualSecondary, value.trimmed());
    } else if (is("AdDomainObjectID") || is("DomainName") || is("CurrentDC") || is("ReconnectOnNextSynch") ||
               is("SynchInterval") || is("CurrentGC")) {
        return QStringLiteral("%1 is shown only; it cannot be set here").arg(key);
    } else {
        return QStringLiteral("unknown setting '%1' (see 'ferrowind settings show' for the names)").arg(key);
    }
    return {};
}

} // namespace

int runSettingsSet(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption domain(QStringLiteral("domain"), QStringLiteral("Change this domain's settings."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption gc(QStringLiteral("gc"), QStringLiteral("Change the global catalog settings."));
    const QCommandLineOption yes(
        QStringLiteral("yes"),
        QStringLiteral("Accept the warnings about disabling automatic reconnect or automatic server search."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print the outcome as JSON."));
    p.addOption(domain);
    p.addOption(gc);
    p.addOption(yes);
    p.addOption(json);
    p.addPositionalArgument(QStringLiteral("KEY=VALUE"),
                            QStringLiteral("A setting as 'settings show' names it, and its new value. "
                                           "Flags take 0 or 1; DoTotalResynchAtTime takes HH:MM or HHMM."));
    if (int rc = parseCommandLine(p, env, QStringLiteral("settings set"),
                                  QStringLiteral("Change reconnect settings as the settings panels do: the stored settings "
                                                 "with the given changes are saved by the panels' rules (the two risky "
                                                 "choices need --yes, switching off the automatic server search needs a "
                                                 "manual primary server), and the save is written to a new activity log. "
                                                 "A key the panel would not save as things stand, or a server name its "
                                                 "fields refuse, is refused before anything is written. The save writes "
                                                 "nothing when someone else changed the settings after they were read, "
                                                 "and names the settings they changed.\n"
                                                 "Exit status 0 when saved, 1 when refused, changed by someone else or the "
                                                 "write failed, 2 on a usage or environment error."),
                                  1, -1);
        rc >= 0)
        return rc;
    Target t;
    if (int rc = chooseTarget(p, domain, gc, env, QStringLiteral("settings set"), true, &t); rc >= 0)
        return rc;
    QList<std::pair<QString, QString>> changes;
    for (const QString& a : p.positionalArguments()) {
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            env.err << "ferrowind settings set: '" << a << "' is not KEY=VALUE\n";
            return ExitUsage;
        }
        changes.append({a.left(eq).trimmed(), a.mid(eq + 1)});
    }
    if (env.assumeYes)
        *env.assumeYes = p.isSet(yes);

    AppContext& ctx = env.context();
    // The checks the windows make before anything can be edited.
    StartupGate gate(ctx);
    if (gateRefuses(env, QStringLiteral("settings set"), gate))
        return ExitUsage;
    (void)gate.readTraceSetting(); // a value that does not fit leaves trace off, as in the window
    ctx.connectionString = gate.connectionString();
    const SettingsStore store(ctx.databaseSession(), ctx.connectionString);

    // The panel as the window would show it, filled from the database.
    PanelState state(t.gc ? PanelSide::GlobalCatalog : PanelSide::DomainController);
    QStringList notices;
    FillSinks sinks;
    sinks.message = [&](const QString& text) { notices << text; };
    sinks.failure = [&](const FwError& e, const QString& procedure) {
        notices << errorReportText(e, procedure, QStringLiteral("frmMain"));
    };
    const Result<ConfigurationSnapshot> readConfiguration = store.readConfiguration();
    if (!readConfiguration) {
        env.err << "ferrowind settings set: " << readConfiguration.error().description << "\n";
        return ExitUsage;
    }
    const ConfigurationSnapshot& config = *readConfiguration;
    if (config.rowCount() == 0) {
        env.err << "ferrowind settings set: " << settings_text::kConfigurationMissing << "\n";
        return ExitFailed;
    }
    DomainRef ref;
    DomainSettings readRow;
    ConfigurationSnapshot readConfig = config;
    if (t.gc) {
        if (!fillGcPanel(state, config, sinks)) {
            env.err << "ferrowind settings set: " << notices.join(QLatin1Char('\n')) << "\n";
            return ExitFailed;
        }
    } else {
        const Result<QList<DomainSettings>> all = store.readDomains();
        if (!all) {
            env.err << "ferrowind settings set: " << all.error().description << "\n";
            return ExitUsage;
        }
        const QList<DomainSettings> found = domainsNamed(*all, t.domain);
        if (found.size() != 1) {
            env.err << "ferrowind settings set: "
                    << (found.isEmpty() ? QStringLiteral("there is no domain named '%1'")
                                        : QStringLiteral("more than one domain is named '%1'"))
                           .arg(t.domain)
                    << "\n";
            return ExitFailed;
        }
        fillDomainPanel(state, found.first(), sinks);
        ref = {found.first().domainName, found.first().objectId};
        readRow = found.first();
    }
    for (const QString& n : notices)
        env.err << "ferrowind settings set: " << n << "\n";
    for (const auto& [key, value] : changes) {
        const QString problem = applySetting(state, key, value);
        if (!problem.isEmpty()) {
            env.err << "ferrowind settings set: " << problem << "\n";
            return ExitUsage;
        }
    }
    // Refused before anything is written or logged: a change the panel would drop must not be answered "Saved."
    if (const QStringList refused = refusals(state, changes, ref.name); !refused.isEmpty()) {
        for (const QString& r : refused)
            env.err << "ferrowind settings set: " << r << "\n";
        env.err << "ferrowind settings set: nothing was saved\n";
        if (p.isSet(json))
            printJson(env.out, QJsonDocument(QJsonObject{{QStringLiteral("saved"), false},
                                                         {QStringLiteral("outcome"), QStringLiteral("refused")},
                                                         {QStringLiteral("refused"), QJsonArray::fromStringList(refused)}}));
        return ExitFailed;
    }

    gate.startNewLog();
    GcSettingsSaver gcSaver(ctx);
    DcSettingsSaver dcSaver(ctx);
    const SaveOutcome outcome = t.gc ? gcSaver.save(state, readConfig, {}) : dcSaver.save(state, ref, readRow, {});
    ctx.log().FlushLogFile();
    const bool saved = outcome == SaveOutcome::Saved;
    // A log that could not be written is not named as if it were; the save's outcome stays what it was.
    const QString logFailure = ctx.log().failure();
    if (!logFailure.isEmpty())
        env.err << "ferrowind settings set: the activity log could not be written: " << logFailure << "\n";
    if (p.isSet(json)) {
        static const char* const names[] = {"saved", "declined", "refused", "notFound", "failed", "conflict"};
        QJsonObject o{{QStringLiteral("saved"), saved},
                      {QStringLiteral("outcome"), QLatin1String(names[static_cast<int>(outcome)])},
                      {QStringLiteral("log"), logFailure.isEmpty() ? QJsonValue(ctx.log().logPath()) : QJsonValue()},
                      {QStringLiteral("logError"), logFailure.isEmpty() ? QJsonValue() : QJsonValue(logFailure)}};
        if (outcome == SaveOutcome::Conflict)
            o[QStringLiteral("changed")] = QJsonArray::fromStringList(t.gc ? gcSaver.changedUnderneath()
                                                                           : dcSaver.changedUnderneath());
        printJson(env.out, QJsonDocument(o));
    }
    if (!saved) {
        env.err << "ferrowind settings set: nothing was saved\n";
        return ExitFailed;
    }
    if (!p.isSet(json))
        env.out << (logFailure.isEmpty() ? "Saved. Activity log: " + ctx.log().logPath() : QStringLiteral("Saved.")) << "\n";
    return ExitOk;
}
} // namespace fw
