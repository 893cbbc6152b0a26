#pragma once
#include "directory/ConnectorControl.h"
#include "log/Result.h"

#include <QString>
#include <functional>

namespace fw {

class AppContext;
class WaitUi;

namespace reconnect_text {
inline const QString kSelectDomain = QStringLiteral("select a domain first");
inline const QString kDomainRowMissing = QStringLiteral("Could not find domain in the AdDomain table in SQL");
inline const QString kDomainDone = QStringLiteral("Reconnect process initiated for domain: ");
inline const QString kNodeName = QStringLiteral("System.DirectoryConnectors.ActiveDirectory.DSGC.ReconnectOnNextSynch");
inline const QString kNodeMissing = QStringLiteral(
    "Could not find node name='System.DirectoryConnectors.ActiveDirectory.DSGC.ReconnectOnNextSynch' in the Configuration table in SQL");
inline QString nodeRowMissing(const QString& id)
{
    return QStringLiteral("could not find nodeId='") + id + QStringLiteral("' in the Configuration table in SQL");
}
inline const QString kGcDone = QStringLiteral("Reconnect process initiated");
} // namespace reconnect_text

// The two "Force Reconnect" commands: mark the request in the database, signal the connector, pause,
// reload the main window, signal again. A failed database write or connector call is reported with the
// error report and never as initiated.
class ForcedReconnect {
public:
    static constexpr int kDomainPauseMs = 12000;
    static constexpr int kGlobalCatalogPauseMs = 10000;

    enum class Outcome { Initiated, NothingSelected, NotFound, Failed };

    // `reload` runs the main window's load again.
    ForcedReconnect(AppContext& ctx, WaitUi& wait, std::function<void()> reload);

    // selectedRow below 1 means no domain is selected.
    Outcome cmdDCForceReconnect_Click(int selectedRow, const QString& domainController, const QString& objectId);
    Outcome cmdGCReconnect_Click();

    // The last failure reported, for the command line.
    const FwError& lastError() const { return m_lastError; }

private:
    void pause(int ms);
    Result<void> signal(ConnectorControl& connector, ConnectorKind kind, const QString& method, const QString& argument);
    Outcome fail(const FwError& e, const QString& procedure);
    // Runs the window's reload; false when it ended the program: then nothing more is signalled or shown.
    bool reloadGoesOn();

    AppContext& m_ctx;
    WaitUi& m_wait;
    std::function<void()> m_reload;
    FwError m_lastError;
};

} // namespace fw
