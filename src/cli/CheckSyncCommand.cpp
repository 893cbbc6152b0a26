#include "cli/CliSupport.h"
#include "cli/FleetCli.h"
#include "context/AppContext.h"
#include "monitor/SyncCheck.h"

namespace fw {
namespace {

// Monitoring systems read any exit status above 3 as UNKNOWN too, but a usage error must say so itself.
constexpr int kPluginUnknown = SyncCheckResult::Unknown;

std::optional<qint64> minutesOption(const QCommandLineParser& p, const QCommandLineOption& o, bool* ok)
{
    *ok = true;
    if (!p.isSet(o))
        return std::nullopt;
    const qint64 v = p.value(o).toLongLong(ok);
    if (!*ok || v <= 0) {
        *ok = false;
        return std::nullopt;
    }
    return v;
}

int runCheckSync(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption warning(QStringLiteral("warning"),
                                     QStringLiteral("WARNING when a side's newest finished run ended at least MIN minutes ago "
                                                    "(default: three sync intervals of that run)."),
                                     QStringLiteral("MIN"));
    const QCommandLineOption critical(QStringLiteral("critical"),
                                      QStringLiteral("CRITICAL when it ended at least MIN minutes ago (default: six sync "
                                                     "intervals)."),
                                      QStringLiteral("MIN"));
    p.addOptions({warning, critical});
    const int rc = parseCommandLine(p, env, QStringLiteral("check-sync"),
                                    QStringLiteral("Monitoring-plugin check of the age of the newest finished DC and GC "
                                                   "synchronisation runs, for Nagios, Icinga and Naemon. Prints one line "
                                                   "'FERROWIND OK|WARNING|CRITICAL|UNKNOWN - summary | perfdata' and exits "
                                                   "0, 1, 2 or 3. A database that cannot be read, a side without a finished "
                                                   "run and a usage error are UNKNOWN (3)."));
    if (rc == ExitOk)
        return rc;
    if (rc >= 0) {
        env.out << "FERROWIND UNKNOWN - usage error (see ferrowind check-sync --help)\n";
        return kPluginUnknown;
    }
    bool okWarn = false;
    bool okCrit = false;
    const std::optional<qint64> warn = minutesOption(p, warning, &okWarn);
    const std::optional<qint64> crit = minutesOption(p, critical, &okCrit);
    if (!okWarn || !okCrit) {
        env.out << "FERROWIND UNKNOWN - --warning and --critical take a positive whole number of minutes\n";
        return kPluginUnknown;
    }
    if (warn && crit && *warn > *crit) {
        env.out << "FERROWIND UNKNOWN - --warning (" << *warn << ") is above --critical (" << *crit << ")\n";
        return kPluginUnknown;
    }

    const SyncCheckResult r = SyncCheck::evaluate(readFleetForCli(env.context()), warn, crit);
    env.out << r.line << "\n";
    return r.status;
}

const CliRegistrar reg(QStringLiteral("check-sync"), QStringLiteral("monitoring-plugin check of the synchronisation's age"),
                       runCheckSync, CliRegistrar::Installation, kPluginUnknown);

} // namespace
} // namespace fw
