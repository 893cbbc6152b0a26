#pragma once
#include "db/SqlDialect.h"
#include "log/Result.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace fw {

class DebugChannel;

class BufferedResult;
class OdbcCursor;
class StreamLink;

// One connection opened from a connection string, kept for a command, a window or a scrape loop (DatabaseSession)
// and closed when it goes. "sqlite:PATH" opens an existing SQLite file; any other text is an ODBC connection string,
// used as given. Its statements wait within one budget per operation (startOperation).
class Database {
public:
    // What the opener means to do. A reader's SQLite connection is read-only: it never rolls a journal back or folds
    // the write-ahead log into the file (a monitoring user may not own either), and SQLite refuses any write on it.
    enum class Access { ReadWrite, ReadOnly };
    // What an operation on the connection may wait for the database in all, the login of its connection included.
    static constexpr std::chrono::milliseconds kOperationBudget{5000};
    // A test's own set-up, which must hold on a busy machine, passes a budget of its own.
    static Result<std::unique_ptr<Database>> open(const QString& connectionString, Access access = Access::ReadWrite,
                                                  std::chrono::milliseconds operationBudget = kOperationBudget);
    // Creates the SQLite file when it is missing (only the demo environment and tests do this).
    static Result<std::unique_ptr<Database>> createSqlite(const QString& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // What a statement leaves FreeTDS to cancel it when its time is up.
    static constexpr std::chrono::milliseconds kCancelMargin{500};

    // A new operation on this connection (a command's, a user action's, a scrape's): the whole budget again, and one
    // login again should the server have dropped the connection since its last use.
    void startOperation();
    // The logins this connection made: its first, and each reopening.
    int logins() const { return m_logins; }
    const QString& connectionString() const { return m_connectionString; }
    Access access() const { return m_access; }

    // What a statement may wait when `leftMs` of the operation's budget is left: that, less the cancel's margin, in
    // whole seconds (the driver's unit) and at least one.
    static int statementLimitSeconds(qint64 leftMs);
    // "The database server did not answer within N seconds".
    static QString noAnswerText(int seconds);

    const SqlDialect& dialect() const { return m_dialect; }
    QSqlDatabase& handle() { return m_db; }
    QString driverName() const { return m_db.driverName(); }

    // A statement on this connection that reads forward only: a scrollable one becomes a server cursor on SQL
    // Server through FreeTDS, which the server refuses for anything but a plain SELECT.
    QSqlQuery statement();
    // Prepares and runs a statement with bound values (positional '?').
    // On failure the error says what the driver said.
    Result<QSqlQuery> run(const QString& sql, const QVariantList& binds = {}) { return runStatement(sql, binds, false); }
    // The same for a long result read row by row beside others (the history's). On SQL Server it is read as it comes
    // while the connection has nothing else to do; the next statement first takes the rest of it off the connection
    // (one open result per connection, see StreamedResult), so that every statement stays on this one login. Its
    // waits for the server are each bounded by the whole budget and not charged to the operation (a long read is no
    // verdict: the history shows its progress and can be abandoned).
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

    struct Statement {
        QString sql;
        QVariantList binds = {};
    };
    // Runs the statements in order as one batch: on SQL Server one text sent at once, one round trip; elsewhere one
    // after the other. Answers the rows of the SELECTs among them, in order, each read whole; fails at the first
    // failure.
    Result<QList<QSqlQuery>> runBatch(const QList<Statement>& statements);
    // SQL Server: runs these SELECTs together, in one round trip, and keeps their rows for this operation, each to
    // answer the same statement (the same text, the same values) once, as if it ran then. Elsewhere, and when the
    // batch fails, nothing is kept: each statement then runs, or fails, on its own. A write, a transaction or a new
    // operation lets what is kept go.
    void prefetch(const QList<Statement>& statements);
    // What prefetch keeps for a statement, without using it up.
    std::optional<QSqlQuery> prefetched(const Statement& statement) const;

private:
    static constexpr int kNoAnswerCode = -2147217871;    // the data-access layers' "timeout expired"
    static constexpr int kUnspecifiedCode = -2147467259; // the data-access layers' "unspecified error"
    static constexpr const char* kDefaultConnectionString = "Driver={SQL Server};server=;database=VelmoraDb";

    Database(QSqlDatabase db, QString connectionName, SqlDialect dialect);
    static QString openFailure(const QString& connectionString, const QString& reason);
    Result<QSqlQuery> runStatement(const QString& sql, const QVariantList& binds, bool streaming);
    // Through Qt's driver (SQLite, and ODBC drivers other than SQL Server's).
    Result<QSqlQuery> runWithQt(const QString& sql, const QVariantList& binds);
    // On SQL Server: directly, one round trip (OdbcCursor).
    Result<QSqlQuery> runOnServer(const QString& sql, const QVariantList& binds, bool streaming);
    struct ServerCall;
    Result<std::unique_ptr<OdbcCursor>> execute(const QString& sql, const QVariantList& binds, bool longRead, ServerCall& call);
    Result<QList<BufferedResult*>> readResults(OdbcCursor& cursor, ServerCall& call, bool longRead);
    Result<void> executePlain(const QString& sql);
    // SET LOCK_TIMEOUT and BEGIN TRANSACTION not sent yet: they go with the next statement without parameters, or
    // alone before one with parameters (which SQL Server runs in a scope of its own).
    QString pendingPrefix() const;
    // Runs a step on the server: first opens the connection again when it broke or was dropped before this operation
    // did anything on it, and repeats the step once when it finds it dropped then.
    template <typename Step>
    auto onServer(Step&& step) -> decltype(step());
    static QString keyOf(const QString& sql, const QVariantList& binds);
    // Takes a streamed result's rest off the connection before another statement runs.
    void freeConnection();
    // Whether a failure found the server gone before this operation had done anything on the connection: it is then
    // opened again, once, and the step repeated.
    bool mayReopen(const FwError& failure) const;
    bool serverDropped() const;
    Result<void> reopen();
    // A statement's failure, with what SQLite would need of the file system when it refuses a reader.
    FwError explained(FwError failure) const;
    void shareLockWaits();
    Result<void> limitServerWaits(std::chrono::milliseconds loginTook);
    int queryTimeoutSeconds(bool longRead) const;
    // Charges a statement's wait to the operation; a failure that took the whole time-out says so.
    FwError countServerWait(qint64 waitedMs, int limitSeconds, bool longRead, FwError failure);
    static Result<std::unique_ptr<Database>> openSqlite(const QString& path, const QString& connectionString, Access access);
    static Result<std::unique_ptr<Database>> openOdbc(const QString& connectionString, std::chrono::milliseconds budget);
    struct OdbcSession {
        QSqlDatabase db;
        QString name;
        SqlDialect dialect;
        std::chrono::milliseconds loginTook{0};
    };
    static Result<OdbcSession> loginOdbc(const QString& connectionString, std::chrono::milliseconds budget);

    // SQLite: what the statements of this connection have waited for other writers' locks, in all.
    struct LockWaits {
        int spentMs = 0;
        std::chrono::steady_clock::time_point lastCall; // of the busy handler, for the time its retries take
    };

    // SQL Server: what the operation may still wait for the server in all, a login included; each statement gets
    // what is left as its query timeout, and lock waits end within it with the server's own message.
    struct ServerWaits {
        qint64 leftMs = 0;
    };

    QSqlDatabase m_db;
    QString m_connectionName;
    SqlDialect m_dialect;
    Access m_access = Access::ReadWrite;
    std::unique_ptr<LockWaits> m_lockWaits;
    std::unique_ptr<ServerWaits> m_serverWaits;
    QString m_connectionString;
    std::shared_ptr<StreamLink> m_stream; // the streamed result holding the connection, if any
    QString m_pendingSetup;
    bool m_pendingBegin = false;
    bool m_broken = false; // a statement's time ran out: the driver may still be waiting for its cancel
    FwError m_brokenBy;
    std::map<QString, std::deque<std::shared_ptr<const BufferedResult>>> m_prefetched;
    int m_logins = 0;
    std::chrono::milliseconds m_budget = kOperationBudget; // each operation's
    bool m_usedInOperation = false;     // a statement of this operation reached the server
    bool m_reopenedInOperation = false; // this operation logged in again already
    bool m_inTransaction = false;
};

} // namespace fw
