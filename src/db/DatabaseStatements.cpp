// The statements of a connection: through Qt's driver (SQLite), or directly on SQL Server (OdbcCursor), with the
// operation's budget, the prefetched rows, the transactions and the reopening of a dropped connection.
#include "db/BufferedResult.h"
#include "db/Database.h"
#include "db/OdbcCursor.h"
#include "db/OdbcLogin.h"
#include "db/StreamedResult.h"

#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlError>

#include <sql.h>
#include <sqlext.h>

#include <utility>

namespace fw {

namespace {

SQLHANDLE connectionHandle(const QSqlDatabase& db)
{
    const QVariant h = db.driver() ? db.driver()->handle() : QVariant();
    if (!h.isValid() || (qstrcmp(h.typeName(), "SQLHANDLE") != 0 && h.metaType() != QMetaType::fromType<void*>()))
        return nullptr;
    return *static_cast<const SQLHANDLE*>(h.data());
}

bool isSelect(const QString& sql)
{
    return sql.trimmed().startsWith(QLatin1String("SELECT"), Qt::CaseInsensitive);
}

// CREATE and ALTER of a trigger, a view or a procedure must begin their batch.
bool opensItsBatch(const QString& sql)
{
    const QString s = sql.trimmed();
    return s.startsWith(QLatin1String("CREATE"), Qt::CaseInsensitive) ||
           s.startsWith(QLatin1String("ALTER"), Qt::CaseInsensitive);
}

} // namespace

struct Database::ServerCall {
    int limitSeconds = 0;
    QElapsedTimer waited;
};

QString Database::keyOf(const QString& sql, const QVariantList& binds)
{
    QString key = sql;
    for (const QVariant& v : binds)
        key += QLatin1Char('\x1f') + QString::fromLatin1(v.typeName()) + QLatin1Char(v.isNull() ? '!' : ':') + v.toString();
    return key;
}

Result<void> Database::limitServerWaits(std::chrono::milliseconds loginTook)
{
    m_serverWaits = std::make_unique<ServerWaits>();
    m_serverWaits->leftMs = std::max<qint64>(1, (m_budget - loginTook).count());
    // SQL Server waits for a lock for ever unless told otherwise. A save or a refresh blocked by the connectors' own
    // transactions fails with the server's lock time-out message, a little before the statement's own time-out
    // (see statementLimitSeconds) would end it with the driver's. Sent with the first statement.
    const qint64 lockWaitMs = std::max<qint64>(
        1, std::min<qint64>(m_serverWaits->leftMs, statementLimitSeconds(m_serverWaits->leftMs) * 1000LL) - 250);
    m_pendingSetup = QStringLiteral("SET LOCK_TIMEOUT %1").arg(lockWaitMs);
    return Result<void>::success();
}

int Database::queryTimeoutSeconds(bool longRead) const
{
    // What is left, in whole seconds, less a margin: when the time-out strikes, FreeTDS sends the server a cancel
    // and waits for its answer before it gives the statement up.
    return statementLimitSeconds(longRead ? m_budget.count() : m_serverWaits->leftMs);
}

FwError Database::countServerWait(qint64 waitedMs, int limitSeconds, bool longRead, FwError failure)
{
    if (!m_serverWaits)
        return failure;
    if (!longRead)
        m_serverWaits->leftMs -= waitedMs;
    // The driver's own words for a query time-out differ ("Timeout expired", "Query timeout expired"...), and carry
    // no error number of the server's: an error the server numbered (its lock time-out among them) is its answer,
    // however late it came. The text names the time the statement waited.
    if (failure.isError() && failure.number == kUnspecifiedCode && waitedMs >= limitSeconds * 1000LL - 50) {
        m_broken = true;
        m_brokenBy = {kNoAnswerCode,
                      QStringLiteral("%1 (%2)").arg(noAnswerText(static_cast<int>(std::max<qint64>(1, waitedMs / 1000))),
                                                    failure.description)};
        return m_brokenBy;
    }
    return failure;
}

bool Database::serverDropped() const
{
    SQLHANDLE hdbc = connectionHandle(m_db);
    if (!hdbc || !m_db.isOpen())
        return true; // an earlier login again failed: there is no connection yet
    SQLUINTEGER dead = SQL_CD_FALSE;
    return SQL_SUCCEEDED(SQLGetConnectAttr(hdbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) && dead == SQL_CD_TRUE;
}

bool Database::mayReopen(const FwError& failure) const
{
    // Only a server's connection, only before the operation did anything on it (nothing of it is lost), only once,
    // and not after a time-out, which has spent the operation's time already.
    return m_serverWaits && failure.number != kNoAnswerCode && !m_usedInOperation && !m_reopenedInOperation && serverDropped();
}

Result<void> Database::reopen()
{
    m_reopenedInOperation = true;
    m_stream.reset();
    m_prefetched.clear();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    Result<OdbcSession> login = loginOdbc(m_connectionString, m_budget);
    if (!login)
        return login.error();
    m_db = login->db;
    m_connectionName = login->name;
    login->db = QSqlDatabase();
    ++m_logins;
    m_broken = false;
    m_pendingBegin = m_inTransaction; // a transaction begun in this operation begins again on the new connection
    return limitServerWaits(login->loginTook);
}

template <typename Step>
auto Database::onServer(Step&& step) -> decltype(step())
{
    freeConnection();
    if (m_broken) {
        // The driver may still wait for the server to take a statement's cancel: within the operation that is the
        // answer; the next operation starts on a new connection.
        if (m_usedInOperation || m_reopenedInOperation)
            return m_brokenBy;
        if (Result<void> reopened = reopen(); !reopened)
            return reopened.error();
    }
    auto r = step();
    if (!r && mayReopen(r.error())) {
        if (Result<void> reopened = reopen(); !reopened)
            return reopened.error();
        r = step();
    }
    if (r)
        m_usedInOperation = true;
    return r;
}

QString Database::pendingPrefix() const
{
    QString prefix;
    if (!m_pendingSetup.isEmpty())
        prefix += m_pendingSetup + QStringLiteral(";\n");
    if (m_pendingBegin)
        prefix += QStringLiteral("BEGIN TRANSACTION;\n");
    return prefix;
}

Result<std::unique_ptr<OdbcCursor>> Database::execute(const QString& sql, const QVariantList& binds, bool longRead,
                                                      ServerCall& call)
{
    if (!longRead && m_serverWaits->leftMs <= 0)
        return FwError{kNoAnswerCode, noAnswerText(static_cast<int>(m_budget.count() / 1000))};
    QString text = sql;
    if (const QString prefix = pendingPrefix(); !prefix.isEmpty()) {
        if (binds.isEmpty() && !opensItsBatch(sql)) {
            text = prefix + sql;
        } else {
            m_pendingBegin = false;
            if (Result<void> sent = executePlain(prefix); !sent)
                return sent.error();
        }
    }
    call.limitSeconds = queryTimeoutSeconds(longRead);
    call.waited.start();
    QSqlError error;
    std::unique_ptr<OdbcCursor> cursor = OdbcCursor::execute(connectionHandle(m_db), text, binds, call.limitSeconds, &error);
    // A BEGIN sent is begun, even when what followed failed (the failure's rollback ends it).
    m_pendingBegin = false;
    if (!cursor)
        return countServerWait(call.waited.elapsed(), call.limitSeconds, longRead, fromSqlError(error));
    m_pendingSetup.clear();
    return cursor;
}

Result<void> Database::executePlain(const QString& sql)
{
    ServerCall call;
    call.limitSeconds = queryTimeoutSeconds(false);
    call.waited.start();
    QSqlError error;
    std::unique_ptr<OdbcCursor> cursor = OdbcCursor::execute(connectionHandle(m_db), sql, {}, call.limitSeconds, &error);
    while (cursor && cursor->nextResult()) {
    }
    if (cursor && cursor->error().isValid())
        error = cursor->error();
    const FwError failure = countServerWait(call.waited.elapsed(), call.limitSeconds, false,
                                            error.isValid() ? fromSqlError(error) : FwError{});
    if (failure.isError())
        return failure;
    m_pendingSetup.clear();
    return Result<void>::success();
}

Result<QList<BufferedResult*>> Database::readResults(OdbcCursor& cursor, ServerCall& call, bool longRead)
{
    QList<BufferedResult*> results;
    for (;;) {
        bool ok = true;
        results.append(BufferedResult::readAll(cursor, m_db.driver(), &ok));
        if (!ok || !cursor.nextResult())
            break;
    }
    const FwError failure = countServerWait(call.waited.elapsed(), call.limitSeconds, longRead,
                                            cursor.error().isValid() ? fromSqlError(cursor.error()) : FwError{});
    if (failure.isError()) {
        qDeleteAll(results);
        return failure;
    }
    return results;
}

Result<QSqlQuery> Database::runStatement(const QString& sql, const QVariantList& binds, bool streaming)
{
    if (!m_serverWaits)
        return runWithQt(sql, binds);
    if (!streaming) {
        const auto kept = m_prefetched.find(keyOf(sql, binds));
        if (kept != m_prefetched.end()) {
            QSqlQuery q(kept->second.front()->copy());
            kept->second.pop_front();
            if (kept->second.empty())
                m_prefetched.erase(kept);
            return q;
        }
        if (!isSelect(sql))
            m_prefetched.clear();
    }
    return onServer([&] { return runOnServer(sql, binds, streaming); });
}

Result<QSqlQuery> Database::runOnServer(const QString& sql, const QVariantList& binds, bool streaming)
{
    ServerCall call;
    Result<std::unique_ptr<OdbcCursor>> cursor = execute(sql, binds, streaming, call);
    if (!cursor)
        return cursor.error();
    if (streaming && (*cursor)->hasRows()) {
        // Read as it comes, until another statement needs the connection.
        countServerWait(call.waited.elapsed(), call.limitSeconds, true, {});
        auto* rows = new StreamedResult(std::move(cursor).value(), m_db.driver());
        m_stream = rows->link();
        return QSqlQuery(rows);
    }
    Result<QList<BufferedResult*>> results = readResults(**cursor, call, streaming);
    if (!results)
        return results.error();
    // One statement has one result; what else came (nothing, for a statement alone) is let go.
    BufferedResult* first = results->takeFirst();
    qDeleteAll(*results);
    return QSqlQuery(first);
}

Result<QList<QSqlQuery>> Database::runBatch(const QList<Statement>& statements)
{
    QList<QSqlQuery> sets;
    if (!m_serverWaits) {
        for (const Statement& s : statements) {
            Result<QSqlQuery> q = runWithQt(s.sql, s.binds);
            if (!q)
                return q.error();
            if (q->isSelect())
                sets.append(*q);
        }
        return sets;
    }
    m_prefetched.clear();
    QStringList texts;
    QVariantList binds;
    for (const Statement& s : statements) {
        texts.append(s.sql);
        binds.append(s.binds);
    }
    return onServer([&]() -> Result<QList<QSqlQuery>> {
        ServerCall call;
        Result<std::unique_ptr<OdbcCursor>> cursor = execute(texts.join(QStringLiteral(";\n")), binds, false, call);
        if (!cursor)
            return cursor.error();
        Result<QList<BufferedResult*>> results = readResults(**cursor, call, false);
        if (!results)
            return results.error();
        QList<QSqlQuery> rows;
        for (BufferedResult* r : *results) {
            QSqlQuery q(r);
            if (q.isSelect())
                rows.append(q);
        }
        return rows;
    });
}

void Database::prefetch(const QList<Statement>& statements)
{
    if (!m_serverWaits || statements.isEmpty())
        return;
    QStringList texts;
    QVariantList binds;
    for (const Statement& s : statements) {
        texts.append(s.sql);
        binds.append(s.binds);
    }
    Result<QList<BufferedResult*>> read = onServer([&]() -> Result<QList<BufferedResult*>> {
        ServerCall call;
        Result<std::unique_ptr<OdbcCursor>> cursor = execute(texts.join(QStringLiteral(";\n")), binds, false, call);
        if (!cursor)
            return cursor.error();
        return readResults(**cursor, call, false);
    });
    if (!read)
        return; // each statement runs on its own and meets the failure itself
    // Kept only when each statement gave its rows: anything else cannot be told apart.
    bool whole = read->size() == statements.size();
    for (BufferedResult* r : *read)
        whole = whole && r->hasRows();
    for (qsizetype i = 0; i < read->size(); ++i) {
        std::shared_ptr<const BufferedResult> rows((*read)[i]);
        if (whole)
            m_prefetched[keyOf(statements[i].sql, statements[i].binds)].push_back(std::move(rows));
    }
}

std::optional<QSqlQuery> Database::prefetched(const Statement& statement) const
{
    const auto kept = m_prefetched.find(keyOf(statement.sql, statement.binds));
    if (kept == m_prefetched.end())
        return std::nullopt;
    return QSqlQuery(kept->second.front()->copy());
}

Result<QSqlQuery> Database::runWithQt(const QString& sql, const QVariantList& binds)
{
    QSqlQuery q = statement();
    if (!q.prepare(sql))
        return explained(fromSqlError(q.lastError()));
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, bindable(binds[i]));
    if (!q.exec())
        return explained(fromSqlError(q.lastError()));
    return q;
}

Result<QSqlQuery> Database::runStreaming(const QString& sql, const QVariantList& binds)
{
    return runStatement(sql, binds, true);
}

Result<void> Database::begin()
{
    freeConnection();
    if (m_serverWaits) {
        // Sent with the transaction's first statement.
        m_prefetched.clear();
        m_pendingBegin = true;
        m_inTransaction = true;
        return Result<void>::success();
    }
    if (!m_db.transaction())
        return fromSqlError(m_db.lastError());
    m_inTransaction = true;
    return Result<void>::success();
}

Result<void> Database::commit()
{
    freeConnection();
    m_inTransaction = false;
    if (m_serverWaits) {
        m_prefetched.clear();
        if (std::exchange(m_pendingBegin, false))
            return Result<void>::success(); // nothing ran in it
        return onServer([&] { return executePlain(QStringLiteral("COMMIT TRANSACTION")); });
    }
    if (!m_db.commit())
        return fromSqlError(m_db.lastError());
    return Result<void>::success();
}

void Database::rollback()
{
    freeConnection();
    m_inTransaction = false;
    if (m_serverWaits) {
        m_prefetched.clear();
        if (std::exchange(m_pendingBegin, false))
            return;
        // A connection the driver still holds for a statement's cancel cannot roll back: closing it does, on the
        // server, at once (the locks are not kept until the next operation logs in again).
        if (m_broken)
            m_db.close();
        else
            (void)executePlain(QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"));
        return;
    }
    m_db.rollback();
}

} // namespace fw
