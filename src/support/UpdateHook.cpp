#include "support/UpdateHook.h"

#include "context/AppContext.h"
#include "env/RegistryApi.h"
#include "platform/RegistryStore.h"
#include "platform/Shell.h"

#include <QDir>

namespace fw {

namespace {
QString toolValue(const AppContext& ctx, const QString& name)
{
    return GetRegistryValue(ctx.registry(), HKEY_LOCAL_MACHINE_HIVE, regkeys::kTool, name, RegTypeText, QString())
        .toString()
        .trimmed();
}
} // namespace

QString updateSite(const AppContext& ctx)
{
    QString site = toolValue(ctx, QStringLiteral("UpdateSite"));
    if (site.isEmpty())
        site = QString::fromLatin1(kDefaultUpdateSite);
    while (site.endsWith(QLatin1Char('/')))
        site.chop(1);
    return site;
}

QString homePageAddress(const AppContext& ctx)
{
    return updateSite(ctx) + QString::fromLatin1(kHomePagePath);
}

QStringList RunBackgroundUpdateCheck(AppContext& ctx, const QString& homePage, const QString& extra)
{
    const QString script = toolValue(ctx, QStringLiteral("UpdateCheckScript"));
    if (script.isEmpty())
        return {};
    const QString program = QDir::isAbsolutePath(script) ? script : QDir(ctx.programFolder()).filePath(script);
    QStringList args = {AppContext::programVersion(), homePage};
    if (extra.size() >= 2)
        args.append(extra);
    ctx.shell().startProgram(program, args); // the program does not wait and ignores failures
    return args;
}

} // namespace fw
