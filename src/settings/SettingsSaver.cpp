#include "settings/SettingsSaver.h"

#include "context/AppContext.h"
#include "context/ProgramEnd.h"
#include "log/ActivityLog.h"
#include "log/ErrorReport.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"
#include "settings/PanelRules.h"
#include "settings/SettingsFill.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "settings/TimeOfDay.h"

#include <QRegularExpression>
#include <algorithm>

namespace fw {

namespace {

const QString kForm = QStringLiteral("frmMain");

// The global catalog nodes a save rests on (after the prefix): all that the panel edits.
const char* const kGcSettingNodes[] = {
    "ReconnectFailureThreshold", "DoTotalResynchUsesRelative",  "DoTotalResynchAtTime", "DoTotalResynchAfterMinutes",
    "ReconnectEnabled",          "ReconnectLastResortAutoFind", "ReconnectAutoFind",    "ManualGCPrimary",
    "ManualGCSecondary"};

// Leaves a procedure's "Exiting" line behind on every way out, unless the program was told to end on the way.
struct ProcedureTrace {
    ProcedureTrace(AppContext& ctx, QString name) : debug(ctx.debug()), end(ctx.programEnd()), procedure(std::move(name))
    {
        debug.write(QStringLiteral("Entering ") + procedure + QStringLiteral(" of Form frmMain"));
    }
    ~ProcedureTrace()
    {
        if (!end.requested())
            debug.write(QStringLiteral("Exiting ") + procedure + QStringLiteral(" of Form frmMain"));
    }
    DebugChannel& debug;
    const ProgramEnd& end;
    QString procedure;
};

// Checks the number fields that will be written; shows the refusal and answers false for a bad one.
bool numbersAcceptable(const PanelState& s, Prompter& prompter)
{
    if (!parseWholeNumber(s.failedConnections)) {
        prompter.inform(numberRefusedText(settings_text::kFieldFailedConnections, s.failedConnections));
        return false;
    }
    if (!s.atTime && !parseWholeNumber(s.minutes)) {
        prompter.inform(numberRefusedText(settings_text::kFieldMinutes, s.minutes));
        return false;
    }
    return true;
}

// The two risky choices; false when the save must end here.
bool riskyChoicesAccepted(const PanelState& s, Prompter& prompter, const QString& disableReconnect, const QString& noPrimary,
                          const QString& disableAutoFind, SaveOutcome* outcome)
{
    if (!s.reconnect && !prompter.confirm(disableReconnect)) {
        *outcome = SaveOutcome::Declined;
        return false;
    }
    if (!s.autoFind) {
        if (s.manualPrimary.isEmpty()) {
            prompter.inform(noPrimary);
            *outcome = SaveOutcome::Refused;
            return false;
        }
        if (!prompter.confirm(disableAutoFind)) {
            *outcome = SaveOutcome::Declined;
            return false;
        }
    }
    return true;
}

// What the domain save writes for a panel, in order, with its log lines. A number that is not acceptable is
// left out (the save refuses such a panel; the panel as filled may hold one).
struct DcPlan {
    QList<ColumnValue> values;
    QStringList lines;
};

DcPlan dcPlan(const PanelState& s)
{
    using PanelRules::saves;
    using PanelRules::Setting;
    DcPlan plan;
    QList<ColumnValue>& values = plan.values;
    QStringList& lines = plan.lines;
    values.append({DomainColumn::ReconnectSearchAllSites, s.searchAllSites ? 1 : 0});
    if (const auto n = parseWholeNumber(s.failedConnections))
        values.append({DomainColumn::ReconnectFailureThreshold, *n});
    if (saves(s, Setting::AtTime)) {
        const int t = integerFromTime(s.time);
        values.append({DomainColumn::DoTotalResynchUsesRelative, 0});
        values.append({DomainColumn::DoTotalResynchAtTime, t});
        lines << QStringLiteral("    DoTotalResyncUsesRelative = 0")
              << QStringLiteral("    DoToalResyncAtTime=") + QString::number(t);
    } else {
        if (const auto n = parseWholeNumber(s.minutes))
            values.append({DomainColumn::DoTotalResynchAfterMinutes, static_cast<double>(*n)});
        values.append({DomainColumn::DoTotalResynchUsesRelative, 1});
        lines << QStringLiteral("    DoTotalResyncUsesRelative = 1");
    }
    if (s.reconnect) {
        values.append({DomainColumn::ReconnectEnabled, 1});
        lines << QStringLiteral("    ReconnectEnabled = 1");
        if (s.autoFind) {
            values.append({DomainColumn::ReconnectAutoFind, 1});
            lines << QStringLiteral("    ReconnectAutoFind = 1");
        } else {
            values.append({DomainColumn::ReconnectAutoFind, 0});
            lines << QStringLiteral("    ReconnectAutoFind = 0");
            values.append({DomainColumn::ManualDCPrimary, s.manualPrimary});
            lines << QStringLiteral("    ManualDCPrimary=") + s.manualPrimary;
            if (saves(s, Setting::ManualSecondary)) {
                values.append({DomainColumn::ManualDCSecondary, s.manualSecondary});
                lines << QStringLiteral("    ManualDCSecondary=") + s.manualSecondary;
            }
        }
        values.append({DomainColumn::ReconnectLastResortAutoFind, s.lastResort ? 1 : 0});
        lines << (s.lastResort ? QStringLiteral("    ReconnectLastResortAutoFind=1")
                               : QStringLiteral("    ReconnectLastResortAutoFind=0"));
    } else {
        values.append({DomainColumn::ReconnectEnabled, 0});
        lines << QStringLiteral("    ReconnectEnabled = 0")
              << QStringLiteral("    Other settings for domain skipped since reconnect functionality disabled.");
    }
    return plan;
}

// The same for the global catalog save: the node writes in order and their log lines.
struct GcPlan {
    QList<NodeWrite> writes;
    QStringList lines;
};

GcPlan gcPlan(const PanelState& s)
{
    using PanelRules::saves;
    using PanelRules::Setting;
    GcPlan plan;
    QList<NodeWrite>& writes = plan.writes;
    QStringList& lines = plan.lines;
    const QString& prefix = settings_text::kDsgcPrefix;
    auto value = [&](const char* suffix, const QString& v) {
        writes.append({prefix + QLatin1String(suffix), v});
        lines << QStringLiteral("    ") + prefix + QLatin1String(suffix) + QLatin1Char('=') + v;
    };
    auto flag = [&](const char* suffix, bool on) {
        writes.append({prefix + QLatin1String(suffix), on ? QStringLiteral("1") : QStringLiteral("0")});
        lines << QStringLiteral("    ") + prefix + QLatin1String(suffix) + (on ? QStringLiteral("= 1") : QStringLiteral("= 0"));
    };
    if (const auto n = parseWholeNumber(s.failedConnections))
        value("ReconnectFailureThreshold", QString::number(*n));
    flag("DoTotalResynchUsesRelative", !s.atTime);
    if (saves(s, Setting::AtTime))
        value("DoTotalResynchAtTime", QString::number(integerFromTime(s.time)));
    else if (const auto n = parseWholeNumber(s.minutes))
        value("DoTotalResynchAfterMinutes", QString::number(*n));
    flag("ReconnectLastResortAutoFind", s.lastResort);
    flag("ReconnectEnabled", s.reconnect);
    if (saves(s, Setting::AutoFind)) {
        flag("ReconnectAutoFind", s.autoFind);
        if (saves(s, Setting::ManualPrimary)) {
            value("ManualGCPrimary", s.manualPrimary);
            if (saves(s, Setting::ManualSecondary))
                value("ManualGCSecondary", s.manualSecondary);
        }
    } else {
        lines << QStringLiteral("    Other settings for GC skipped since reconnect functionality disabled.");
    }
    return plan;
}

} // namespace

std::optional<qint64> parseWholeNumber(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d{1,10})\\s*$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const qint64 v = m.captured(1).toLongLong();
    if (v > 2147483647LL)
        return std::nullopt;
    return v;
}

