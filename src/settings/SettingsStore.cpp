#include "settings/SettingsStore.h"

#include "db/Database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <cmath>
#include <optional>

namespace fw {

namespace {

const char* const kDomainSelect =
    "SELECT AdDomainObjectID, DomainName, CurrentDC, ReconnectEnabled, ReconnectAutoFind, ReconnectSearchAllSites, "
    "ReconnectLastResortAutoFind, ReconnectFailureThreshold, ManualDCPrimary, ManualDCSecondary, "
    "DoTotalResynchUsesRelative, DoTotalResynchAtTime, DoTotalResynchAfterMinutes, ReconnectOnNextSynch FROM vw_ADDomain";

Result<QList<DomainSettings>> readDomainRows(QSqlQuery& q)
{
    QList<DomainSettings> rows;
    while (q.next()) {
        DomainSettings d;
        d.objectId = q.value(0).toString();
        d.domainName = q.value(1).toString();
        d.currentDC = q.value(2);
        d.reconnectEnabled = q.value(3);
        d.reconnectAutoFind = q.value(4);
        d.reconnectSearchAllSites = q.value(5);
        d.reconnectLastResortAutoFind = q.value(6);
        d.reconnectFailureThreshold = q.value(7);
        d.manualDCPrimary = q.value(8);
        d.manualDCSecondary = q.value(9);
        d.doTotalResynchUsesRelative = q.value(10);
        d.doTotalResynchAtTime = q.value(11);
        d.doTotalResynchAfterMinutes = q.value(12);
        d.reconnectOnNextSynch = q.value(13);
        rows.append(std::move(d));
    }
    if (q.lastError().isValid())
        return Database::fromSqlError(q.lastError());
    return rows;
}

// A value as a number, when it is one: a numeric type, a flag, or a text that is a whole finite number.
std::optional<double> asNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool() ? 1.0 : 0.0;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Double:
    case QMetaType::Float: return v.toDouble();
    default: break;
    }
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    if (ok && std::isfinite(d))
        return d;
    return std::nullopt;
}

bool isNull(const QVariant& v)
{
    return v.isNull() || !v.isValid();
}

Result<void> failed(Database& db, const FwError& err)
{
    db.rollback();
    return err;
}

// A save that found it must not write: nothing written, and no failure.
Result<void> writeNothing(Database& db)
{
    db.rollback();
    return Result<void>::success();
}

// A save's own connection with its transaction begun, and nothing found yet.
Result<std::unique_ptr<Database>> beginSave(const QString& connectionString, WriteCheck& out)
{
    out = {};
    Result<std::unique_ptr<Database>> db = Database::open(connectionString);
    if (!db)
        return db;
    if (Result<void> begun = (*db)->begin(); !begun)
        return begun.error();
    return db;
}

// A commit that fails is rolled back, and is the save's failure.
Result<void> commitSave(Database& db)
{
    Result<void> committed = db.commit();
    if (!committed)
        db.rollback();
    return committed;
}

// The error of a read that stopped part way, else `fallback`.
FwError readFailure(const QSqlQuery& q, FwError fallback)
{
    return q.lastError().isValid() ? Database::fromSqlError(q.lastError()) : std::move(fallback);
}

} // namespace

bool sameStoredValue(const QVariant& a, const QVariant& b)
{
    if (isNull(a) || isNull(b))
        return isNull(a) && isNull(b);
    // Two texts are the same only as texts: "1.50" is not the "1.5" a text node holds.
    if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString)
        return a.toString() == b.toString();
    const std::optional<double> x = asNumber(a);
    const std::optional<double> y = asNumber(b);
    if (x && y)
        return *x == *y;
    return a.toString() == b.toString();
}

QVariant DomainSettings::column(DomainColumn c) const
{
    switch (c) {
    case DomainColumn::ReconnectSearchAllSites: return reconnectSearchAllSites;
    case DomainColumn::ReconnectFailureThreshold: return reconnectFailureThreshold;
    case DomainColumn::DoTotalResynchUsesRelative: return doTotalResynchUsesRelative;
    case DomainColumn::DoTotalResynchAtTime: return doTotalResynchAtTime;
    case DomainColumn::DoTotalResynchAfterMinutes: return doTotalResynchAfterMinutes;
    case DomainColumn::ReconnectEnabled: return reconnectEnabled;
    case DomainColumn::ReconnectAutoFind: return reconnectAutoFind;
    case DomainColumn::ManualDCPrimary: return manualDCPrimary;
    case DomainColumn::ManualDCSecondary: return manualDCSecondary;
    case DomainColumn::ReconnectLastResortAutoFind: return reconnectLastResortAutoFind;
    }
    return {};
}

