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

QList<DomainSettings> readDomainRows(QSqlQuery& q, FwError* error)
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
    if (q.lastError().isValid() && error && !*error)
        *error = Database::fromSqlError(q.lastError());
    return rows;
}

// A value as a number, when it is one: a numeric type, a flag, or a text that is a whole finite number.
std::optional<double> asNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? 1.0 : 0.0;
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
    case QMetaType::Float:
        return v.toDouble();
    default:
        break;
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

FwError failed(Database& db, const FwError& err)
{
    db.rollback();
    return err;
}

// A save's own connection with its transaction begun, and nothing found yet; null (`err` says why) when either fails.
std::unique_ptr<Database> beginSave(const QString& connectionString, WriteCheck& out, FwError& err)
{
    out = {};
    auto db = Database::open(connectionString, &err);
    if (db && (err = db->begin()))
        db.reset();
    return db;
}

// A commit that fails is rolled back, and is the save's failure.
FwError commitSave(Database& db)
{
    FwError err = db.commit();
    if (err)
        db.rollback();
    return err;
}

} // namespace

bool sameStoredValue(const QVariant& a, const QVariant& b)
{
    if (isNull(a) || isNull(b))
        return isNull(a) && isNull(b);
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

bool DomainSettings::flag(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return false;
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (ok)
        return d != 0;
    const QString s = v.toString().trimmed();
    return !s.isEmpty() && s != QLatin1String("0") && s.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
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

QList<DomainSettings> SettingsStore::readDomains(FwError* error) const
{
    auto db = Database::open(m_connectionString, error);
    if (!db)
        return {};
    QSqlQuery q = db->run(QString::fromLatin1(kDomainSelect), {}, error);
    if (error && *error)
        return {};
    return readDomainRows(q, error);
}

QList<DomainSettings> SettingsStore::readDomain(const QString& objectId, FwError* error) const
{
    auto db = Database::open(m_connectionString, error);
    if (!db)
        return {};
    QSqlQuery q = db->run(QString::fromLatin1(kDomainSelect) + QStringLiteral(" WHERE ADDomainObjectID = ?"), {objectId}, error);
    if (error && *error)
        return {};
    return readDomainRows(q, error);
}

ConfigurationSnapshot SettingsStore::readConfiguration(FwError* error) const
{
    ConfigurationSnapshot snap;
    auto db = Database::open(m_connectionString, error);
    if (!db)
        return snap;
    QSqlQuery q = db->run(QStringLiteral("SELECT FullNodeName, NodeValue FROM vw_Configuration"), {}, error);
    if (error && *error)
        return snap;
    while (q.next())
        snap.nodes.append({q.value(0).toString(), q.value(1)});
    if (q.lastError().isValid() && error && !*error)
        *error = Database::fromSqlError(q.lastError());
    return snap;
}

FwError SettingsStore::changeDomain(const QString& objectId, const QList<ColumnValue>& expected,
                                    const QList<ColumnValue>& values, WriteCheck* check) const
{
    WriteCheck spare;
    WriteCheck& out = check ? *check : spare;
    FwError err;
    const auto db = beginSave(m_connectionString, out, err);
    if (!db)
        return err;
    // The row's write lock comes first: no other save can change the row between the comparison and the write.
    // (An update to itself is the one lock every engine takes the same way; it also counts the rows.)
    {
        QSqlQuery lock = db->run(QStringLiteral("UPDATE ADDomain SET DomainName = DomainName WHERE AdDomainObjectID = ?"),
                                 {objectId}, &err);
        if (err)
            return failed(*db, err);
        out.matched = lock.numRowsAffected();
    }
    if (out.matched != 1)
        return failed(*db, {});
    if (!expected.isEmpty()) {
        QStringList names;
        for (const ColumnValue& cv : expected)
            names.append(domainColumnName(cv.column));
        QSqlQuery q = db->run(QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) +
                                  QStringLiteral(" FROM ADDomain WHERE AdDomainObjectID = ?"),
                              {objectId}, &err);
        if (!err && !q.next())
            err = q.lastError().isValid() ? Database::fromSqlError(q.lastError())
                                          : FwError{-2147467259, QStringLiteral("The domain row could not be read again")};
        if (err)
            return failed(*db, err);
        for (qsizetype i = 0; i < expected.size(); ++i) {
            if (!sameStoredValue(q.value(static_cast<int>(i)), expected[i].value))
                out.changed.append(names[i]);
        }
    }
    if (!out.changed.isEmpty() || values.isEmpty())
        return failed(*db, {});
    QStringList sets;
    QVariantList binds;
    for (const ColumnValue& cv : values) {
        sets.append(domainColumnName(cv.column) + QStringLiteral(" = ?"));
        binds.append(cv.value);
    }
    binds.append(objectId);
    QSqlQuery u = db->run(QStringLiteral("UPDATE ADDomain SET ") + sets.join(QStringLiteral(", ")) +
                              QStringLiteral(" WHERE AdDomainObjectID = ?"),
                          binds, &err);
    if (!err && u.numRowsAffected() != 1)
        err = {-2147467259, QStringLiteral("The update of the domain row changed %1 rows instead of one").arg(u.numRowsAffected())};
    if (err)
        return failed(*db, err);
    return commitSave(*db);
}

FwError SettingsStore::writeNodes(const QList<ExpectedNode>& expected, const QList<NodeWrite>& writes, WriteCheck* check) const
{
    WriteCheck spare;
    WriteCheck& out = check ? *check : spare;
    FwError err;
    const auto db = beginSave(m_connectionString, out, err);
    if (!db)
        return err;
    // Every node the save depends on is locked before it is read (see changeDomain).
    QStringList names;
    for (const ExpectedNode& e : expected)
        names.append(e.fullName);
    for (const NodeWrite& w : writes)
        names.append(w.fullName);
    names.removeDuplicates();
    for (const QString& name : names) {
        db->run(QStringLiteral("UPDATE Configuration SET NodeValue = NodeValue WHERE NodeID IN "
                               "(SELECT NodeID FROM vw_Configuration WHERE FullNodeName = ?)"),
                {name}, &err);
        if (err)
            return failed(*db, err);
    }
    for (const ExpectedNode& e : expected) {
        QSqlQuery q = db->run(QStringLiteral("SELECT NodeValue FROM vw_Configuration WHERE FullNodeName = ?"), {e.fullName}, &err);
        const bool present = !err && q.next();
        if (!err && q.lastError().isValid())
            err = Database::fromSqlError(q.lastError());
        if (err)
            return failed(*db, err);
        if (present != e.present || (present && !sameStoredValue(q.value(0), e.value)))
            out.changed.append(e.fullName);
    }
    if (!out.changed.isEmpty())
        return failed(*db, {});
    const QString sql = db->dialect().configurationModify();
    for (const NodeWrite& w : writes) {
        int found = 0;
        {
            QSqlQuery q = db->run(QStringLiteral("SELECT COUNT(*) FROM vw_Configuration WHERE FullNodeName = ?"), {w.fullName}, &err);
            if (!err && q.next())
                found = q.value(0).toInt();
        }
        if (!err && found < 1)
            err = {-2147467259, QStringLiteral("The configuration node %1 does not exist").arg(w.fullName)};
        if (!err)
            db->run(sql, db->dialect().configurationModifyBinds(w.fullName, w.value), &err);
        if (err)
            return failed(*db, err);
    }
    return commitSave(*db);
}

} // namespace fw
