#include "settings/SettingsSaver.h"

#include "context/AppContext.h"
#include "context/ProgramEnd.h"
#include "log/ActivityLog.h"
#include "log/ErrorReport.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "settings/TimeOfDay.h"

#include <QRegularExpression>

namespace fw {

namespace {

const QString kForm = QStringLiteral("frmMain");

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
bool riskyChoicesAccepted(const PanelState& s, Prompter& prompter, const QString& disableReconnect,
                          const QString& noPrimary, const QString& disableAutoFind, SaveOutcome* outcome)
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

SaveOutcome DcSettingsSaver::save(const PanelState& s, const DomainRef& domain, const std::function<void()>& afterWrite)
{
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

    QList<ColumnValue> values;
    QStringList lines;
    values.append({DomainColumn::ReconnectSearchAllSites, s.searchAllSites ? 1 : 0});
    values.append({DomainColumn::ReconnectFailureThreshold, *parseWholeNumber(s.failedConnections)});
    if (s.atTime) {
        const int t = integerFromTime(s.time);
        values.append({DomainColumn::DoTotalResynchUsesRelative, 0});
        values.append({DomainColumn::DoTotalResynchAtTime, t});
        lines << QStringLiteral("    DoTotalResyncUsesRelative = 0") << QStringLiteral("    DoToalResyncAtTime=") + QString::number(t);
    } else {
        values.append({DomainColumn::DoTotalResynchAfterMinutes, static_cast<double>(*parseWholeNumber(s.minutes))});
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
            if (!s.manualSecondary.isEmpty()) {
                values.append({DomainColumn::ManualDCSecondary, s.manualSecondary});
                lines << QStringLiteral("    ManualDCSecondary=") + s.manualSecondary;
            }
        }
        values.append({DomainColumn::ReconnectLastResortAutoFind, s.lastResort ? 1 : 0});
        lines << (s.lastResort ? QStringLiteral("    ReconnectLastResortAutoFind=1") : QStringLiteral("    ReconnectLastResortAutoFind=0"));
    } else {
        values.append({DomainColumn::ReconnectEnabled, 0});
        lines << QStringLiteral("    ReconnectEnabled = 0")
              << QStringLiteral("    Other settings for domain skipped since reconnect functionality disabled.");
    }

    int matched = 0;
    const FwError err = SettingsStore(m_ctx.connectionString).changeDomain(domain.objectId, values, &matched);
    if (err) {
        // Nothing was written: say so, and do not claim a save.
        scope.report(err);
        return SaveOutcome::Failed;
    }
    if (matched != 1) {
        prompter.inform(settings_text::kDomainChangeMissing);
        return SaveOutcome::NotFound;
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

SaveOutcome GcSettingsSaver::save(const PanelState& s, const std::function<void()>& afterWrite)
{
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

    QList<NodeWrite> writes;
    QStringList lines;
    const QString& prefix = settings_text::kDsgcPrefix;
    auto value = [&](const char* suffix, const QString& v) {
        writes.append({prefix + QLatin1String(suffix), v});
        lines << QStringLiteral("    ") + prefix + QLatin1String(suffix) + QLatin1Char('=') + v;
    };
    auto flag = [&](const char* suffix, bool on) {
        writes.append({prefix + QLatin1String(suffix), on ? QStringLiteral("1") : QStringLiteral("0")});
        lines << QStringLiteral("    ") + prefix + QLatin1String(suffix) + (on ? QStringLiteral("= 1") : QStringLiteral("= 0"));
    };
    value("ReconnectFailureThreshold", QString::number(*parseWholeNumber(s.failedConnections)));
    flag("DoTotalResynchUsesRelative", !s.atTime);
    if (s.atTime)
        value("DoTotalResynchAtTime", QString::number(integerFromTime(s.time)));
    else
        value("DoTotalResynchAfterMinutes", QString::number(*parseWholeNumber(s.minutes)));
    flag("ReconnectLastResortAutoFind", s.lastResort);
    flag("ReconnectEnabled", s.reconnect);
    if (s.reconnect) {
        flag("ReconnectAutoFind", s.autoFind);
        if (!s.autoFind) {
            value("ManualGCPrimary", s.manualPrimary);
            if (!s.manualSecondary.isEmpty())
                value("ManualGCSecondary", s.manualSecondary);
        }
    } else {
        lines << QStringLiteral("    Other settings for GC skipped since reconnect functionality disabled.");
    }

    const FwError err = SettingsStore(m_ctx.connectionString).writeNodes(writes);
    if (err) {
        // The nodes were written together or not at all: none of them changed.
        scope.report(err);
        return SaveOutcome::Failed;
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
