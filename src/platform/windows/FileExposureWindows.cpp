#include "platform/RegistryFileExposure.h"

#include <QDir>
#include <QFileInfo>

// Qt reads the access list only while this is above zero; its "other" permissions are then those of Everyone.
extern Q_CORE_EXPORT int qt_ntfs_permission_lookup;

namespace fw {

bool everyoneCanRead(const QString& path)
{
    ++qt_ntfs_permission_lookup;
    const bool everyone = QFileInfo(path).permissions() & QFileDevice::ReadOther;
    --qt_ntfs_permission_lookup;
    return everyone;
}

QString unreadableToOthersCommand(const QString& path)
{
    // *S-1-1-0 is Everyone in every language of Windows.
    return QStringLiteral("icacls \"%1\" /remove:g *S-1-1-0").arg(QDir::toNativeSeparators(path));
}

} // namespace fw
