#pragma once
#include "db/Database.h"

#include <QObject>
#include <memory>

namespace fw {

// The one connection of a command, a window or a scrape loop: opened on first use and kept, so that a server across
// the network costs one login, not one per read. An operation (a command, a user action, a scrape) gets its own
// wait budget and, should the server have dropped the connection meanwhile, one login again, unnoticed (Database).
// Operations start where the thread's event loop waited (between user actions, between scrapes) and where
// startOperation() is called; a command without an event loop is one operation.
// A connection belongs to the thread that opened it: a session is used on one thread only.
class DatabaseSession {
public:
    DatabaseSession();
    ~DatabaseSession();
    DatabaseSession(const DatabaseSession&) = delete;
    DatabaseSession& operator=(const DatabaseSession&) = delete;

    // The connection to `connectionString`: the one kept when it goes to the same database and allows `access`
    // (only an SQLite file opened read-only does not allow writing), else a new one, kept from now on. A
    // connection that cannot be opened is the failure, and the one kept before stays.
    Result<Database*> open(const QString& connectionString, Database::Access access);
    void startOperation();
    // Lets the connection go; the next open logs in again.
    void close();
    Database* current() const { return m_db.get(); }
    // The logins of this session's connections, all together.
    int logins() const;

private:
    std::unique_ptr<Database> m_db;
    int m_earlierLogins = 0;
    QObject m_waits; // ends the watch on the event loop with the session
    QMetaObject::Connection m_watch;
};

} // namespace fw
