#pragma once
#include "monitor/FleetState.h"

#include <chrono>
#include <optional>

namespace fw {

class AppContext;

// Sets the context up as start-up would (installed version, connection string) and reads the fleet state.
FleetState readFleetForCli(AppContext& ctx);

// One scrape: the state read afresh and rendered as the metrics page. With `probeWithin`, a domain
// controller of each domain is also located, all at once, and the whole scrape (reading included) ends
// within that time; the page then tells which domains answered.
struct MetricsScrape {
    FleetState state;
    QString page;
};
MetricsScrape scrapeMetrics(AppContext& ctx, std::optional<std::chrono::milliseconds> probeWithin = std::nullopt);

} // namespace fw
