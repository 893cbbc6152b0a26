#include "support/HelpFile.h"

#include "context/AppContext.h"
#include "env/InstallLayout.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"
#include "platform/Shell.h"

#include <QDir>
#include <QFileInfo>

namespace fw {

namespace {
constexpr int kNoAssociation = 31;
}

QString helpFilePath(const AppContext& ctx)
{
    const QString name = QString::fromLatin1(kHelpFileName);
    const QString beside = QDir(ctx.programFolder()).filePath(name);
    if (QFileInfo(beside).isFile())
        return beside;
    const QString installed = QDir(installedDataFolder(ctx.programFolder())).filePath(name);
    if (QFileInfo(installed).isFile())
        return installed;
    return beside;
}

bool LaunchHelpFile(AppContext& ctx)
{
    const QString name = QString::fromLatin1(kHelpFileName);
    const QString path = helpFilePath(ctx);
    const Shell::Result r = ctx.shell().openDocument(path);
    if (r.ok)
        return true;
    ctx.debug().write(QStringLiteral("LaunchHelpFile: ") + r.message);
    if (r.code == kNoAssociation)
        ctx.prompter().inform(QStringLiteral("No program is currently associated to open this file type: ") + name);
    else
        ctx.prompter().inform(QStringLiteral("Unable to launch help file ") + name +
                              QStringLiteral(". Try opening the file manually in a browser. Error code returned is ") +
                              QString::number(r.code));
    return false;
}

} // namespace fw
