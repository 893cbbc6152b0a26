#include "db/Database.h"

#include "db/BufferedResult.h"
#include "db/ConnectionStringRedaction.h"
#include "db/OdbcLogin.h"
#include "db/StreamedResult.h"
#include "platform/DebugChannel.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlResult>

#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>

namespace fw {

namespace {

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("ferrowind-%1").arg(counter.fetchAndAddRelaxed(1));
}

// Every network verdict on the database, the login included, comes within this.

// What one connection's statements may wait for other writers' locks, in all: a group of operations gives its
// verdict within this, not within this for each statement.
constexpr int kSqliteLockWaitMs = 5000;

} // namespace

QString Database::openFailure(const QString& connectionString, const QString& reason)
{
    return QStringLiteral("Cannot open the database (%1): %2")
        .arg(redactConnectionString(connectionString), withoutConnectionSecrets(reason, connectionString));
}

namespace {

// SQLite's refusals of a reader that would have to write name no file: say which one it needs.
FwError withSqliteReadOnlyReason(FwError e, const QString& path)
{
    if (e.number == SQLITE_READONLY_DIRECTORY)
        e.description += QStringLiteral(" (SQLite has to create a file beside the database, in WAL mode its -wal and -shm "
                                        "files, and this user cannot write to the folder %1)")
                             .arg(QFileInfo(path).absolutePath());
    else if (e.number == SQLITE_READONLY_ROLLBACK)
        e.description += QStringLiteral(" (a writer that stopped left its journal beside the database; a program that may "
                                        "write the database rolls it back when it next opens it)");
    return e;
}

// The SQLite version Qt's plugin reports, empty when it cannot be asked.
QString pluginSqliteVersion()
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return {};
    const QString name = nextConnectionName();
    QString version;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(QStringLiteral(":memory:"));
        if (db.isValid() && db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT sqlite_version()")) && q.next())
                version = q.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return version;
}

} // namespace

QString Database::sqliteLibraryMismatch(const QString& pluginVersion, const QString& linkedVersion)
{
    if (pluginVersion == linkedVersion)
        return {};
    return QStringLiteral("Qt's SQLite plugin runs on SQLite %1, this program links %2: each statement waits up to %3 "
                          "seconds for another writer's lock instead of the connection's statements sharing one wait")
        .arg(pluginVersion.isEmpty() ? QStringLiteral("(unknown)") : pluginVersion, linkedVersion)
        .arg(kSqliteLockWaitMs / 1000);
}

bool Database::sqliteLockWaitsShared(DebugChannel* debug)
{
    static const QString mismatch = sqliteLibraryMismatch(pluginSqliteVersion(), QString::fromLatin1(sqlite3_libversion()));
    if (debug && !mismatch.isEmpty())
        debug->write(mismatch);
    return mismatch.isEmpty();
}

FwError Database::fromSqlError(const QSqlError& e)
{
    bool ok = false;
    int code = e.nativeErrorCode().toInt(&ok);
    if (!ok || code == 0)
        code = kUnspecifiedCode;
    QString text = e.text().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("Unknown database error");
    return {code, text};
}

int Database::statementLimitSeconds(qint64 leftMs)
{
    return static_cast<int>(std::max<qint64>(1, (leftMs - kCancelMargin.count()) / 1000));
}

QString Database::noAnswerText(int seconds)
{
    return seconds == 1 ? QStringLiteral("The database server did not answer within 1 second")
                        : QStringLiteral("The database server did not answer within %1 seconds").arg(seconds);
}

void Database::startOperation()
{
    if (m_lockWaits)
        m_lockWaits->spentMs = 0;
    if (m_serverWaits)
        m_serverWaits->leftMs = m_budget.count();
    // A transaction that has sent statements on this connection cannot be carried over to a new one: no reopening.
    m_usedInOperation = m_inTransaction && m_usedInOperation;
    m_reopenedInOperation = false;
}

QString Database::connectionStringOrDefault(const QString& configured)
{
    return configured.isEmpty() ? QString::fromLatin1(kDefaultConnectionString) : configured;
}

