#pragma once
#include "db/SqlDialect.h"
#include "log/Result.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <chrono>
#include <memory>
#include <vector>

namespace fw {

class DebugChannel;

// One connection opened from a connection string for one group of operations, closed when it goes.
// "sqlite:PATH" opens an existing SQLite file; any other text is an ODBC connection string, used as given.
class Database {
public:
    // What the opener means to do. A reader's SQLite connection is read-only: it never rolls a journal back or folds
    // the write-ahead log into the file (a monitoring user may not own either), and SQLite refuses any write on it.
    enum class Access { ReadWrite, ReadOnly };
    // What a connection may wait for a database server in all, its login included: the program gives every verdict
    // within this. A test's own set-up, which must hold on a busy machine, passes a budget of its own.
    static constexpr std::chrono::milliseconds kServerBudget{5000};
    static Result<std::unique_ptr<Database>> open(const QString& connectionString, Access access = Access::ReadWrite,
                                                  std::chrono::milliseconds serverBudget = kServerBudget);
    // Creates the SQLite file when it is missing (only the demo environment and tests do this).
    static Result<std::unique_ptr<Database>> createSqlite(const QString& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const SqlDialect& dialect() const { return m_dialect; }
    QSqlDatabase& handle() { return m_db; }
    QString driverName() const { return m_db.driverName(); }

    // A statement on this connection that reads forward only: a scrollable one becomes a server cursor on SQL
    // Server through FreeTDS, which the server refuses for anything but a plain SELECT.
    QSqlQuery statement();
    // Prepares and runs a statement with bound values (positional '?').
    // On failure the error says what the driver said.
    Result<QSqlQuery> run(const QString& sql, const QVariantList& binds = {}) { return runStatement(sql, binds, false); }
    // The same for a long result read row by row beside others (the history's): on SQL Server it is not read into
    // memory but runs on a connection of its own, outside this connection's transaction.
    Result<QSqlQuery> runStreaming(const QString& sql, const QVariantList& binds = {});
    // Runs a schema file: batches ended by lines reading GO (T-SQL), or else statements ending with ';' at line ends.
    Result<void> runScript(const QString& script);

    Result<void> begin();
    Result<void> commit();
    void rollback();

    static FwError fromSqlError(const class QSqlError& e);
    // A value as bound: a null without a type goes as a null text, which every engine converts to the column's
    // type (the ODBC driver would send it as binary, which SQL Server does not convert to every type).
    static QVariant bindable(const QVariant& v);

    // The lock waits of a SQLite connection share one budget through the busy handler of the library this program
    // links, set on the handle of Qt's plugin: right only when the plugin runs on that same library. Decided once per
    // process; start-up passes its debugger channel, which is told when each statement waits on its own instead.
    static bool sqliteLockWaitsShared(DebugChannel* debug = nullptr);
    // Empty when the plugin's SQLite version is the linked library's; otherwise the debugger line saying so.
    static QString sqliteLibraryMismatch(const QString& pluginVersion, const QString& linkedVersion);

    // The connection string to open: the one the installation sets or, when it sets none, the default.
    static QString connectionStringOrDefault(const QString& configured);

private:
    static constexpr const char* kDefaultConnectionString = "Driver={SQL Server};server=;database=VelmoraDb";

    Database(QSqlDatabase db, QString connectionName, SqlDialect dialect);
    Result<QSqlQuery> runStatement(const QString& sql, const QVariantList& binds, bool streaming);
    // A statement's failure, with what SQLite would need of the file system when it refuses a reader.
    FwError explained(FwError failure) const;
    void shareLockWaits();
    Result<void> limitServerWaits(std::chrono::milliseconds budget, std::chrono::milliseconds loginTook);
    Result<void> boundStatement(QSqlQuery& q);
    int queryTimeoutSeconds() const;
    // Charges a statement's wait to the connection; a failure that took the whole time-out says so.
    FwError countServerWait(qint64 waitedMs, int limitSeconds, FwError failure);
    static Result<std::unique_ptr<Database>> openSqlite(const QString& path, const QString& connectionString, Access access);
    static Result<std::unique_ptr<Database>> openOdbc(const QString& connectionString, std::chrono::milliseconds budget);

    // SQLite: what the statements of this connection have waited for other writers' locks, in all.
    struct LockWaits {
        int spentMs = 0;
    };

    // SQL Server: what this connection may still wait for the server in all, the login included; each statement
    // gets what is left as its query timeout, and lock waits end within it with the server's own message.
    struct ServerWaits {
        qint64 leftMs = 0;
        std::chrono::milliseconds budget{0}; // what it had at the start
        bool longReads = false;              // a connection of runStreaming's
    };

    QSqlDatabase m_db;
    QString m_connectionName;
    SqlDialect m_dialect;
    std::unique_ptr<LockWaits> m_lockWaits;
    std::unique_ptr<ServerWaits> m_serverWaits;
    QString m_connectionString;
    std::vector<std::unique_ptr<Database>> m_streams;
};

} // namespace fw
