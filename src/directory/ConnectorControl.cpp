#include "directory/ConnectorControl.h"

#include "env/RegistryApi.h"
#include "platform/RegistryStore.h"

#include <QProcess>

namespace fw {

QStringList connectorCommandLine(const QString& configured, ConnectorKind kind, const QString& method, const QString& argument)
{
    QStringList words = QProcess::splitCommand(configured);
    if (words.isEmpty() || words.first().isEmpty())
        return {};
    words << (kind == ConnectorKind::Domain ? connector::kDomainObject : connector::kGlobalCatalogObject) << method << argument;
    return words;
}

CommandConnectorControl::CommandConnectorControl(const RegistryStore& registry, int timeoutMs)
    : m_registry(registry), m_timeoutMs(timeoutMs)
{
}

Result<void> CommandConnectorControl::call(ConnectorKind kind, const QString& method, const QString& argument)
{
    const QString configured = GetRegistryValue(m_registry, HKEY_LOCAL_MACHINE_HIVE, regkeys::kTool, connector::kCommandValue,
                                                RegTypeText, QString())
                                   .toString();
    QStringList words = connectorCommandLine(configured, kind, method, argument);
    if (words.isEmpty())
        return FwError{
            connector::kCannotCreateObject,
            QStringLiteral("ActiveX component can't create object: no connector control command is configured (value %1 under "
                           "HKEY_LOCAL_MACHINE\\%2)")
                .arg(connector::kCommandValue, regkeys::kTool)};
    const QString program = words.takeFirst();
    QProcess p;
    p.setProgram(program);
    p.setArguments(words);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start();
    if (!p.waitForStarted(m_timeoutMs))
        return FwError{
            connector::kCannotCreateObject,
            QStringLiteral("ActiveX component can't create object: cannot start %1 (%2)").arg(program, p.errorString())};
    if (!p.waitForFinished(m_timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        return FwError{
            connector::kAutomationError,
            QStringLiteral("Automation error: %1 %2 did not finish within %3 s").arg(program, method).arg(m_timeoutMs / 1000)};
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(p.readAll()).trimmed().left(300);
        return FwError{connector::kAutomationError, QStringLiteral("Automation error: %1 %2 failed with status %3%4")
                                                        .arg(program, method)
                                                        .arg(p.exitCode())
                                                        .arg(said.isEmpty() ? QString() : QStringLiteral(": ") + said)};
    }
    return Result<void>::success();
}

} // namespace fw
