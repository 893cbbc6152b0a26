#pragma once
#include "monitor/FleetState.h"


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

} // namespace fw
