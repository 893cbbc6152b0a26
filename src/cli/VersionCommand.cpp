#include "app/StartupGate.h"
#include "cli/CliSupport.h"
#include "context/AppContext.h"

#include <QJsonArray>
#include <QJsonObject>

namespace fw {

int runVersion(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    p.addOption(json);
    if (int rc = parseCommandLine(p, env, QStringLiteral("version"),
                                  QStringLiteral("Show the installed Velmora version and whether each start-up check lets "
                                                 "the settings tool run on this server. Exit status 1 when a check refuses."));
        rc >= 0)
        return rc;

    AppContext& ctx = env.context();
    StartupGate gate(ctx);
    struct Check {
        QString name;
        bool ok;
        QString detail;
    };
    QList<Check> checks;
    const bool versionOk = gate.checkVersion();
    checks.append({QStringLiteral("version"), versionOk,
                   versionOk ? QStringLiteral("4.0(3.100) or later") : startup_text::kVersionRefused});
    const bool connectorOk = gate.checkConnector();
    checks.append({QStringLiteral("connector"), connectorOk,
                   connectorOk ? QStringLiteral("an Active Directory connector") : startup_text::kConnectorRefused});
    const bool activeOk = gate.checkActive();
    checks.append(
        {QStringLiteral("failover"), activeOk, activeOk ? QStringLiteral("active server") : startup_text::kInactiveRefused});
    const Result<void> trace = gate.readTraceSetting();
    // Not a gate: the tool runs with trace off when the value does not fit.
    const bool statusTab = gate.statusTabAvailable();
    const bool allOk = versionOk && connectorOk && activeOk;

    if (p.isSet(json)) {
        QJsonObject o;
        o[QStringLiteral("tool")] = AppContext::programVersion();
        o[QStringLiteral("velmora")] = ctx.localVersion.Text;
        o[QStringLiteral("statusTab")] = statusTab;
        o[QStringLiteral("trace")] = !trace ? QJsonValue(QStringLiteral("overflow")) : QJsonValue(ctx.traceSetting);
        QJsonArray a;
        for (const Check& c : checks)
            a.append(QJsonObject{
                {QStringLiteral("check"), c.name}, {QStringLiteral("ok"), c.ok}, {QStringLiteral("detail"), c.detail}});
        o[QStringLiteral("checks")] = a;
        o[QStringLiteral("canRun")] = allOk;
        printJson(env.out, QJsonDocument(o));
    } else {
        env.out << "Ferrowind settings tool " << AppContext::programVersion() << "\n";
        env.out << "Installed Velmora version: " << ctx.localVersion.Text << "\n";
        for (const Check& c : checks)
            env.out << QStringLiteral("  %1 %2: %3\n").arg(c.ok ? "ok     " : "REFUSED", c.name.leftJustified(10), c.detail);
        env.out << "  Status tab: " << (statusTab ? "shown (8.0(0.85) or later)" : "hidden (before 8.0(0.85))") << "\n";
        env.out << "  Trace: "
                << (!trace ? QStringLiteral("value does not fit 16 bits (overflow), trace off")
                           : QString::number(ctx.traceSetting))
                << "\n";
    }
    return allOk ? ExitOk : ExitFailed;
}
} // namespace fw
