#pragma once
#include <QList>
#include <QStringList>
#include <QPair>
#include <QString>
#include <optional>

namespace fw {

struct FleetState;

using MetricLabels = QList<QPair<QString, QString>>;

// Builds a page of the Prometheus text exposition format 0.0.4: each family once, with its HELP and TYPE
// before its samples, label values and help texts escaped as the format requires.
class ExpositionWriter {
public:
    void family(const QString& name, const QString& help, const QString& type = QStringLiteral("gauge"));
    void sample(const QString& name, const MetricLabels& labels, double value);
    void sample(const QString& name, double value) { sample(name, {}, value); }
    const QString& text() const { return m_text; }

    // Backslash, double quote and line feed escaped.
    static QString escapeLabelValue(const QString& v);

private:
    QString m_text;
};

struct DcReachability {
    QString domain;
    bool reachable = false;
    QString domainId;
};

// The page for one scrape. When the state was not read completely only ferrowind_up (0), the parts
// that failed (ferrowind_up_failure) and the scrape's own duration are given, so that no stale or
// partial value looks current. Per-domain series carry the domain's id beside its name, so that two
// domains of the same name stay two series.
// The parts the page reports as not read (ferrowind_up 0): none when the state is complete and believable.
QStringList metricsFailures(const FleetState& state);

// What ferrowind_build_info tells of the program: its version and the commit it was built from.
struct ProgramBuild {
    QString version;
    QString revision;
};

QString metricsText(const FleetState& state, const ProgramBuild& build, double scrapeSeconds,
                    const std::optional<QList<DcReachability>>& probe = std::nullopt);

// Content type of the page over HTTP.
inline const char* const kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

} // namespace fw
