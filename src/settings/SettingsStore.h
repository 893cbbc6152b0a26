#pragma once
#include "db/Database.h"
#include "db/StoredValue.h"
#include "log/Result.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>

namespace fw {

class DatabaseSession;

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
inline constexpr DomainColumn kDomainColumns[] = {
    DomainColumn::ReconnectSearchAllSites,    DomainColumn::ReconnectFailureThreshold,
    DomainColumn::DoTotalResynchUsesRelative, DomainColumn::DoTotalResynchAtTime,
    DomainColumn::DoTotalResynchAfterMinutes, DomainColumn::ReconnectEnabled,
    DomainColumn::ReconnectAutoFind,          DomainColumn::ManualDCPrimary,
    DomainColumn::ManualDCSecondary,          DomainColumn::ReconnectLastResortAutoFind,
};
QString domainColumnName(DomainColumn c);

// Whether two stored values are the same: NULL equals only NULL, two texts compare as texts ("1.50" is not
// "1.5"), numbers as numbers whatever type the driver gave them (a stored 5.0 is 5, "15" is 15).
bool sameStoredValue(const QVariant& a, const QVariant& b);

// One row of vw_ADDomain. Values keep their NULLs, as read, so that a save can compare them; flag() reads a flag.
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

    // The value read for one writable column.
    QVariant column(DomainColumn c) const;

    // Whether every column reads as its kind (see StoredValue); the first that does not, named.
    Result<void> readable() const;

    // A flag column: NULL is off; anything but a bit fails.
    static Result<bool> flag(const QVariant& v, const StoredColumn& c);
    // A value as a text box shows it: NULL is empty; whole numbers stored as reals lose their ".0".
    static QString text(const QVariant& v);
};

struct ColumnValue {
    DomainColumn column;
    QVariant value;
};

struct ConfigurationNode {
    QString fullName;
    QVariant value; // NULL stays NULL
};

// All rows of vw_Configuration, by full name.
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

// A node's value as a save read it; `present` false when the node was missing.
struct ExpectedNode {
    QString fullName;
    bool present = true;
    QVariant value;
};

// What a checked write found before writing.
struct WriteCheck {
    int matched = 0;     // domain rows with the identifier (the node writes leave it 0)
    QStringList changed; // column or node names whose stored value is no longer the one read; nothing was written
};

// The program's one view of the reconnect settings in VelmoraDb, on the connection a command or a window keeps
// (DatabaseSession); every value travels as a bound parameter, every list comes in the grid's order.
class SettingsStore {
public:
    SettingsStore(DatabaseSession& session, QString connectionString);
    // On a connection of its own, kept as long as the store.
    explicit SettingsStore(QString connectionString);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The domain list and one domain read: in the order the grid shows them, by name, a name shared by key.
    static QString domainListSql();
    static QString domainSql();
    static QString configurationSql();

    Result<QList<DomainSettings>> readDomains() const;
    // The rows whose identifier matches (the caller expects exactly one).
    Result<QList<DomainSettings>> readDomain(const QString& objectId) const;
    Result<ConfigurationSnapshot> readConfiguration() const;

    // Changes one ADDomain row in one transaction, and only if its columns in `expected` still hold the values
    // read: the row is locked first, compared, then written. Unless exactly one row has the identifier, or
    // when a compared column changed (named in `check->changed`), nothing is written and the call succeeds.
    Result<void> changeDomain(const QString& objectId, const QList<ColumnValue>& expected, const QList<ColumnValue>& values,
                              WriteCheck* check) const;

    // Writes configuration nodes in one transaction, all of them or none, and only if the nodes in `expected`
    // still hold the values read (else `check->changed` names them and nothing is written). A node to write
    // that does not exist is a failure.
    Result<void> writeNodes(const QList<ExpectedNode>& expected, const QList<NodeWrite>& writes, WriteCheck* check) const;

private:
    Result<Database*> connection(Database::Access access) const;

    std::unique_ptr<DatabaseSession> m_own;
    DatabaseSession* m_session;
    QString m_connectionString;
};

} // namespace fw
