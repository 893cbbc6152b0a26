#include "settings/SettingsStore.h"

#include "db/Database.h"
#include "db/DatabaseSession.h"
#include "settings/SettingsText.h"

#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
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

// The configuration nodes of the global catalog: the same text on every engine, the prefix part of the statement
// like a table's name.
QString gcNodesCondition()
{
    return QStringLiteral("FullNodeName LIKE '%1%'").arg(settings_text::kDsgcPrefix);
}

// A commit that fails is rolled back, and is the save's failure.
Result<void> commitSave(Database& db)
{
    Result<void> committed = db.commit();
    if (!committed)
        db.rollback();
    return committed;
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

SettingsStore::SettingsStore(DatabaseSession& session, QString connectionString)
    : m_session(&session), m_connectionString(std::move(connectionString))
{
}

SettingsStore::SettingsStore(QString connectionString)
    : m_own(std::make_unique<DatabaseSession>()), m_session(m_own.get()), m_connectionString(std::move(connectionString))
{
}

SettingsStore::~SettingsStore() = default;

Result<Database*> SettingsStore::connection(Database::Access access) const
{
    return m_session->open(m_connectionString, access);
}

QString SettingsStore::domainListSql()
{
    return QString::fromLatin1(kDomainSelect) + QStringLiteral(" ORDER BY %1, %2");
}

QString SettingsStore::domainSql()
{
    return QString::fromLatin1(kDomainSelect) + QStringLiteral(" WHERE ADDomainObjectID = ?");
}

QString SettingsStore::configurationSql()
{
    return QStringLiteral("SELECT FullNodeName, NodeValue FROM vw_Configuration ORDER BY %1, NodeID");
}

Result<QList<DomainSettings>> SettingsStore::readDomains() const
{
    const Result<Database*> db = connection(Database::Access::ReadOnly);
    if (!db)
        return db.error();
    const SqlDialect& d = (*db)->dialect();
    Result<QSqlQuery> q = (*db)->run(
        domainListSql().arg(d.textOrder(QStringLiteral("DomainName")), d.textOrder(QStringLiteral("AdDomainObjectID"))));
    if (!q)
        return q.error();
    return readDomainRows(*q);
}

Result<QList<DomainSettings>> SettingsStore::readDomain(const QString& objectId) const
{
    const Result<Database*> db = connection(Database::Access::ReadOnly);
    if (!db)
        return db.error();
    Result<QSqlQuery> q = (*db)->run(domainSql(), {objectId});
    if (!q)
        return q.error();
    return readDomainRows(*q);
}

Result<ConfigurationSnapshot> SettingsStore::readConfiguration() const
{
    const Result<Database*> db = connection(Database::Access::ReadOnly);
    if (!db)
        return db.error();
    Result<QSqlQuery> q = (*db)->run(configurationSql().arg((*db)->dialect().textOrder(QStringLiteral("FullNodeName"))));
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
    out = {};
    const Result<Database*> opened = connection(Database::Access::ReadWrite);
    if (!opened)
        return opened.error();
    Database& db = **opened;
    if (Result<void> begun = db.begin(); !begun)
        return begun.error();
    // The row's write lock comes first: no other save can change the row between the comparison and the write.
    // (An update to itself is the one lock every engine takes the same way.) The row is read back in the same batch.
    QStringList names;
    for (const ColumnValue& cv : expected)
        names.append(domainColumnName(cv.column));
    const QString lock = QStringLiteral("UPDATE ADDomain SET DomainName = DomainName WHERE AdDomainObjectID = ?");
    const QString readBack = QStringLiteral("SELECT AdDomainObjectID%1 FROM ADDomain WHERE AdDomainObjectID = ?")
                                 .arg(names.isEmpty() ? QString() : QStringLiteral(", ") + names.join(QStringLiteral(", ")));
    Result<QList<QSqlQuery>> read = db.runBatch({{lock, {objectId}}, {readBack, {objectId}}});
    if (!read)
        return failed(db, read.error());
    if (read->size() != 1)
        return failed(db, {-2147467259, QStringLiteral("The domain row could not be read again")});
    QSqlQuery& row = read->first();
    QVariantList stored;
    while (row.next()) {
        ++out.matched;
        stored.clear();
        for (qsizetype i = 0; i < expected.size(); ++i)
            stored.append(row.value(static_cast<int>(i + 1)));
    }
    if (row.lastError().isValid())
        return failed(db, Database::fromSqlError(row.lastError()));
    if (out.matched != 1)
        return writeNothing(db);
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (!sameStoredValue(stored[i], expected[i].value))
            out.changed.append(names[i]);
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
    out = {};
    const Result<Database*> opened = connection(Database::Access::ReadWrite);
    if (!opened)
        return opened.error();
    Database& db = **opened;
    if (Result<void> begun = db.begin(); !begun)
        return begun.error();
    // Every node the save depends on is locked before it is read (see changeDomain), in one batch. The global
    // catalog's nodes are named by their prefix, so that the batch carries no value and its transaction's beginning
    // goes with it; other names are bound.
    QStringList names;
    for (const ExpectedNode& e : expected)
        names.append(e.fullName);
    for (const NodeWrite& w : writes)
        names.append(w.fullName);
    names.removeDuplicates();
    const bool globalCatalog = std::all_of(names.begin(), names.end(),
                                           [](const QString& n) { return n.startsWith(settings_text::kDsgcPrefix); });
    QString condition = gcNodesCondition();
    QVariantList binds;
    if (!globalCatalog) {
        condition =
            QStringLiteral("FullNodeName IN (%1)").arg(QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
        for (const QString& n : names)
            binds.append(n);
    }
    Result<QList<QSqlQuery>> read = db.runBatch(
        {{QStringLiteral("UPDATE Configuration SET NodeValue = NodeValue WHERE NodeID IN "
                         "(SELECT NodeID FROM vw_Configuration WHERE %1)")
              .arg(condition),
          binds},
         {QStringLiteral("SELECT FullNodeName, NodeValue FROM vw_Configuration WHERE %1 ORDER BY %2, NodeID")
              .arg(condition, db.dialect().textOrder(QStringLiteral("FullNodeName"))),
          binds}});
    if (!read)
        return failed(db, read.error());
    if (read->size() != 1)
        return failed(db, {-2147467259, QStringLiteral("The configuration nodes could not be read again")});
    ConfigurationSnapshot stored;
    QSqlQuery& rows = read->first();
    while (rows.next())
        stored.nodes.append({rows.value(0).toString(), rows.value(1)});
    if (rows.lastError().isValid())
        return failed(db, Database::fromSqlError(rows.lastError()));
    for (const ExpectedNode& e : expected) {
        const ConfigurationNode* n = stored.find(e.fullName);
        if ((n != nullptr) != e.present || (n && !sameStoredValue(n->value, e.value)))
            out.changed.append(e.fullName);
    }
    if (!out.changed.isEmpty())
        return writeNothing(db);
    QList<Database::Statement> modify;
    for (const NodeWrite& w : writes) {
        if (!stored.find(w.fullName))
            return failed(db, {-2147467259, QStringLiteral("The configuration node %1 does not exist").arg(w.fullName)});
        modify.append({db.dialect().configurationModify(), db.dialect().configurationModifyBinds(w.fullName, w.value)});
    }
    if (!modify.isEmpty())
        if (Result<QList<QSqlQuery>> written = db.runBatch(modify); !written)
            return failed(db, written.error());
    return commitSave(db);
}

} // namespace fw
