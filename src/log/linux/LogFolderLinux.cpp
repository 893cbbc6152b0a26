#include "log/ActivityLog.h"

#include "env/InstallLayout.h"
#include "log/LogFolder.h"

#include <QDir>
#include <QFile>

#include <pwd.h>
#include <unistd.h>

namespace fw {

ActivityLog::Place ActivityLog::Place::ofThisProcess(const QString& programFolder)
{
    // Without HOME, Qt's home folder is "/": the account's own home folder is the one meant.
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty()) {
        struct passwd pw {};
        struct passwd* found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(::geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
            home = QFile::decodeName(found->pw_dir);
    }
    return {programFolder, qEnvironmentVariable("XDG_STATE_HOME"), home, ::geteuid() == 0, QString()};
}

QString ActivityLog::chooseLogsDir(const Place& place)
{
    if (!isInstalledProgramFolder(place.programFolder)) {
        if (const QString beside = writableLogsBeside(place.programFolder); !beside.isEmpty())
            return beside;
    }
    if (!place.xdgStateHome.isEmpty() && QDir::isAbsolutePath(place.xdgStateHome))
        return QDir(place.xdgStateHome).filePath(QStringLiteral("ferrowind/logs"));
    if (place.root)
        return QStringLiteral("/var/log/ferrowind");
    if (place.home.isEmpty() || !QDir::isAbsolutePath(place.home) || QDir::cleanPath(place.home) == QLatin1String("/"))
        return QString();
    return QDir(place.home).filePath(QStringLiteral(".local/state/ferrowind/logs"));
}

} // namespace fw
