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
    constexpr bool reads = true; // its settings come from the installation's registry file
    constexpr bool own = false;  // it reads nothing of the installation, or names a missing registry itself
    static const QList<CliCommand> table{
        // A monitoring plugin's failures are UNKNOWN, a lost answer included.
        {QStringLiteral("check-sync"), QStringLiteral("monitoring-plugin check of the synchronisation's age"), runCheckSync, own,
         SyncCheckResult::Unknown},
        {QStringLiteral("demo-env"), QStringLiteral("create a demo database and registry file"), runDemoEnv, own, ExitUsage},
        {QStringLiteral("history"), QStringLiteral("chart points of the DC or GC synchronisation history"), runHistory, reads,
         ExitUsage},
        {QStringLiteral("locate"), QStringLiteral("locate a domain controller (DNS SRV + netlogon ping)"), runLocate, own, ExitUsage},
        {QStringLiteral("metrics"), QStringLiteral("the state in the Prometheus text format"), runMetrics, reads, ExitUsage},
        {QStringLiteral("reconnect"), QStringLiteral("force the directory connector to reconnect"), runReconnect, reads, ExitUsage},
        {QStringLiteral("serve-metrics"), QStringLiteral("serve the metrics over HTTP for Prometheus"), runServeMetrics, reads,
         ExitUsage},
        {QStringLiteral("settings show"), QStringLiteral("show the stored reconnect settings"), runSettingsShow, reads, ExitUsage},
        {QStringLiteral("settings set"), QStringLiteral("change reconnect settings as the panels do"), runSettingsSet, reads,
         ExitUsage},
        {QStringLiteral("status"), QStringLiteral("state of the latest DC and GC synchronisation runs"), runStatus, reads, ExitUsage},
        {QStringLiteral("test-server"), QStringLiteral("test a domain controller or global catalog server"), runTestServer, own,
         ExitUsage},
        {QStringLiteral("update-check"), QStringLiteral("latest published version of the settings tool"), runUpdateCheck, own,
         ExitUsage},
        {QStringLiteral("version"), QStringLiteral("installed Velmora version and start-up checks"), runVersion, reads, ExitUsage},
    };
    return table;
}

} // namespace fw
