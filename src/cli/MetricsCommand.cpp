#include "cli/CliSupport.h"
#include "cli/FleetCli.h"
#include "cli/ReplaceFile.h"
#include "context/AppContext.h"
#include "monitor/MetricsText.h"

namespace fw {

int runMetrics(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Write FILE atomically (a temporary file in the same folder, then a rename) "
                                                   "instead of printing, for node_exporter's textfile collector."),
                                    QStringLiteral("FILE"));
    p.addOption(output);
    if (int rc = parseCommandLine(p, env, QStringLiteral("metrics"),
                                  QStringLiteral("Print the state of the directory synchronisation and the reconnect settings in "
                                                 "the Prometheus text format 0.0.4. Exit status 0 when the database was read "
                                                 "completely, 2 when it was not (the page then says ferrowind_up 0) or the "
                                                 "file could not be written."));
        rc >= 0)
        return rc;
    if (p.isSet(output) && p.value(output).isEmpty()) {
        env.err << "ferrowind metrics: --output needs a file name\n";
        return ExitUsage;
    }

    const MetricsScrape scrape = scrapeMetrics(env.context());
    const FleetState& state = scrape.state;
    const QByteArray page = scrape.page.toUtf8();

    if (p.isSet(output)) {
        if (const QString failure = replaceFile(p.value(output), page); !failure.isEmpty()) {
            env.err << "ferrowind metrics: cannot write " << p.value(output) << ": " << failure << "\n";
            return ExitUsage;
        }
    } else {
        env.out << QString::fromUtf8(page);
    }
    if (const QStringList failures = metricsFailures(state); !failures.isEmpty()) {
        env.err << "ferrowind metrics: not read: " << failures.join(QStringLiteral(", "))
                << (state.reason.isEmpty() ? QString() : QStringLiteral(" (") + state.reason.simplified() + ')') << "\n";
        return ExitUsage;
    }
    return ExitOk;
}
} // namespace fw
