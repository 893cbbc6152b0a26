#pragma once
#include "directory/Deadline.h"
#include "monitor/FleetState.h"

#include <functional>
#include <optional>

namespace fw {

class AppContext;

// Sets the context up as start-up would (installed version, connection string) and reads the fleet state.
FleetState readFleetForCli(AppContext& ctx);

// One scrape: the state read afresh and rendered as the metrics page.
struct MetricsScrape {
    FleetState state;
    QString page;
};
MetricsScrape scrapeMetrics(AppContext& ctx);

// A scrape in two parts: this reads the state (it needs the context, so one thread at a time) and returns
// the rest, which needs nothing of the context and may run on any thread. With `probeBy`, the rest also
// locates a domain controller of each domain, all at once, by that deadline (never longer than one
// verdict), and the page tells which domains answered.
std::function<MetricsScrape()> readForScrape(AppContext& ctx, std::optional<Deadline> probeBy = std::nullopt);

} // namespace fw
