#include "cli/CommandTable.h"

#include "monitor/SyncCheck.h"

namespace fw {

// Each defined in its own *Command.cpp.
int runCheckSync(CliEnv& env);
int runDemoEnv(CliEnv& env);
int runHistory(CliEnv& env);
int runLocate(CliEnv& env);
int runMetrics(CliEnv& env);
int runReconnect(CliEnv& env);
int runServeMetrics(CliEnv& env);
int runSettingsShow(CliEnv& env);
int runSettingsSet(CliEnv& env);
int runStatus(CliEnv& env);
int runTestServer(CliEnv& env);
int runUpdateCheck(CliEnv& env);
int runVersion(CliEnv& env);

const QList<CliCommand>& commandTable()
{
    constexpr bool reads = true; // its settings come from the installation's registry file, whose problems it names
    constexpr bool own = false;  // it reads nothing of the installation, or names a missing registry file itself
    // A monitoring plugin's failures are UNKNOWN, an answer that could not be written included.
    constexpr int unknown = SyncCheckResult::Unknown;
    // name, its line in --help, function, what it reads, exit status when its answer could not be written
    static const QList<CliCommand> table{
        {"check-sync", "monitoring-plugin check of the synchronisation's age", runCheckSync, own, unknown},
        {"demo-env", "create a demo database and registry file", runDemoEnv, own, ExitUsage},
        {"history", "chart points of the DC or GC synchronisation history", runHistory, reads, ExitUsage},
        {"locate", "locate a domain controller (DNS SRV + netlogon ping)", runLocate, own, ExitUsage},
        {"metrics", "the state in the Prometheus text format", runMetrics, reads, ExitUsage},
        {"reconnect", "force the directory connector to reconnect", runReconnect, reads, ExitUsage},
        {"serve-metrics", "serve the metrics over HTTP for Prometheus", runServeMetrics, reads, ExitUsage},
        {"settings show", "show the stored reconnect settings", runSettingsShow, reads, ExitUsage},
        {"settings set", "change reconnect settings as the panels do", runSettingsSet, reads, ExitUsage},
        {"status", "state of the latest DC and GC synchronisation runs", runStatus, reads, ExitUsage},
        {"test-server", "test a domain controller or global catalog server", runTestServer, own, ExitUsage},
        {"update-check", "latest published version of the settings tool", runUpdateCheck, own, ExitUsage},
        {"version", "installed Velmora version and start-up checks", runVersion, reads, ExitUsage},
    };
    return table;
}

} // namespace fw
