#include "app/PlatformSeams.h"
#include "cli/CliPrompter.h"
#include "cli/CliSupport.h"
#include "context/AppContext.h"
#include "directory/ServerTests.h"
#include "directory/WaitUi.h"
#include "env/WorkStationInfo.h"
#include "platform/DebugChannel.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

namespace fw {

int runTestServer(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption dc(QStringLiteral("dc"),
                                QStringLiteral("Test it as a domain controller (LDAP port 389, writable check)."));
    const QCommandLineOption gc(QStringLiteral("gc"), QStringLiteral("Test it as a global catalog server (port 3268)."));
    const QCommandLineOption domain(QStringLiteral("domain"),
                                    QStringLiteral("Domain whose controllers tell this computer's site (default: the domain this "
                                                   "computer belongs to)."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption source(QStringLiteral("source"), QStringLiteral("Local address to connect from."),
                                    QStringLiteral("ADDRESS"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    p.addOptions({dc, gc, domain, source, json});
    p.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("Fully qualified name of the server."));
    if (int rc = parseCommandLine(
            p, env, QStringLiteral("test-server"),
            QStringLiteral("Test a server with the settings tool's own Test button (the one beside the primary "
                           "manual server): bind to it through the directory (Kerberos ticket if there is one, else "
                           "anonymously), compare its site with this computer's site and, for a domain controller "
                           "that was found, ask it whether it is writable. Prints the window's messages, then the "
                           "details on indented lines. All of it within 5 seconds.\n"
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
    AppSeams& seams = ctx.seams();
    replaceDirectorySeams(seams, primary, from);

    // The window's message texts, on standard output (collected only, under --json).
    const bool asJson = p.isSet(json);
    QString discarded;
    QTextStream sink(&discarded);
    const bool no = false;
    auto cliPrompter = std::make_unique<CliPrompter>(asJson ? sink : env.out, no);
    cliPrompter->setEcho(seams.debug.get());
    CliPrompter& shown = *cliPrompter;
    std::unique_ptr<Prompter> prompter = std::move(cliPrompter);
    std::swap(seams.prompter, prompter);

    QElapsedTimer timer;
    timer.start();
    const bool asGc = p.isSet(gc);
    WaitUi inline_;
    ServerTests tests(ctx, inline_);
    QString field = server;
    const ServerTestOutcome o = asGc ? tests.cmdTestGCManualPrimary_Click(field) : tests.cmdTestDCManualPrimary_Click(field);
    const qint64 elapsed = timer.elapsed();
    std::swap(seams.prompter, prompter);

    const bool failed = !o.found || (o.writableChecked && !o.writable);
    if (asJson) {
        QJsonObject j;
        j[QStringLiteral("server")] = server;
        j[QStringLiteral("role")] = asGc ? QStringLiteral("gc") : QStringLiteral("dc");
        j[QStringLiteral("found")] = o.found;
        j[QStringLiteral("messages")] = QJsonArray::fromStringList(shown.shown);
        if (!o.found)
            j[QStringLiteral("detail")] = o.detail;
        else {
            j[QStringLiteral("serverSite")] = o.serverSite;
            j[QStringLiteral("localSite")] = o.localSite;
            j[QStringLiteral("sameSite")] = o.sameSite;
        }
        if (o.writableChecked)
            j[QStringLiteral("writable")] = o.writable;
        j[QStringLiteral("elapsedMs")] = elapsed;
        printJson(env.out, QJsonDocument(j));
    } else {
        // The details, on extra lines after the window's texts.
        if (!o.found)
            env.out << "  " << o.detail << "\n";
        else
            env.out << "  server site '" << o.serverSite << "', local site '" << o.localSite << "'\n";
        for (const QString& why : o.siteDetail)
            env.out << "  " << why << "\n";
        if (o.writableChecked && !o.writableDetail.isEmpty())
            env.out << "  " << o.writableDetail << "\n";
    }
    return failed ? ExitFailed : ExitOk;
}
} // namespace fw
