#include "support/FileAccess.h"

#include <QFileInfo>

// Qt reads the access list only while this is above zero.
extern Q_CORE_EXPORT int qt_ntfs_permission_lookup;

namespace fw::test {

bool othersMayAccess(const QString& path)
{
    ++qt_ntfs_permission_lookup;
    const QFileDevice::Permissions p = QFileInfo(path).permissions();
    --qt_ntfs_permission_lookup;
    return p & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther);
}

} // namespace fw::test
