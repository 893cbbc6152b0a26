#include "app/StartupGate.h"

#include "context/AppContext.h"
#include "db/Database.h"
#include "env/RegistryApi.h"
#include "env/WorkStationInfo.h"
#include "log/ActivityLog.h"
#include "platform/RegistryStore.h"

#include <limits>

namespace fw {

const QStringList& StartupGate::acceptedConnectors()
{
    static const QStringList ids = {QStringLiteral("KSDSAD.KSDSAD.1"), QStringLiteral("KSIDCADSvr.KsIDCAD.1")};
    return ids;
}

QString StartupGate::versionRefusal()
{
    return checkVersion() ? QString() : startup_text::kVersionRefused;
}

QString StartupGate::environmentRefusal() const
{
    if (!checkConnector())
        return startup_text::kConnectorRefused;
    if (!checkActive())
        return startup_text::kInactiveRefused;
    return {};
}

QString StartupGate::refusal()
{
    const QString version = versionRefusal();
    return version.isEmpty() ? environmentRefusal() : version;
}

bool StartupGate::checkVersion()
{
    m_ctx.localVersion = getVersion(m_ctx.registry());
    return bIsVersionGreaterThanOrEqualTo(m_ctx.localVersion, 4, 0, 3, 100);
}

bool StartupGate::statusTabAvailable() const
{
    return bIsVersion8OrLater(m_ctx.localVersion);
}

bool StartupGate::checkConnector() const
{
    const QString id = GetRegistryValue(m_ctx.registry(), HKEY_LOCAL_MACHINE_HIVE, regkeys::kSystemParameters,
                                        QStringLiteral("IDCProgID"), RegTypeText, QString())
                           .toString();
    for (const QString& ok : acceptedConnectors()) {
        if (id.compare(ok, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool StartupGate::checkActive() const
{
    const QVariant v = GetRegistryValue(m_ctx.registry(), HKEY_LOCAL_MACHINE_HIVE, regkeys::kNodeManager,
                                        QStringLiteral("Active Status"), RegTypeNumber, -1);
    return v.toInt() != 0;
}

Result<void> StartupGate::readTraceSetting()
{
    const qint32 v = GetRegistryValue(m_ctx.registry(), HKEY_LOCAL_MACHINE_HIVE, regkeys::kTool, QStringLiteral("Trace"),
                                      RegTypeNumber, 0)
                         .toInt();
    if (v < std::numeric_limits<qint16>::min() || v > std::numeric_limits<qint16>::max())
        return FwError::overflow();
    m_ctx.traceSetting = static_cast<qint16>(v);
    return Result<void>::success();
}

void StartupGate::initSafetyFactors()
{
    if (m_ctx.dcSafetyFactor == 0)
        m_ctx.dcSafetyFactor = 2;
    if (m_ctx.gcSafetyFactor == 0)
        m_ctx.gcSafetyFactor = 2;
}

void StartupGate::startNewLog()
{
    ActivityLog& log = m_ctx.log();
    const QString path = log.GenerateNewLogFileName();
    WorkStationInfo& ws = m_ctx.workstation();
    log.OpenLogFile(path, {AppContext::programVersion(), m_ctx.localVersion.Text, ws.UserName(), ws.Domain()});
}

QString StartupGate::connectionString() const
{
    const QString custom = GetRegistryValue(m_ctx.registry(), HKEY_LOCAL_MACHINE_HIVE, regkeys::kTool,
                                            QStringLiteral("ConnectionString"), RegTypeText, QString())
                               .toString()
                               .trimmed();
    return Database::connectionStringOrDefault(custom);
}

} // namespace fw
