#pragma once
#include "log/Result.h"

#include <QString>

namespace fw {

class AppContext;

namespace startup_text {
inline const QString kVersionRefused = QStringLiteral("This tool only works with Velmora 4.0(4) versions and later.  Exiting...");
inline const QString kConnectorRefused = QStringLiteral(
    "This utility only works with Velmora configured with Exchange 2000 or 2003.  It does not work with "
    "Exchange 5.5 or Domino systems.  Exiting.");
inline const QString kInactiveRefused = QStringLiteral(
    "The local Velmora is currently an inactvie server in a failover pair - this tool can only be run on an "
    "active server.");
inline const QString kNoDomains = QStringLiteral("Could not find ADDomain information in database.");
} // namespace startup_text

// The environment checks made before anything can be edited, and the values start-up sets.
// The windows and the command line both use it; neither shows anything from here.
class StartupGate {
public:
    explicit StartupGate(AppContext& ctx) : m_ctx(ctx) {}

    // The gate sequence. Each answers the message to show before the program ends, or an empty text
    // when the checks pass.
    // The warning window's load: the installed version.
    QString versionRefusal();
    // Each main window load: the connector, then the failover role.
    QString environmentRefusal() const;
    // Both, in the windows' order: for a command that changes what the windows change.
    QString refusal();

    // Fills LocalVersion from the registry; false below 4.0(3.100).
    bool checkVersion();
    // 8.0(0.85) or later keeps the Status tab.
    bool statusTabAvailable() const;
    // IDCProgID names one of the two Active Directory connectors (letter case ignored).
    bool checkConnector() const;
    // "Active Status" is not 0 (a missing value counts as active).
    bool checkActive() const;
    // Reads "Trace" into traceSetting; a value outside 16 bits leaves it unchanged and gives error 6.
    Result<void> readTraceSetting();
    // A safety factor still 0 becomes 2; values the history windows raised are kept.
    void initSafetyFactors();
    // Starts a new activity log with its header.
    void startNewLog();
    // The connection string: the tool's registry value "ConnectionString" when set, else the product default.
    QString connectionString() const;

    static const QStringList& acceptedConnectors();

private:
    AppContext& m_ctx;
};

} // namespace fw
