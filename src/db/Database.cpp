#include "db/Database.h"

#include "db/ConnectionStringRedaction.h"
#include "db/OdbcLogin.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>

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
constexpr std::chrono::milliseconds kOdbcLoginLimit{5000};

// What one connection's statements may wait for other writers' locks, in all: a group of operations gives its
// verdict within this, not within this for each statement.
constexpr int kSqliteLockWaitMs = 5000;

QString openFailure(const QString& connectionString, const QString& reason)
{
    return QStringLiteral("Cannot open the database (%1): %2")
        .arg(redactConnectionString(connectionString), withoutConnectionSecrets(reason, connectionString));
}

} // namespace

FwError Database::fromSqlError(const QSqlError& e)
{
    bool ok = false;
    int code = e.nativeErrorCode().toInt(&ok);
    if (!ok || code == 0)
        code = -2147467259; // the generic "unspecified error" data-access layers report
    QString text = e.text().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("Unknown database error");
    return {code, text};
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
        [](void* state, int) -> int {
            auto* waits = static_cast<LockWaits*>(state);
            if (waits->spentMs >= kSqliteLockWaitMs)
                return 0; // the statement fails with "database is locked"
            using namespace std::chrono;
            const auto start = steady_clock::now();
            sqlite3_sleep(std::min(10, kSqliteLockWaitMs - waits->spentMs));
            const auto slept = duration_cast<milliseconds>(steady_clock::now() - start).count();
            waits->spentMs += std::max<int>(1, static_cast<int>(slept));
            return 1;
        },
        m_lockWaits.get());
}

Database::~Database()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

std::unique_ptr<Database> Database::openSqlite(const QString& path, const QString& connectionString, FwError* error)
{
    const QString name = nextConnectionName();
    std::unique_ptr<Database> result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        if (!db.isValid()) {
            if (error)
                *error = {-2147467259, QStringLiteral("The Qt SQL driver QSQLITE is not installed")};
        } else {
            db.setDatabaseName(path);
            // A wait per statement, until the connection's shared wait replaces it.
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteLockWaitMs));
            if (!db.open()) {
                if (error) {
                    *error = fromSqlError(db.lastError());
                    error->description = openFailure(connectionString, error->description);
                }
            } else {
                QSqlQuery(db).exec(QStringLiteral("PRAGMA foreign_keys = ON"));
                result.reset(new Database(db, name, SqlDialect(SqlDialect::Engine::Sqlite)));
                result->shareLockWaits();
            }
        }
    }
    if (!result)
        QSqlDatabase::removeDatabase(name);
    return result;
}

std::unique_ptr<Database> Database::openOdbc(const QString& connectionString, FwError* error)
{
    const QString name = nextConnectionName();
    OdbcLogin login = loginWithin(name, connectionString, kOdbcLoginLimit);
    using Outcome = OdbcLogin::Outcome;
    if (login.outcome == Outcome::NoAnswer || login.outcome == Outcome::StillWaiting) {
        // The login goes on without us and frees the name when it ends.
        QString reason = QStringLiteral("the database server did not answer within 5 seconds");
        if (login.outcome == Outcome::StillWaiting)
            reason += QStringLiteral(" and has not answered since");
        if (error)
            *error = {-2147217871, openFailure(connectionString, reason)};
        return nullptr;
    }
    if (login.outcome == Outcome::Failed) {
        if (error) {
            if (!login.db.isValid())
                *error = {-2147467259, QStringLiteral("The Qt SQL driver QODBC is not installed")};
            else {
                *error = fromSqlError(login.error);
                error->description = openFailure(connectionString, error->description);
            }
        }
        login.db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        return nullptr;
    }
    const SqlDialect dialect(SqlDialect::fromDbmsName(login.dbmsName));
    if (dialect.engine() == SqlDialect::Engine::Sqlite)
        QSqlQuery(login.db).exec(QStringLiteral("PRAGMA foreign_keys = ON"));
    return std::unique_ptr<Database>(new Database(login.db, name, dialect));
}

std::unique_ptr<Database> Database::open(const QString& connectionString, FwError* error)
{
    if (error)
        *error = {};
    if (connectionString.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        const QString path = connectionString.mid(7);
        if (!QFileInfo(path).isFile()) {
            if (error)
                *error = {-2147467259, QStringLiteral("The database file %1 does not exist").arg(path)};
            return nullptr;
        }
        return openSqlite(path, connectionString, error);
    }
    if (connectionString.trimmed().isEmpty()) {
        if (error)
            *error = {-2147467259, QStringLiteral("No database connection string is set")};
        return nullptr;
    }
    return openOdbc(connectionString, error);
}

std::unique_ptr<Database> Database::createSqlite(const QString& path, FwError* error)
{
    if (error)
        *error = {};
    return openSqlite(path, QStringLiteral("sqlite:") + path, error);
}

QSqlQuery Database::run(const QString& sql, const QVariantList& binds, FwError* error)
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (error)
        *error = {};
    if (!q.prepare(sql)) {
        if (error)
            *error = fromSqlError(q.lastError());
        return q;
    }
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds[i]);
    if (!q.exec() && error)
        *error = fromSqlError(q.lastError());
    return q;
}

FwError Database::runScript(const QString& script)
{
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
        const bool ends = inTrigger ? line.compare(QLatin1String("END;"), Qt::CaseInsensitive) == 0 : line.endsWith(QLatin1Char(';'));
        if (!ends)
            continue;
        QSqlQuery q(m_db);
        if (!q.exec(current))
            return fromSqlError(q.lastError());
        current.clear();
        inTrigger = false;
    }
    return {};
}

FwError Database::begin()
{
    if (!m_db.transaction())
        return fromSqlError(m_db.lastError());
    return {};
}

FwError Database::commit()
{
    if (!m_db.commit())
        return fromSqlError(m_db.lastError());
    return {};
}

void Database::rollback()
{
    m_db.rollback();
}

} // namespace fw
