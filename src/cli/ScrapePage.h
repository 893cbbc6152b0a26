#pragma once
#include <QMap>
#include <QString>

namespace fw {

// The page of a scrape as the server answers it: the time it reports is the server's, from the scrape's
// request to its page, so that a wait for a read already in progress counts.
QString withScrapeDuration(QString page, double seconds);

// The server's own families, added to each page: ferrowind_http_requests_total by status code (`answers`) and
// the process's resources under the names the Prometheus client libraries give them (process_*).
QString serverFamilies(const QMap<int, quint64>& answers);

} // namespace fw
