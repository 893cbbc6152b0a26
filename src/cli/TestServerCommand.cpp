#include "cli/CliSupport.h"
#include "context/AppContext.h"
#include "directory/CGetDcName.h"
#include "directory/LdapDirectory.h"
#include "directory/LinuxDcLocator.h"
#include "directory/NetlogonPacket.h"
#include "env/WorkStationInfo.h"

#include <QElapsedTimer>
#include <QJsonObject>

namespace fw {
namespace {

int runTestServer(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption dc(QStringLiteral("dc"), QStringLiteral("Test it as a domain controller (LDAP port 389, writable check)."));
    const QCommandLineOption gc(QStringLiteral("gc"), QStringLiteral("Test it as a global catalog server (port 3268)."));
    const QCommandLineOption domain(QStringLiteral("domain"),
                                    QStringLiteral("Domain whose controllers tell this computer's site (default: the domain this "
                                                   "computer belongs to)."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption source(QStringLiteral("source"), QStringLiteral("Local address to connect from."), QStringLiteral("ADDRESS"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    p.addOptions({dc, gc, domain, source, json});
    p.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("Fully qualified name of the server."));
    if (int rc = parseCommandLine(p, env, QStringLiteral("test-server"),
                                  QStringLiteral("Test a server the way the settings tool's Test buttons do: bind to it through the "
                                                 "directory (Kerberos ticket if there is one, else anonymously), compare its site with "
                                                 "this computer's site and, for a domain controller, ask it whether it is writable.\n"
                                                 "Exit status 1 when the server is not found, or is a domain controller that is not "
                                                 "writable."),
                                  1, 1);
        rc >= 0)
        return rc;
    if (p.isSet(dc) == p.isSet(gc)) {
        env.err << "ferrowind test-server: give exactly one of --dc and --gc\n";
        return ExitUsage;
    }
    const QString server = p.positionalArguments().first().trimmed();
    if (!server.contains(QLatin1Char('.'))) {
        env.err << "ferrowind test-server: You need to enter a fully qualified server name in the form of 'server.domain.com'\n";
        return ExitUsage;
    }
    QHostAddress from;
    if (p.isSet(source)) {
        from = QHostAddress(p.value(source));
        if (from.isNull()) {
            env.err << "ferrowind test-server: --source needs an IP address\n";
            return ExitUsage;
        }
    }
    AppContext& ctx = env.context();
    const QString localDomain = p.isSet(domain) ? p.value(domain) : ctx.workstation().Domain();
    auto primary = [localDomain] { return localDomain; };
    LocatorOptions lo;
    lo.sourceAddress = from;
    auto locator = std::make_shared<LinuxDcLocator>(lo, primary);
    DirectoryOptions dopt;
    dopt.sourceAddress = from;
    LdapDirectory directory(dopt, locator, primary);

    QElapsedTimer timer;
    timer.start();
    const bool asGc = p.isSet(gc);
    const BindResult b = directory.bind(asGc ? QStringLiteral("GC://%1:3268").arg(server) : QStringLiteral("LDAP://%1:389").arg(server));
    QString serverSite, localSite;
    bool sameSite = false;
    if (b.ok) {
        serverSite = directory.siteOfServer(server);
        localSite = directory.siteOfComputer(ctx.workstation().ComputerName());
        sameSite = serverSite.compare(localSite, Qt::CaseInsensitive) == 0;
    }
    bool writable = false;
    QString writableDetail;
    if (!asGc) {
        CGetDcName dcName(locator, CGetDcName::NoInitialLookup::Tag);
        dcName.setComputerName(server);
        dcName.Refresh();
        writable = dcName.LastError() == 0 && (static_cast<quint32>(dcName.FlagsOut()) & dsflag::Writable);
        if (dcName.LastError() != 0)
            writableDetail = dcName.LastErrorDetail();
    }
    const bool failed = !b.ok || (!asGc && !writable);
    if (p.isSet(json)) {
        QJsonObject o;
        o[QStringLiteral("server")] = server;
        o[QStringLiteral("role")] = asGc ? QStringLiteral("gc") : QStringLiteral("dc");
        o[QStringLiteral("found")] = b.ok;
        if (!b.ok)
            o[QStringLiteral("detail")] = b.error;
        else {
            o[QStringLiteral("authenticated")] = b.root.authenticated;
            o[QStringLiteral("serverSite")] = serverSite;
            o[QStringLiteral("localSite")] = localSite;
            o[QStringLiteral("sameSite")] = sameSite;
        }
        if (!asGc)
            o[QStringLiteral("writable")] = writable;
        o[QStringLiteral("elapsedMs")] = timer.elapsed();
        printJson(env.out, QJsonDocument(o));
    } else {
        if (!b.ok)
            env.out << (asGc ? "Server not found or not functioning as a global catalog server." : "Server not found or not functioning as a domain controller.")
                    << "\n  " << b.error << "\n";
        else if (sameSite)
            env.out << (asGc ? "Gobal catalog server found." : "Domain controller found.") << " Site: " << serverSite << "\n";
        else
            env.out << "WARNING: found, but not in the same site as this computer (server site '" << serverSite << "', local site '"
                    << localSite << "').\n";
        if (!asGc)
            env.out << (writable ? "Writable domain controller.\n" : "Non writable domain controller.\n");
        if (!asGc && !writableDetail.isEmpty())
            env.err << "ferrowind test-server: " << writableDetail << "\n";
    }
    return failed ? ExitFailed : ExitOk;
}

const CliRegistrar reg(QStringLiteral("test-server"), QStringLiteral("test a domain controller or global catalog server"), runTestServer);

} // namespace
} // namespace fw