QString numberRefusedText(const QString& field, const QString& text)
{
    return QStringLiteral("\"%1\" must be a whole number from 0 upwards, not \"%2\". Nothing was saved.").arg(field, text);
}

SaveOutcome DcSettingsSaver::save(const PanelState& s, const DomainRef& domain, const DomainSettings& read,
                                  const std::function<void()>& afterWrite)
{
    using PanelRules::saves;
    using PanelRules::Setting;
    m_changed.clear();
    ProcedureTrace trace(m_ctx, QStringLiteral("cmdDCSave_Click"));
    Prompter& prompter = m_ctx.prompter();
    ActivityLog& log = m_ctx.log();
    ErrorScope scope(QStringLiteral("cmdDCSave_Click"), kForm, OwnerKind::Form, {ErrorSink::MessageBox, ErrorSink::LogPlain},
                     {&m_ctx.debug(), &log, &prompter});

    if (!numbersAcceptable(s, prompter))
        return SaveOutcome::Refused;
    SaveOutcome outcome = SaveOutcome::Saved;
    if (!riskyChoicesAccepted(s, prompter, settings_text::kDcDisableReconnect, settings_text::kDcNoPrimary,
                              settings_text::kDcDisableAutoFind, &outcome))
        return outcome;

    log.WriteLog(QString(), true);
    log.WriteLog(QStringLiteral("Save pressed for Domain=") + domain.name, false);

    const DcPlan plan = dcPlan(s);
    const QStringList& lines = plan.lines;

    // The save rests on the row as it was read: all of it must still be stored. It writes what the administrator
    // changed: what differs from what the panel, as it was filled from that row, would have written.
    QList<ColumnValue> expected;
    for (const DomainColumn c : kDomainColumns)
        expected.append({c, read.column(c)});
    PanelState filled(PanelSide::DomainController);
    fillDomainPanel(filled, read, {});
    const QList<ColumnValue> before = dcPlan(filled).values;
    QList<ColumnValue> changes;
    for (const ColumnValue& cv : plan.values) {
        const auto same = [&](const ColumnValue& b) { return b.column == cv.column && sameStoredValue(b.value, cv.value); };
        if (std::none_of(before.begin(), before.end(), same))
            changes.append(cv);
    }
    WriteCheck check;
    const Result<void> saved =
        SettingsStore(m_ctx.databaseSession(), m_ctx.connectionString).changeDomain(domain.objectId, expected, changes, &check);
    if (!saved) {
        // Nothing was written: say so, and do not claim a save.
        scope.report(saved.error());
        return SaveOutcome::Failed;
    }
    if (check.matched != 1) {
        prompter.inform(settings_text::kDomainChangeMissing);
        return SaveOutcome::NotFound;
    }
    if (!check.changed.isEmpty()) {
        m_changed = check.changed;
        const QString text = settings_text::conflictText(QStringLiteral("domain ") + domain.name, m_changed);
        log.WriteLog(text, false);
        prompter.inform(text);
        return SaveOutcome::Conflict;
    }
    // The row is written: the lines say what it now holds.
    for (const QString& line : lines)
        log.WriteLog(line, false);
    if (afterWrite)
        afterWrite();
    // The reload may have ended the program: the row is saved, but nothing more is logged or shown.
    if (m_ctx.programEnd().requested())
        return SaveOutcome::Saved;
    m_ctx.log().WriteLog(settings_text::kDcSaved, false);
    prompter.inform(settings_text::kDcSaved);
    return SaveOutcome::Saved;
}

