#pragma once
#include "db/SqlDialect.h"
#include "log/FwError.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <memory>

namespace fw {

// One connection opened from a connection string for one group of operations, closed when it goes.
// "sqlite:PATH" opens an existing SQLite file; any other text is an ODBC connection string, used as given.
class Database {
public:
    static std::unique_ptr<Database> open(const QString& connectionString, FwError* error);
    // Creates the SQLite file when it is missing (only the demo environment and tests do this).
    static std::unique_ptr<Database> createSqlite(const QString& path, FwError* error);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const SqlDialect& dialect() const { return m_dialect; }
    QSqlDatabase& handle() { return m_db; }
    QString driverName() const { return m_db.driverName(); }

    // Prepares and runs a statement with bound values (positional '?').
    // On failure `error` says what the driver said and the query is inactive.
    QSqlQuery run(const QString& sql, const QVariantList& binds, FwError* error);
    // Runs a batch of statements separated by ';' at line ends (schema files).
    FwError runScript(const QString& script);

    FwError begin();
    FwError commit();
    void rollback();

    static FwError fromSqlError(const class QSqlError& e);

    static constexpr const char* kDefaultConnectionString = "Driver={SQL Server};server=;database=VelmoraDb";

private:
    Database(QSqlDatabase db, QString connectionName, SqlDialect dialect);
    void shareLockWaits();
    static std::unique_ptr<Database> openSqlite(const QString& path, const QString& connectionString, FwError* error);
    static std::unique_ptr<Database> openOdbc(const QString& connectionString, FwError* error);

    // SQLite: what the statements of this connection have waited for other writers' locks, in all.
    struct LockWaits {
        int spentMs = 0;
    };

    QSqlDatabase m_db;
    QString m_connectionName;
    SqlDialect m_dialect;
    std::unique_ptr<LockWaits> m_lockWaits;
};

} // namespace fw
