#include "cli/CliSupport.h"
#include "context/AppContext.h"
#include "support/UpdateCheck.h"
#include "support/UpdateHook.h"

#include <QJsonObject>

namespace fw {

int runUpdateCheck(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    p.addOption(json);
    if (int rc = parseCommandLine(p, env, QStringLiteral("update-check"),
                                  QStringLiteral("Ask the tool's web site for the latest published version of the settings "
                                                 "tool and whether it is newer than this one. The site is the registry "
                                                 "value UpdateSite under the tool's key (default %1). Nothing from the "
                                                 "site is opened or run. Exit status 1 when the site cannot be reached "
                                                 "or does not list the tool.")
                                      .arg(QString::fromLatin1(kDefaultUpdateSite)));
        rc >= 0)
        return rc;

    AppContext& ctx = env.context();
    const QString homePage = homePageAddress(ctx);
    const QString running = AppContext::programVersion();
    const LatestVersionLookup latest = lookupLatestVersion(ctx, homePage, QString());
    const bool found = !latest.comparable.isEmpty();
    const bool newer = found && compareComparableVersions(PadVersionString(running).valueOr(QString()), latest.comparable) < 0;

    if (p.isSet(json)) {
        QJsonObject o;
        o[QStringLiteral("running")] = running;
        o[QStringLiteral("homePage")] = homePage;
        o[QStringLiteral("downloadList")] = latest.listAddress;
        o[QStringLiteral("reachable")] = found;
        o[QStringLiteral("latest")] = found ? QJsonValue(latest.published) : QJsonValue();
        o[QStringLiteral("newer")] = newer;
        if (!found)
            o[QStringLiteral("error")] = latest.error.description;
        printJson(env.out, QJsonDocument(o));
    } else {
        env.out << "Running version: " << running << "\n";
        if (found) {
            env.out << "Latest published version: " << latest.published << "\n";
            env.out << (newer ? QStringLiteral("A newer version is available: %1\n").arg(homePage)
                              : QStringLiteral("This is the most up to date version.\n"));
        } else {
            env.err << "ferrowind update-check: the latest version could not be found: " << latest.error.description << "\n";
        }
    }
    return found ? ExitOk : ExitFailed;
}
} // namespace fw