SaveOutcome GcSettingsSaver::save(const PanelState& s, ConfigurationSnapshot& read, const std::function<void()>& afterWrite)
{
    using PanelRules::saves;
    using PanelRules::Setting;
    m_changed.clear();
    ProcedureTrace trace(m_ctx, QStringLiteral("cmdGCSave_Click"));
    Prompter& prompter = m_ctx.prompter();
    ActivityLog& log = m_ctx.log();
    // A failed write is also shown in a box: reported only to the debugger and the log, the button seemed to do nothing.
    ErrorScope scope(QStringLiteral("cmdGCSave_Click"), kForm, OwnerKind::Form,
                     {ErrorSink::Debugger, ErrorSink::LogPlain, ErrorSink::MessageBox}, {&m_ctx.debug(), &log, &prompter});

    if (!numbersAcceptable(s, prompter))
        return SaveOutcome::Refused;
    SaveOutcome outcome = SaveOutcome::Saved;
    if (!riskyChoicesAccepted(s, prompter, settings_text::kGcDisableReconnect, settings_text::kGcNoPrimary,
                              settings_text::kGcDisableAutoFind, &outcome))
        return outcome;

    log.WriteLog(QString(), true);
    log.WriteLog(QStringLiteral("Save pressed for Global catalog server"), false);

    const GcPlan plan = gcPlan(s);
    const QStringList& lines = plan.lines;
    const QString& prefix = settings_text::kDsgcPrefix;

    // As the domain save: every settings node as read must still be stored; only nodes that differ are written.
    QList<ExpectedNode> expected;
    for (const char* suffix : kGcSettingNodes) {
        const ConfigurationNode* n = read.find(prefix + QLatin1String(suffix));
        expected.append({prefix + QLatin1String(suffix), n != nullptr, n ? n->value : QVariant()});
    }
    PanelState filled(PanelSide::GlobalCatalog);
    fillGcPanel(filled, read, {});
    const QList<NodeWrite> before = gcPlan(filled).writes;
    QList<NodeWrite> changes;
    for (const NodeWrite& w : plan.writes) {
        const auto same = [&](const NodeWrite& b) { return b.fullName == w.fullName && sameStoredValue(b.value, w.value); };
        if (std::none_of(before.begin(), before.end(), same))
            changes.append(w);
    }
    WriteCheck check;
    const Result<void> saved =
        SettingsStore(m_ctx.databaseSession(), m_ctx.connectionString).writeNodes(expected, changes, &check);
    if (!saved) {
        // The nodes were written together or not at all: none of them changed.
        scope.report(saved.error());
        return SaveOutcome::Failed;
    }
    if (!check.changed.isEmpty()) {
        for (const QString& name : check.changed)
            m_changed.append(name.mid(prefix.size()));
        const QString text = settings_text::conflictText(QStringLiteral("the global catalog"), m_changed);
        log.WriteLog(text, false);
        prompter.inform(text);
        return SaveOutcome::Conflict;
    }
    for (ConfigurationNode& n : read.nodes) {
        for (const NodeWrite& w : changes) {
            if (n.fullName == w.fullName)
                n.value = w.value;
        }
    }
    for (const QString& line : lines)
        log.WriteLog(line, false);
    if (afterWrite)
        afterWrite();
    log.WriteLog(settings_text::kGcSaved, false);
    prompter.inform(settings_text::kGcSaved);
    return SaveOutcome::Saved;
}

} // namespace fw
