#include "cli/FleetCli.h"

#include "app/StartupGate.h"
#include "context/AppContext.h"
#include "monitor/MetricsText.h"

#include <QElapsedTimer>

namespace fw {

FleetState readFleetForCli(AppContext& ctx)
{
    StartupGate gate(ctx);
    gate.checkVersion(); // fills the installed version; the fleet tools report it rather than refuse
    ctx.connectionString = gate.connectionString();
    return readFleetState(ctx);
}

MetricsScrape scrapeMetrics(AppContext& ctx)
{
    QElapsedTimer timer;
    timer.start();
    MetricsScrape s;
    s.state = readFleetForCli(ctx);
    s.page = metricsText(s.state, AppContext::programVersion(), timer.nsecsElapsed() / 1e9);
    return s;
}

} // namespace fw
