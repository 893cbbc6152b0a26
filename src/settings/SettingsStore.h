#pragma once
#include "log/FwError.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <optional>

namespace fw {

// One row of vw_ADDomain. Values keep their NULLs; flag() reads a flag (NULL and 0 are off).
struct DomainSettings {
    QString objectId;
    QString domainName;
    QVariant currentDC;
    QVariant reconnectEnabled;
    QVariant reconnectAutoFind;
    QVariant reconnectSearchAllSites;
    QVariant reconnectLastResortAutoFind;
    QVariant reconnectFailureThreshold;
    QVariant manualDCPrimary;
    QVariant manualDCSecondary;
    QVariant doTotalResynchUsesRelative;
    QVariant doTotalResynchAtTime;
    QVariant doTotalResynchAfterMinutes;
    QVariant reconnectOnNextSynch;

    static bool flag(const QVariant& v);
    // A value as a text box shows it: NULL is empty; whole numbers stored as reals lose their ".0".
    static QString text(const QVariant& v);
};

// The writable columns of ADDomain.
enum class DomainColumn {
    ReconnectSearchAllSites,
    ReconnectFailureThreshold,
    DoTotalResynchUsesRelative,
    DoTotalResynchAtTime,
    DoTotalResynchAfterMinutes,
    ReconnectEnabled,
    ReconnectAutoFind,
    ManualDCPrimary,
    ManualDCSecondary,
    ReconnectLastResortAutoFind,
};
QString domainColumnName(DomainColumn c);

struct ColumnValue {
    DomainColumn column;
    QVariant value;
};

struct ConfigurationNode {
    QString fullName;
    QVariant value; // NULL stays NULL
};

// All rows of vw_Configuration in the order the view returned them.
class ConfigurationSnapshot {
public:
    QList<ConfigurationNode> nodes;
    int rowCount() const { return static_cast<int>(nodes.size()); }
    // The first node whose full name equals `fullName` exactly.
    const ConfigurationNode* find(const QString& fullName) const;
};

struct NodeWrite {
    QString fullName;
    QString value;
};

// The program's one view of the reconnect settings in VelmoraDb. Each call opens its own connection
// on the connection string and lets it go when done; every value travels as a bound parameter.
class SettingsStore {
public:
    explicit SettingsStore(QString connectionString) : m_connectionString(std::move(connectionString)) {}

    QList<DomainSettings> readDomains(FwError* error) const;
    // The rows whose identifier matches (the caller expects exactly one).
    QList<DomainSettings> readDomain(const QString& objectId, FwError* error) const;
    ConfigurationSnapshot readConfiguration(FwError* error) const;

    // Changes one ADDomain row in one transaction. `matched` receives the number of rows with that
    // identifier; unless it is exactly 1 nothing is written and no error is set.
    FwError changeDomain(const QString& objectId, const QList<ColumnValue>& values, int* matched) const;

    // Writes configuration nodes in one transaction: all of them or none. A node that does not exist
    // is a failure.
    FwError writeNodes(const QList<NodeWrite>& writes) const;

private:
    QString m_connectionString;
};

} // namespace fw
