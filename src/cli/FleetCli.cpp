#include "cli/FleetCli.h"

#include "app/StartupGate.h"
#include "context/AppContext.h"
#include "db/DatabaseSession.h"
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

std::function<MetricsScrape()> readForScrape(AppContext& ctx, std::optional<Deadline> probeBy)
{
    QElapsedTimer timer;
    timer.start();
    // Each scrape is an operation of its own on the connection the scrapes keep: its own budget, and a connection
    // the server dropped since the last scrape opened again.
    ctx.databaseSession().startOperation();
    FleetState state = readFleetForCli(ctx);
    std::shared_ptr<DcLocatorBackend> locator;
    if (probeBy && state.complete)
        locator = ctx.seams().locator;
    return [timer, state = std::move(state), locator, probeBy] {
        MetricsScrape s;
        s.state = state;
        std::optional<QList<DcReachability>> probe;
        if (locator) {
            const Deadline deadline(std::min(probeBy->remainingMs(), Deadline::kVerdictMs - Deadline::kReserveMs));
            QStringList names;
            for (const FleetDomain& d : s.state.domains)
                names.append(d.name);
            const QList<DcLookupResult> found = locateEach(locator, names, deadline);
            probe.emplace();
            for (qsizetype i = 0; i < names.size(); ++i)
                probe->append({names[i], found[i].error == dcerr::Ok, s.state.domains[i].id});
        }
        s.page = metricsText(s.state, {AppContext::programVersion(), AppContext::sourceRevision()}, timer.nsecsElapsed() / 1e9,
                             probe);
        return s;
    };
}

MetricsScrape scrapeMetrics(AppContext& ctx)
{
    return readForScrape(ctx)();
}

} // namespace fw
