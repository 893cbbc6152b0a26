#include "env/VelmoraVersion.h"

#include "env/RegistryApi.h"
#include "platform/RegistryStore.h"

namespace fw {

namespace {

// Value of the leading decimal digits; reading stops at the first other character ("000A" gives 0).
qint16 leadingDecimal(const QString& group)
{
    int v = 0;
    for (const QChar c : group) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        v = v * 10 + (c.unicode() - '0');
    }
    return static_cast<qint16>(v);
}

QString hex8(qint32 n)
{
    return QString::number(static_cast<quint32>(n), 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

} // namespace

VersionInfo VersionInfo::fromRegistryNumbers(qint32 versionNumber, qint32 buildNumber)
{
    VersionInfo v;
    const QString ver = hex8(versionNumber);
    const QString build = hex8(buildNumber);
    v.Major = leadingDecimal(ver.left(4));
    v.Minor = leadingDecimal(ver.right(4));
    v.BuildMajor = leadingDecimal(build.left(4));
    v.BuildMinor = static_cast<qint16>(static_cast<quint16>(build.right(4).toUInt(nullptr, 16)));
    v.Text = QStringLiteral("%1.%2(%3.%4)").arg(v.Major).arg(v.Minor).arg(v.BuildMajor).arg(v.BuildMinor);
    return v;
}

VersionInfo getVersion(const RegistryStore& store)
{
    const auto num = [&](const QString& name) {
        const QVariant v = GetRegistryValue(store, HKEY_LOCAL_MACHINE_HIVE, regkeys::kProduct, name, RegTypeNumber, QVariant());
        return v.isValid() ? v.toInt() : 0;
    };
    return VersionInfo::fromRegistryNumbers(num(QStringLiteral("Version Number")), num(QStringLiteral("Build Number")));
}

bool bIsVersionGreaterThanOrEqualTo(const VersionInfo& local, qint16 major, qint16 minor, qint16 buildMajor, qint16 buildMinor)
{
    const qint16 mine[] = {local.Major, local.Minor, local.BuildMajor, local.BuildMinor};
    const qint16 wanted[] = {major, minor, buildMajor, buildMinor};
    for (int i = 0; i < 4; ++i) {
        if (mine[i] != wanted[i])
            return mine[i] > wanted[i];
    }
    return true;
}

bool bIsVersion8OrLater(const VersionInfo& local)
{
    return bIsVersionGreaterThanOrEqualTo(local, 8, 0, 0, 85);
}

} // namespace fw
