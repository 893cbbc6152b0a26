#include "monitor/MetricsText.h"

#include "monitor/FleetState.h"

#include <cmath>

namespace fw {
namespace {

QString number(double v)
{
    if (std::isnan(v))
        return QStringLiteral("NaN");
    if (std::isinf(v))
        return v > 0 ? QStringLiteral("+Inf") : QStringLiteral("-Inf");
    if (v == std::floor(v) && std::fabs(v) < 9007199254740992.0)
        return QString::number(static_cast<qint64>(v));
    return QString::number(v, 'g', 15);
}

// Backslash and line feed always; the double quote only inside label values.
QString escaped(const QString& v, bool quote)
{
    QString out;
    out.reserve(v.size());
    for (const QChar c : v) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (quote && c == QLatin1Char('"'))
            out += QLatin1String("\\\"");
        else
            out += c;
    }
    return out;
}

QString sideLabel(SyncSide s)
{
    return s == SyncSide::DC ? QStringLiteral("dc") : QStringLiteral("gc");
}

} // namespace

QString ExpositionWriter::escapeLabelValue(const QString& v)
{
    return escaped(v, true);
}

void ExpositionWriter::family(const QString& name, const QString& help, const QString& type)
{
    m_text += QLatin1String("# HELP ") + name + QLatin1Char(' ') + escaped(help, false) + QLatin1Char('\n');
    m_text += QLatin1String("# TYPE ") + name + QLatin1Char(' ') + type + QLatin1Char('\n');
}

void ExpositionWriter::sample(const QString& name, const MetricLabels& labels, double value)
{
    m_text += name;
    if (!labels.isEmpty()) {
        m_text += QLatin1Char('{');
        for (qsizetype i = 0; i < labels.size(); ++i) {
            if (i)
                m_text += QLatin1Char(',');
            m_text += labels[i].first + QLatin1String("=\"") + escapeLabelValue(labels[i].second) + QLatin1Char('"');
        }
        m_text += QLatin1Char('}');
    }
    m_text += QLatin1Char(' ') + number(value) + QLatin1Char('\n');
}

QStringList metricsFailures(const FleetState& state)
{
    if (!state.complete)
        return state.failures.isEmpty() ? QStringList{QStringLiteral("database")} : state.failures;
    // A run that ended after now says the clocks disagree: its time would hide any staleness, so the page does
    // not pass it on as read (the exporter's own alert fires instead).
    QStringList failures;
    for (SyncSide s : {SyncSide::DC, SyncSide::GC})
        if (state.side(s).ageSeconds && *state.side(s).ageSeconds < 0)
            failures.append(sideLabel(s) + QStringLiteral(".syncEnd"));
    return failures;
}

