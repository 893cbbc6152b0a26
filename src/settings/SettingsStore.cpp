#include "settings/SettingsStore.h"

#include "db/Database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <cmath>

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

} // namespace

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

FwError SettingsStore::changeDomain(const QString& objectId, const QList<ColumnValue>& values, int* matched) const
{
    if (matched)
        *matched = 0;
    FwError err;
    auto db = Database::open(m_connectionString, &err);
    if (!db)
        return err;
    if ((err = db->begin()))
        return err;
    int count = 0;
    {
        QSqlQuery q = db->run(QStringLiteral("SELECT COUNT(*) FROM ADDomain WHERE AdDomainObjectID = ?"), {objectId}, &err);
        if (!err && q.next())
            count = q.value(0).toInt();
    }
    if (err) {
        db->rollback();
        return err;
    }
    if (matched)
        *matched = count;
    if (count != 1 || values.isEmpty()) {
        db->rollback();
        return {};
    }
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
    if (err) {
        db->rollback();
        return err;
    }
    if ((err = db->commit()))
        db->rollback();
    return err;
}

FwError SettingsStore::writeNodes(const QList<NodeWrite>& writes) const
{
    FwError err;
    auto db = Database::open(m_connectionString, &err);
    if (!db)
        return err;
    if ((err = db->begin()))
        return err;
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
        if (err) {
            db->rollback();
            return err;
        }
    }
    if ((err = db->commit()))
        db->rollback();
    return err;
}

} // namespace fw
