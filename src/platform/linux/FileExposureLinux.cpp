#include "platform/RegistryFileExposure.h"

#include <QFileInfo>

namespace fw {

bool everyoneCanRead(const QString& path)
{
    return QFileInfo(path).permissions() & QFileDevice::ReadOther;
}

QString unreadableToOthersCommand(const QString& path)
{
    return QStringLiteral("chmod o-r %1").arg(path);
}

bool keepToOwner(QFileDevice& file)
{
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace fw
