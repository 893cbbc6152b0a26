#include "env/InstallLayout.h"

#include <QDir>

namespace fw {

bool isInstalledProgramFolder(const QString& programFolder)
{
    const QString folder = QDir::cleanPath(QDir(programFolder).absolutePath());
    return folder.startsWith(QLatin1String("/usr/"));
}

QString installedDataFolder(const QString& programFolder)
{
    return QDir::cleanPath(programFolder + QStringLiteral("/../share/ferrowind"));
}

} // namespace fw
