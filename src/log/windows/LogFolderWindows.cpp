#include "log/ActivityLog.h"

#include "log/LogFolder.h"

#include <QDir>

namespace fw {

ActivityLog::Place ActivityLog::Place::ofThisProcess(const QString& programFolder)
{
    Place p;
    p.programFolder = programFolder;
    p.localAppData = qEnvironmentVariable("LOCALAPPDATA");
    return p;
}

QString ActivityLog::chooseLogsDir(const Place& place)
{
    // A copy run from a share or a desk folder keeps its logs with it; one under Program Files cannot write there
    // (without elevation) and writes into the user's own local application data.
    if (const QString beside = writableLogsBeside(place.programFolder); !beside.isEmpty())
        return beside;
    if (place.localAppData.isEmpty() || !QDir::isAbsolutePath(place.localAppData))
        return QString();
    return QDir::toNativeSeparators(QDir(place.localAppData).filePath(QStringLiteral("Ferrowind/logs")));
}

} // namespace fw
