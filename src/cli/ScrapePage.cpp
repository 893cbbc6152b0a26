#include "cli/ScrapePage.h"

#include "cli/ProcessFigures.h"
#include "monitor/MetricsText.h"

namespace fw {
namespace {

const QString kDuration = QStringLiteral("ferrowind_scrape_duration_seconds");

} // namespace

QString withScrapeDuration(QString page, double seconds)
{
    // The family the page came with (its HELP and TYPE lines and its sample) gives way to the server's.
    const qsizetype at = page.indexOf(QLatin1String("# HELP ") + kDuration + QLatin1Char(' '));
    if (at >= 0) {
        qsizetype end = at;
        for (int line = 0; line < 3 && end >= 0; ++line)
            end = page.indexOf(QLatin1Char('\n'), end) + 1;
        page.remove(at, (end > at ? end : page.size()) - at);
    }
    ExpositionWriter w;
    w.family(kDuration, QStringLiteral("Time from the scrape's request to this page, a wait for a read in progress included."));
    w.sample(kDuration, seconds);
    return page + w.text();
}

QString serverFamilies(const QMap<int, quint64>& answers)
{
    ExpositionWriter w;
    w.family(QStringLiteral("ferrowind_http_requests_total"), QStringLiteral("Answers the server gave, by HTTP status code."),
             QStringLiteral("counter"));
    for (auto it = answers.cbegin(); it != answers.cend(); ++it)
        w.sample(QStringLiteral("ferrowind_http_requests_total"), {{QStringLiteral("code"), QString::number(it.key())}},
                 static_cast<double>(it.value()));
    processFamilies(w);
    return w.text();
}

} // namespace fw