QString metricsText(const FleetState& state, const ProgramBuild& build, double scrapeSeconds,
                    const std::optional<QList<DcReachability>>& probe)
{
    const QStringList failures = metricsFailures(state);
    const bool complete = failures.isEmpty();

    ExpositionWriter w;
    w.family(QStringLiteral("ferrowind_up"), QStringLiteral("1 when the Velmora database was read completely, else 0."));
    w.sample(QStringLiteral("ferrowind_up"), complete ? 1 : 0);
    if (!complete) {
        w.family(QStringLiteral("ferrowind_up_failure"),
                 QStringLiteral("While ferrowind_up is 0: the part that could not be read (value 1)."));
        for (const QString& part : failures)
            w.sample(QStringLiteral("ferrowind_up_failure"), {{QStringLiteral("part"), part}}, 1);
    }

    if (complete) {
        const SyncSide sides[] = {SyncSide::DC, SyncSide::GC};
        // One family per metric, each side a sample; a value the database does not hold is left out.
        const auto perSide = [&](const QString& name, const QString& help, auto valueOf) {
            w.family(name, help);
            for (SyncSide s : sides) {
                const std::optional<double> v = valueOf(state.side(s));
                if (v)
                    w.sample(name, {{QStringLiteral("side"), sideLabel(s)}}, *v);
            }
        };
        perSide(QStringLiteral("ferrowind_sync_in_progress"),
                QStringLiteral("1 while a synchronisation run of the side is going on."),
                [](const FleetSide& f) -> std::optional<double> { return f.inProgress ? 1 : 0; });
        perSide(QStringLiteral("ferrowind_sync_last_finished_timestamp_seconds"),
                QStringLiteral("Unix time the newest finished run of the side ended."),
                [](const FleetSide& f) -> std::optional<double> {
                    return f.lastFinishedEpoch ? std::optional<double>(*f.lastFinishedEpoch) : std::nullopt;
                });
        perSide(QStringLiteral("ferrowind_sync_last_duration_seconds"),
                QStringLiteral("How long the newest finished run of the side took."),
                [](const FleetSide& f) -> std::optional<double> {
                    return f.lastDurationSeconds ? std::optional<double>(*f.lastDurationSeconds) : std::nullopt;
                });
        perSide(QStringLiteral("ferrowind_sync_last_objects"),
                QStringLiteral("Objects the newest finished run of the side synchronised."),
                [](const FleetSide& f) -> std::optional<double> {
                    return f.hasFinishedRun ? std::optional<double>(f.lastObjects) : std::nullopt;
                });
        perSide(QStringLiteral("ferrowind_sync_interval_seconds"),
                QStringLiteral("SyncInterval of the newest finished run of the side."),
                [](const FleetSide& f) -> std::optional<double> {
                    return f.hasFinishedRun ? std::optional<double>(f.syncIntervalMinutes * 60.0) : std::nullopt;
                });

        w.family(QStringLiteral("ferrowind_domain_reconnect_enabled"),
                 QStringLiteral("1 when automatic reconnect is on for the domain."));
        for (const FleetDomain& d : state.domains)
            w.sample(QStringLiteral("ferrowind_domain_reconnect_enabled"),
                     {{QStringLiteral("domain"), d.name}, {QStringLiteral("domain_id"), d.id}}, d.reconnectEnabled ? 1 : 0);
        w.family(QStringLiteral("ferrowind_domain_info"), QStringLiteral("The domain's current domain controller (value 1)."));
        for (const FleetDomain& d : state.domains)
            w.sample(QStringLiteral("ferrowind_domain_info"),
                     {{QStringLiteral("domain"), d.name},
                      {QStringLiteral("domain_id"), d.id},
                      {QStringLiteral("current_dc"), d.currentDc}},
                     1);
        w.family(QStringLiteral("ferrowind_gc_reconnect_enabled"),
                 QStringLiteral("1 when automatic reconnect is on for the global catalog."));
        w.sample(QStringLiteral("ferrowind_gc_reconnect_enabled"), state.gcReconnectEnabled ? 1 : 0);
        if (probe) {
            w.family(QStringLiteral("ferrowind_dc_reachable"),
                     QStringLiteral("1 when a domain controller of the domain was located."));
            for (const DcReachability& r : *probe)
                w.sample(QStringLiteral("ferrowind_dc_reachable"),
                         {{QStringLiteral("domain"), r.domain}, {QStringLiteral("domain_id"), r.domainId}}, r.reachable ? 1 : 0);
        }
        w.family(QStringLiteral("ferrowind_build_info"),
                 QStringLiteral("Version and source revision of this tool, version of the installed Velmora (value 1)."));
        w.sample(QStringLiteral("ferrowind_build_info"),
                 {{QStringLiteral("version"), build.version},
                  {QStringLiteral("revision"), build.revision},
                  {QStringLiteral("velmora_version"), state.velmoraVersion}},
                 1);
    }

    w.family(QStringLiteral("ferrowind_scrape_duration_seconds"), QStringLiteral("Time taken to read the state for this page."));
    w.sample(QStringLiteral("ferrowind_scrape_duration_seconds"), scrapeSeconds);
    return w.text();
}

} // namespace fw
