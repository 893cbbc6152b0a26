#pragma once
#include <QString>

namespace fw {

// The page of a scrape as the server answers it: the time it reports is the server's, from the scrape's
// request to its page, so that a wait for a read already in progress counts.
QString withScrapeDuration(QString page, double seconds);

} // namespace fw