QVariant Database::bindable(const QVariant& v)
{
    if (!v.isValid())
        return QVariant(QMetaType::fromType<QString>());
    return v;
}

Database::Database(QSqlDatabase db, QString connectionName, SqlDialect dialect)
    : m_db(std::move(db)), m_connectionName(std::move(connectionName)), m_dialect(dialect)
{
}

void Database::shareLockWaits()
{
    const QVariant h = m_db.driver()->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0)
        return;
    sqlite3* handle = *static_cast<sqlite3* const*>(h.data());
    if (!handle)
        return;
    m_lockWaits = std::make_unique<LockWaits>();
    sqlite3_busy_handler(
        handle,
        [](void* state, int count) -> int {
            auto* waits = static_cast<LockWaits*>(state);
            using namespace std::chrono;
            const auto now = steady_clock::now();
            // The wall time since the last call: the sleep and the retry of the lock, which costs more than nothing
            // where file locks are slow (Wine).
            if (count > 0)
                waits->spentMs += std::max<int>(1, static_cast<int>(duration_cast<milliseconds>(now - waits->lastCall).count()));
            if (waits->spentMs >= kSqliteLockWaitMs)
                return 0; // the statement fails with "database is locked"
            waits->lastCall = now;
            sqlite3_sleep(std::min(10, kSqliteLockWaitMs - waits->spentMs));
            return 1;
        },
        m_lockWaits.get());
}

Database::~Database()
{
    if (m_stream && m_stream->result)
        m_stream->result->close(); // a result read after its connection closed ends with a failure
    m_stream.reset();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

Result<std::unique_ptr<Database>> Database::openSqlite(const QString& path, const QString& connectionString, Access access)
{
    const QString name = nextConnectionName();
    std::unique_ptr<Database> result;
    FwError error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        if (!db.isValid()) {
            error = {-2147467259, QStringLiteral("The Qt SQL driver QSQLITE is not installed")};
        } else {
            db.setDatabaseName(path);
            // A wait per statement, until the connection's shared wait replaces it.
            QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteLockWaitMs);
            if (access == Access::ReadOnly)
                options += QStringLiteral(";QSQLITE_OPEN_READONLY");
            db.setConnectOptions(options);
            if (!db.open()) {
                error = fromSqlError(db.lastError());
                error.description = openFailure(connectionString, error.description);
            } else {
                QSqlQuery(db).exec(QStringLiteral("PRAGMA foreign_keys = ON"));
                result.reset(new Database(db, name, SqlDialect(SqlDialect::Engine::Sqlite)));
                // Otherwise Qt's busy timeout stays, a wait for each statement.
                if (sqliteLockWaitsShared())
                    result->shareLockWaits();
            }
        }
    }
    if (!result) {
        QSqlDatabase::removeDatabase(name);
        return error;
    }
    return result;
}

Result<Database::OdbcSession> Database::loginOdbc(const QString& connectionString, std::chrono::milliseconds budget)
{
    const QString name = nextConnectionName();
    QElapsedTimer loginClock;
    loginClock.start();
    // FreeTDS reads the last attribute of a string handed over in UTF-16 one character too far (a NUL ends up in
    // the database name of the login and the server drops it): end the string with ';' as the grammar allows.
    const QString driverString = connectionString.trimmed().endsWith(QLatin1Char(';')) ? connectionString
                                                                                       : connectionString + QLatin1Char(';');
    OdbcLogin login = loginWithin(name, driverString, budget);
    const std::chrono::milliseconds loginTook{loginClock.elapsed()};
    using Outcome = OdbcLogin::Outcome;
    if (login.outcome == Outcome::NoAnswer || login.outcome == Outcome::StillWaiting) {
        // The login goes on without us and frees the name when it ends.
        QString reason = QStringLiteral("the database server did not answer within %1 seconds").arg(budget.count() / 1000);
        if (login.outcome == Outcome::StillWaiting)
            reason += QStringLiteral(" and has not answered since");
        return FwError{-2147217871, openFailure(connectionString, reason)};
    }
    if (login.outcome == Outcome::Failed) {
        FwError error;
        if (!login.db.isValid()) {
            error = {-2147467259, QStringLiteral("The Qt SQL driver QODBC is not installed")};
        } else {
            error = fromSqlError(login.error);
            error.description = openFailure(connectionString, error.description);
        }
        login.db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        return error;
    }
    const SqlDialect dialect(SqlDialect::fromDbmsName(login.dbmsName));
    if (dialect.engine() == SqlDialect::Engine::Sqlite)
        QSqlQuery(login.db).exec(QStringLiteral("PRAGMA foreign_keys = ON"));
    return OdbcSession{login.db, name, dialect, loginTook};
}

