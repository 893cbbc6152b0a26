#pragma once
#include "log/Result.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace fw {

class RegistryStore;

// Velmora's two directory connectors, as their control objects are known to the product.
enum class ConnectorKind { Domain, GlobalCatalog };

namespace connector {
inline const QString kDomainObject = QStringLiteral("{4735EFC2-7655-4141-B076-9DF444E354EF}");
inline const QString kGlobalCatalogObject = QStringLiteral("KSDSGlobalCatalog.KsDSGlobalCatalog.1");
inline const QString kRequestReconnect = QStringLiteral("RequestReconnect");
inline const QString kRequestReconnectV8 = QStringLiteral("RequestReconnectV8");
inline const QString kCommandValue = QStringLiteral("ConnectorControlCommand");
// "ActiveX component can't create object": the customary number when a control object is missing.
constexpr int kCannotCreateObject = 429;
constexpr int kAutomationError = 440;
} // namespace connector

// Signals a running connector (the IConnectorControl methods).
class ConnectorControl {
public:
    virtual ~ConnectorControl() = default;
    virtual Result<void> call(ConnectorKind kind, const QString& method, const QString& argument) = 0;
};

// The program and its arguments for one call: the configured command split into words (quotes group, as
// QProcess::splitCommand reads them), then OBJECT METHOD ARGUMENT. Empty when the command holds no word
// (nothing configured, or only quotes or blanks).
QStringList connectorCommandLine(const QString& configured, ConnectorKind kind, const QString& method, const QString& argument);

// Runs the command configured under the tool's registry key (value ConnectorControlCommand) as
//   COMMAND OBJECT METHOD ARGUMENT
// with OBJECT the connector's class identifier or ProgID, each as its own argument, never through a shell.
// The command must finish within timeoutMs; a non-zero exit status is a failure.
class CommandConnectorControl final : public ConnectorControl {
public:
    CommandConnectorControl(const RegistryStore& registry, int timeoutMs = 10000);
    Result<void> call(ConnectorKind kind, const QString& method, const QString& argument) override;

private:
    const RegistryStore& m_registry;
    int m_timeoutMs;
};

} // namespace fw