Result<bool> DomainSettings::flag(const QVariant& v, const StoredColumn& c)
{
    if (v.isNull() || !v.isValid())
        return false;
    return stored::bit(v, c);
}

Result<void> DomainSettings::readable() const
{
    const std::pair<const QVariant*, StoredColumn> columns[] = {
        {&currentDC, column::adCurrentDC},
        {&reconnectEnabled, column::adReconnectEnabled},
        {&reconnectAutoFind, column::adReconnectAutoFind},
        {&reconnectSearchAllSites, column::adReconnectSearchAllSites},
        {&reconnectLastResortAutoFind, column::adReconnectLastResortAutoFind},
        {&reconnectFailureThreshold, column::adReconnectFailureThreshold},
        {&manualDCPrimary, column::adManualDCPrimary},
        {&manualDCSecondary, column::adManualDCSecondary},
        {&doTotalResynchUsesRelative, column::adDoTotalResynchUsesRelative},
        {&doTotalResynchAtTime, column::adDoTotalResynchAtTime},
        {&doTotalResynchAfterMinutes, column::adDoTotalResynchAfterMinutes},
        {&reconnectOnNextSynch, column::adReconnectOnNextSynch},
    };
    for (const auto& [value, c] : columns)
        if (Result<void> r = stored::check(*value, c); !r)
            return r;
    return Result<void>::success();
}

QString DomainSettings::text(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return {};
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
        const double d = v.toDouble();
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15)
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', 15);
    }
    return v.toString();
}

QString domainColumnName(DomainColumn c)
{
    switch (c) {
    case DomainColumn::ReconnectSearchAllSites: return QStringLiteral("ReconnectSearchAllSites");
    case DomainColumn::ReconnectFailureThreshold: return QStringLiteral("ReconnectFailureThreshold");
    case DomainColumn::DoTotalResynchUsesRelative: return QStringLiteral("DoTotalResynchUsesRelative");
    case DomainColumn::DoTotalResynchAtTime: return QStringLiteral("DoTotalResynchAtTime");
    case DomainColumn::DoTotalResynchAfterMinutes: return QStringLiteral("DoTotalResynchAfterMinutes");
    case DomainColumn::ReconnectEnabled: return QStringLiteral("ReconnectEnabled");
    case DomainColumn::ReconnectAutoFind: return QStringLiteral("ReconnectAutoFind");
    case DomainColumn::ManualDCPrimary: return QStringLiteral("ManualDCPrimary");
    case DomainColumn::ManualDCSecondary: return QStringLiteral("ManualDCSecondary");
    case DomainColumn::ReconnectLastResortAutoFind: return QStringLiteral("ReconnectLastResortAutoFind");
    }
    return {};
}

const ConfigurationNode* ConfigurationSnapshot::find(const QString& fullName) const
{
    for (const ConfigurationNode& n : nodes) {
        if (n.fullName == fullName)
            return &n;
    }
    return nullptr;
}

Result<QList<DomainSettings>> SettingsStore::readDomains() const
{
    Result<std::unique_ptr<Database>> db = Database::open(m_connectionString, Database::Access::ReadOnly);
    if (!db)
        return db.error();
    Result<QSqlQuery> q = (*db)->run(QString::fromLatin1(kDomainSelect));
    if (!q)
        return q.error();
    return readDomainRows(*q);
}

Result<QList<DomainSettings>> SettingsStore::readDomain(const QString& objectId) const
{
    Result<std::unique_ptr<Database>> db = Database::open(m_connectionString, Database::Access::ReadOnly);
    if (!db)
        return db.error();
    Result<QSqlQuery> q = (*db)->run(QString::fromLatin1(kDomainSelect) + QStringLiteral(" WHERE ADDomainObjectID = ?"),
                                     {objectId});
    if (!q)
        return q.error();
    return readDomainRows(*q);
}

Result<ConfigurationSnapshot> SettingsStore::readConfiguration() const
{
    Result<std::unique_ptr<Database>> db = Database::open(m_connectionString, Database::Access::ReadOnly);
    if (!db)
        return db.error();
    Result<QSqlQuery> q = (*db)->run(QStringLiteral("SELECT FullNodeName, NodeValue FROM vw_Configuration"));
    if (!q)
        return q.error();
    ConfigurationSnapshot snap;
    while (q->next())
        snap.nodes.append({q->value(0).toString(), q->value(1)});
    if (q->lastError().isValid())
        return Database::fromSqlError(q->lastError());
    return snap;
}

