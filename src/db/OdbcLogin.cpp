#include "db/OdbcLogin.h"

#include "platform/LeftThreads.h"

#include <QSet>
#include <QSqlDriver>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <sql.h>
#include <sqlext.h>

namespace fw {

namespace {

// The DBMS name the ODBC driver reports; QSqlDriver::dbmsType() is Unknown for several drivers.
QString odbcDbmsName(QSqlDatabase& db)
{
    const QVariant h = db.driver()->handle();
    // Qt 6 hands the connection handle out as its C type, SQLHANDLE being a void pointer.
    if (!h.isValid() || (qstrcmp(h.typeName(), "SQLHANDLE") != 0 && h.metaType() != QMetaType::fromType<void*>()))
        return {};
    SQLHANDLE hdbc = *static_cast<const SQLHANDLE*>(h.data());
    if (!hdbc)
        return {};
    // Asked in UTF-16, as Qt's driver talks to the driver manager on both platforms (Wine's odbc32 answers the
    // ANSI call in UTF-16 too).
    SQLWCHAR name[256] = {};
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(hdbc, SQL_DBMS_NAME, name, sizeof name, &len)))
        return {};
    static_assert(sizeof(SQLWCHAR) == 2, "the driver manager's wide characters are UTF-16");
    const qsizetype units = std::clamp<qsizetype>(len / 2, 0, std::size(name) - 1);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(name), units);
}

// Connection strings whose login was given up and has not ended yet. Process-wide, like the threads it counts;
// never destroyed, as such a thread may end while the process exits.
struct LeftBehind {
    std::mutex mutex;
    QSet<QString> pending;
};

LeftBehind& leftBehind()
{
    static auto* logins = new LeftBehind;
    return *logins;
}

struct Handover {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    bool abandoned = false;
    OdbcLogin result;
};

// The login on its own thread: hands the connection over, or removes it when the caller has given up.
void login(Handover& handover, const QString& name, const QString& connectionString, QThread* caller, qint64 seconds)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
    db.setDatabaseName(connectionString);
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%1").arg(seconds));
    const bool open = db.isValid() && db.open();
    std::unique_lock lock(handover.mutex);
    if (handover.abandoned) {
        lock.unlock();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        LeftBehind& behind = leftBehind();
        std::lock_guard forget(behind.mutex);
        behind.pending.remove(connectionString);
        return;
    }
    handover.result.outcome = open ? OdbcLogin::Outcome::Opened : OdbcLogin::Outcome::Failed;
    handover.result.error = db.lastError();
    if (open)
        handover.result.dbmsName = odbcDbmsName(db);
    // The caller uses (or removes) the connection from now on.
    if (db.isValid())
        db.driver()->moveToThread(caller);
    handover.result.db = db;
    db = QSqlDatabase(); // the caller's copy must be the last, or removing the connection finds it still in use
    handover.done = true;
    handover.changed.notify_all();
}

} // namespace

OdbcLogin loginWithin(const QString& name, const QString& connectionString, std::chrono::milliseconds limit)
{
    {
        LeftBehind& behind = leftBehind();
        std::lock_guard lock(behind.mutex);
        if (behind.pending.contains(connectionString)) {
            OdbcLogin waiting;
            waiting.outcome = OdbcLogin::Outcome::StillWaiting;
            return waiting;
        }
    }
    auto handover = std::make_shared<Handover>();
    QThread* caller = QThread::currentThread();
    // The driver's own timeout, in whole seconds, ends a login given up here soon after.
    const qint64 seconds = std::max<qint64>(1, (limit.count() + 999) / 1000);
    auto ended = std::make_shared<std::atomic_bool>(false);
    std::thread thread([handover, name, connectionString, caller, seconds, ended] {
        login(*handover, name, connectionString, caller, seconds);
        ended->store(true);
    });

    std::unique_lock lock(handover->mutex);
    if (!handover->changed.wait_for(lock, limit, [&] { return handover->done; })) {
        handover->abandoned = true;
        {
            LeftBehind& behind = leftBehind();
            std::lock_guard remember(behind.mutex);
            behind.pending.insert(connectionString);
        }
        lock.unlock();
        LeftThreads::leave(std::move(thread), std::move(ended));
        OdbcLogin late;
        late.outcome = OdbcLogin::Outcome::NoAnswer;
        return late;
    }
    OdbcLogin result = handover->result;
    handover->result.db = QSqlDatabase(); // the caller's copy is the last
    lock.unlock();
    thread.join();
    return result;
}

} // namespace fw
