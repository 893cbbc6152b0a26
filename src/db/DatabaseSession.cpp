#include "db/DatabaseSession.h"

#include <QAbstractEventDispatcher>
#include <QThread>

namespace fw {

DatabaseSession::DatabaseSession() = default;

DatabaseSession::~DatabaseSession()
{
    close();
}

Result<Database*> DatabaseSession::open(const QString& connectionString, Database::Access access)
{
    // Access tells only an SQLite file apart: a read-only one is opened again to write.
    if (m_db && m_db->connectionString() == connectionString &&
        (access == Database::Access::ReadOnly || m_db->access() == Database::Access::ReadWrite ||
         m_db->driverName() != QLatin1String("QSQLITE")))
        return m_db.get();
    Result<std::unique_ptr<Database>> opened = Database::open(connectionString, access);
    if (!opened)
        return opened.error();
    close();
    m_db = std::move(opened).value();
    // A new operation begins each time the thread's event loop has waited: for the user, or for the next scrape.
    // Called on the thread that waited, the connection's own.
    if (QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance(QThread::currentThread()))
        m_watch = QObject::connect(
            loop, &QAbstractEventDispatcher::aboutToBlock, &m_waits, [this] { startOperation(); }, Qt::DirectConnection);
    return m_db.get();
}

void DatabaseSession::startOperation()
{
    if (m_db)
        m_db->startOperation();
}

void DatabaseSession::close()
{
    if (!m_db)
        return;
    QObject::disconnect(m_watch);
    m_earlierLogins += m_db->logins();
    m_db.reset();
}

int DatabaseSession::logins() const
{
    return m_earlierLogins + (m_db ? m_db->logins() : 0);
}

} // namespace fw