Result<void> SettingsStore::changeDomain(const QString& objectId, const QList<ColumnValue>& expected,
                                         const QList<ColumnValue>& values, WriteCheck* check) const
{
    WriteCheck spare;
    WriteCheck& out = check ? *check : spare;
    Result<std::unique_ptr<Database>> begun = beginSave(m_connectionString, out);
    if (!begun)
        return begun.error();
    Database& db = **begun;
    // The row's write lock comes first: no other save can change the row between the comparison and the write.
    // (An update to itself is the one lock every engine takes the same way; it also counts the rows.)
    {
        Result<QSqlQuery> lock = db.run(QStringLiteral("UPDATE ADDomain SET DomainName = DomainName WHERE AdDomainObjectID = ?"),
                                        {objectId});
        if (!lock)
            return failed(db, lock.error());
        out.matched = lock->numRowsAffected();
    }
    if (out.matched != 1)
        return writeNothing(db);
    if (!expected.isEmpty()) {
        QStringList names;
        for (const ColumnValue& cv : expected)
            names.append(domainColumnName(cv.column));
        Result<QSqlQuery> q = db.run(QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) +
                                         QStringLiteral(" FROM ADDomain WHERE AdDomainObjectID = ?"),
                                     {objectId});
        if (!q)
            return failed(db, q.error());
        if (!q->next())
            return failed(db, readFailure(*q, {-2147467259, QStringLiteral("The domain row could not be read again")}));
        for (qsizetype i = 0; i < expected.size(); ++i) {
            if (!sameStoredValue(q->value(static_cast<int>(i)), expected[i].value))
                out.changed.append(names[i]);
        }
    }
    if (!out.changed.isEmpty() || values.isEmpty())
        return writeNothing(db);
    QStringList sets;
    QVariantList binds;
    for (const ColumnValue& cv : values) {
        sets.append(domainColumnName(cv.column) + QStringLiteral(" = ?"));
        binds.append(cv.value);
    }
    binds.append(objectId);
    Result<QSqlQuery> u = db.run(QStringLiteral("UPDATE ADDomain SET ") + sets.join(QStringLiteral(", ")) +
                                     QStringLiteral(" WHERE AdDomainObjectID = ?"),
                                 binds);
    if (!u)
        return failed(db, u.error());
    if (u->numRowsAffected() != 1)
        return failed(db,
                      {-2147467259,
                       QStringLiteral("The update of the domain row changed %1 rows instead of one").arg(u->numRowsAffected())});
    return commitSave(db);
}

Result<void> SettingsStore::writeNodes(const QList<ExpectedNode>& expected, const QList<NodeWrite>& writes,
                                       WriteCheck* check) const
{
    WriteCheck spare;
    WriteCheck& out = check ? *check : spare;
    Result<std::unique_ptr<Database>> begun = beginSave(m_connectionString, out);
    if (!begun)
        return begun.error();
    Database& db = **begun;
    // Every node the save depends on is locked before it is read (see changeDomain).
    QStringList names;
    for (const ExpectedNode& e : expected)
        names.append(e.fullName);
    for (const NodeWrite& w : writes)
        names.append(w.fullName);
    names.removeDuplicates();
    for (const QString& name : names) {
        Result<QSqlQuery> lock = db.run(QStringLiteral("UPDATE Configuration SET NodeValue = NodeValue WHERE NodeID IN "
                                                       "(SELECT NodeID FROM vw_Configuration WHERE FullNodeName = ?)"),
                                        {name});
        if (!lock)
            return failed(db, lock.error());
    }
    for (const ExpectedNode& e : expected) {
        Result<QSqlQuery> q = db.run(QStringLiteral("SELECT NodeValue FROM vw_Configuration WHERE FullNodeName = ?"),
                                     {e.fullName});
        if (!q)
            return failed(db, q.error());
        const bool present = q->next();
        if (q->lastError().isValid())
            return failed(db, Database::fromSqlError(q->lastError()));
        if (present != e.present || (present && !sameStoredValue(q->value(0), e.value)))
            out.changed.append(e.fullName);
    }
    if (!out.changed.isEmpty())
        return writeNothing(db);
    const QString sql = db.dialect().configurationModify();
    for (const NodeWrite& w : writes) {
        Result<QSqlQuery> q = db.run(QStringLiteral("SELECT COUNT(*) FROM vw_Configuration WHERE FullNodeName = ?"),
                                     {w.fullName});
        if (!q)
            return failed(db, q.error());
        const int found = q->next() ? q->value(0).toInt() : 0;
        if (found < 1)
            return failed(db, {-2147467259, QStringLiteral("The configuration node %1 does not exist").arg(w.fullName)});
        if (Result<QSqlQuery> modified = db.run(sql, db.dialect().configurationModifyBinds(w.fullName, w.value)); !modified)
            return failed(db, modified.error());
    }
    return commitSave(db);
}

} // namespace fw
