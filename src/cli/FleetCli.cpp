#include "cli/FleetCli.h"

#include "app/StartupGate.h"
#include "context/AppContext.h"
#include "directory/LocateEach.h"
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

MetricsScrape scrapeMetrics(AppContext& ctx, std::optional<std::chrono::milliseconds> probeWithin)
{
    QElapsedTimer timer;
    timer.start();
    MetricsScrape s;
    s.state = readFleetForCli(ctx);
    std::optional<QList<DcReachability>> probe;
    if (probeWithin && s.state.complete) {
        // What reading the database left of the scrape's time, but never more than one verdict.
        const int left = static_cast<int>(probeWithin->count() - timer.elapsed());
        const Deadline deadline(std::min(left, Deadline::kVerdictMs - Deadline::kReserveMs));
        QStringList names;
        for (const FleetDomain& d : s.state.domains)
            names.append(d.name);
        const QList<DcLookupResult> found = locateEach(ctx.seams().locator, names, deadline);
        probe.emplace();
        for (qsizetype i = 0; i < names.size(); ++i)
            probe->append({names[i], found[i].error == dcerr::Ok});
    }
    s.page = metricsText(s.state, AppContext::programVersion(), timer.nsecsElapsed() / 1e9, probe);
    return s;
}

} // namespace fw
