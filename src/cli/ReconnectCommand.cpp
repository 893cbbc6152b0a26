#include "app/StartupGate.h"
#include "cli/CliSupport.h"
#include "context/AppContext.h"
#include "directory/ForcedReconnect.h"
#include "directory/WaitUi.h"
#include "settings/SettingsStore.h"

namespace fw {
namespace {

// Prints the countdown of the pause on standard error.
class CliWait final : public WaitUi {
public:
    explicit CliWait(QTextStream& err) : m_err(err) {}
    void countdown(int secondsLeft) override
    {
        if (secondsLeft > 0)
            m_err << "\rwaiting for the connector: " << secondsLeft << " s " << Qt::flush;
        else
            m_err << "\r" << QString(40, QLatin1Char(' ')) << "\r" << Qt::flush;
    }

private:
    QTextStream& m_err;
};

} // namespace

int runReconnect(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption domain(QStringLiteral("domain"), QStringLiteral("Reconnect the domain connector of this domain."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption gc(QStringLiteral("gc"), QStringLiteral("Reconnect the global catalog connector."));
    p.addOptions({domain, gc});
    if (int rc = parseCommandLine(
            p, env, QStringLiteral("reconnect"),
            QStringLiteral("Force Velmora's directory connector to reconnect, as the settings tool's Force "
                           "Reconnect buttons do: mark the request in the database, signal the connector through "
                           "the command configured as ConnectorControlCommand, wait (12 s for a domain, 10 s for "
                           "the global catalog) and signal it again.\n"
                           "Exit status 1 when the domain is unknown or a step fails, 2 when the installation is refused as the "
                           "settings tool refuses it (version, connector, failover role)."));
        rc >= 0)
        return rc;
    if (p.isSet(domain) == p.isSet(gc)) {
        env.err << "ferrowind reconnect: give exactly one of --domain NAME and --gc\n";
        return ExitUsage;
    }
    AppContext& ctx = env.context();
    // The Force Reconnect buttons sit on a main window that passed the gate: so does the command.
    StartupGate gate(ctx);
    if (gateRefuses(env, QStringLiteral("reconnect"), gate))
        return ExitUsage;
    ctx.connectionString = gate.connectionString();
    CliWait wait(env.err);
    // The window's reload has nothing to refill here.
    ForcedReconnect fr(ctx, wait, {});
    ForcedReconnect::Outcome outcome;
    QString done;
    if (p.isSet(gc)) {
        outcome = fr.cmdGCReconnect_Click();
    } else {
        const Result<QList<DomainSettings>> all = SettingsStore(ctx.databaseSession(), ctx.connectionString).readDomains();
        if (!all) {
            env.err << "ferrowind reconnect: " << all.error().description << "\n";
            return ExitUsage;
        }
        QList<DomainSettings> found;
        for (const DomainSettings& d : *all)
            if (d.domainName.compare(p.value(domain), Qt::CaseInsensitive) == 0)
                found.append(d);
        if (found.size() != 1) {
            env.err << "ferrowind reconnect: " << (found.isEmpty() ? "there is no domain named '" : "several domains are named '")
                    << p.value(domain) << "'\n";
            return ExitFailed;
        }
        outcome = fr.cmdDCForceReconnect_Click(1, found.first().currentDC.toString(), found.first().objectId);
    }
    // The messages went to standard error through the prompter.
    return outcome == ForcedReconnect::Outcome::Initiated ? ExitOk : ExitFailed;
}
} // namespace fw
