#include "MonitorTestDb.h"

#include "app/StartupGate.h"
#include "db/Database.h"
#include "db/DemoData.h"

#include <QDir>
#include <gtest/gtest.h>

namespace fw::test {

MonitorTestDb::MonitorTestDb(TestContext& t, Engine engine) : m_t(t)
{
    t.setEngine(engine);
    if (engineConfigured(engine))
        t.createEmptyDatabase();
    StartupGate(t.ctx()).startNewLog();
}

QString MonitorTestDb::ts(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void MonitorTestDb::addDomain(const QString& name, const QString& dc, const QString& id)
{
    m_t.sql(QStringLiteral("INSERT INTO ADDomain (AdDomainObjectID, DomainName, CurrentDC) VALUES (?,?,?)"), {id, name, dc});
}

void MonitorTestDb::addDcRun(qint64 syncId, bool active, const QDateTime& start, const QVariant& end, int usnIncrement,
                             int interval)
{
    m_t.sql(
        QStringLiteral(
            "INSERT INTO SyncHistoryDC (SyncId, IsActive, SyncStart, syncEnd, USNIncrement, SyncInterval) VALUES (?,?,?,?,?,?)"),
        {syncId, active ? 1 : 0, ts(start), end.typeId() == QMetaType::QDateTime ? QVariant(ts(end.toDateTime())) : end,
         usnIncrement, interval});
}

void MonitorTestDb::addGcRun(qint64 syncId, bool active, const QDateTime& start, const QVariant& end, int usnIncrement,
                             int interval, int usnLag)
{
    m_t.sql(QStringLiteral(
                "INSERT INTO SyncHistoryGC (SyncId, Server, IsActive, USNIncrement, SyncInterval, USNLag, SyncStart, syncEnd) "
                "VALUES (?,?,?,?,?,?,?,?)"),
            {syncId, QStringLiteral("gc01"), active ? 1 : 0, usnIncrement, interval, usnLag, ts(start),
             end.typeId() == QMetaType::QDateTime ? QVariant(ts(end.toDateTime())) : end});
}

void MonitorTestDb::addDcDomainRun(qint64 syncId, const QString& domain, bool active, int usnLag)
{
    m_t.sql(QStringLiteral(
                "INSERT INTO SyncHistoryDCDomain (SyncId, Domain, Server, IsActive, USNLag, SyncStart) VALUES (?,?,?,?,?,?)"),
            {syncId, domain, QStringLiteral("dc01"), active ? 1 : 0, usnLag, ts(m_t.clock().now())});
}

void MonitorTestDb::addObject(qint64 syncId, const QString& domain, bool active, const QString& type, bool deleted,
                              const QVariant& count, const QVariant& elapsed, const QVariant& lastSync)
{
    m_t.sql(
        QStringLiteral(
            "INSERT INTO SyncHistoryObject (SyncId, Domain, IsActive, ObjectType, IsDeleted, Count, Remaining, Elasped, LastSync) "
            "VALUES (?,?,?,?,?,?,?,?,?)"),
        {syncId, domain, active ? 1 : 0, type, deleted ? 1 : 0, count, QVariant(), elapsed,
         lastSync.typeId() == QMetaType::QDateTime ? QVariant(ts(lastSync.toDateTime())) : lastSync});
}

} // namespace fw::test