Result<std::unique_ptr<Database>> Database::openOdbc(const QString& connectionString, std::chrono::milliseconds budget)
{
    Result<OdbcSession> login = loginOdbc(connectionString, budget);
    if (!login)
        return login.error();
    std::unique_ptr<Database> result(new Database(login->db, login->name, login->dialect));
    login->db = QSqlDatabase(); // the connection's copy is the last
    result->m_connectionString = connectionString;
    result->m_logins = 1;
    result->m_budget = budget;
    if (result->m_dialect.engine() == SqlDialect::Engine::SqlServer) {
        if (Result<void> limited = result->limitServerWaits(login->loginTook); !limited) {
            FwError error = limited.error();
            error.description = openFailure(connectionString, error.description);
            return error;
        }
    }
    return result;
}

Result<std::unique_ptr<Database>> Database::open(const QString& connectionString, Access access,
                                                 std::chrono::milliseconds operationBudget)
{
    Result<std::unique_ptr<Database>> opened = FwError::unknown();
    if (connectionString.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        const QString path = connectionString.mid(7);
        if (!QFileInfo(path).isFile())
            return FwError{-2147467259, QStringLiteral("The database file %1 does not exist").arg(path)};
        opened = openSqlite(path, connectionString, access);
    } else if (connectionString.trimmed().isEmpty()) {
        return FwError{-2147467259, QStringLiteral("No database connection string is set")};
    } else {
        opened = openOdbc(connectionString, operationBudget);
    }
    if (opened) {
        (*opened)->m_connectionString = connectionString;
        (*opened)->m_access = access;
    }
    return opened;
}

Result<std::unique_ptr<Database>> Database::createSqlite(const QString& path)
{
    return openSqlite(path, QStringLiteral("sqlite:") + path, Access::ReadWrite);
}

QSqlQuery Database::statement()
{
    freeConnection();
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    return q;
}

void Database::freeConnection()
{
    if (m_stream && m_stream->result)
        m_stream->result->release();
    m_stream.reset();
}

FwError Database::explained(FwError failure) const
{
    return m_db.driverName() == QLatin1String("QSQLITE") ? withSqliteReadOnlyReason(std::move(failure), m_db.databaseName())
                                                         : failure;
}

Result<void> Database::runScript(const QString& script)
{
    static const QRegularExpression go(QStringLiteral("^\\s*GO\\s*$"),
                                       QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    if (script.contains(go)) {
        for (const QString& batch : script.split(go)) {
            if (batch.trimmed().isEmpty())
                continue;
            QSqlQuery q = statement();
            if (!q.exec(batch))
                return fromSqlError(q.lastError());
        }
        return Result<void>::success();
    }
    // Statements end with ';' at the end of a line; triggers keep their inner ';' mid-line or
    // are written with "END;" closing them.
    QString current;
    const QStringList lines = script.split(QLatin1Char('\n'));
    bool inTrigger = false;
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("--")) || (line.isEmpty() && current.isEmpty()))
            continue;
        current += raw + QLatin1Char('\n');
        if (line.startsWith(QLatin1String("CREATE TRIGGER"), Qt::CaseInsensitive))
            inTrigger = true;
        const bool ends = inTrigger ? line.compare(QLatin1String("END;"), Qt::CaseInsensitive) == 0
                                    : line.endsWith(QLatin1Char(';'));
        if (!ends)
            continue;
        QSqlQuery q = statement();
        if (!q.exec(current))
            return fromSqlError(q.lastError());
        current.clear();
        inTrigger = false;
    }
    return Result<void>::success();
}

} // namespace fw
