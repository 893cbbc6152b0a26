#include "monitor/StatusSummary.h"

#include "context/AppContext.h"
#include "db/Database.h"
#include "log/ActivityLog.h"
#include "log/DateFormat.h"
#include "monitor/ElapsedTime.h"
#include "monitor/MonitorErrorPath.h"
#include "monitor/RowValues.h"
#include "platform/Clock.h"

#include <limits>

namespace fw {

// Each side has its own tables; the names are fixed, never taken from input.
QString StatusSummary::latestRunSql(SyncSide side)
{
    return side == SyncSide::DC
               ? QStringLiteral("SELECT SyncId, IsActive, SyncStart, syncEnd FROM SyncHistoryDC "
                                "WHERE SyncId = (SELECT MAX(SyncId) FROM SyncHistoryDC)")
               : QStringLiteral("SELECT SyncId, IsActive, SyncStart, syncEnd FROM SyncHistoryGC "
                                "WHERE SyncId = (SELECT MAX(SyncId) FROM SyncHistoryGC)");
}

QString StatusSummary::objectTotalSql(SyncSide side)
{
    return side == SyncSide::DC
               ? QStringLiteral("SELECT SUM(Count) AS TotalCount FROM SyncHistoryObject WHERE SyncId = ? AND Domain <> 'GC'")
               : QStringLiteral("SELECT SUM(Count) AS TotalCount FROM SyncHistoryObject WHERE SyncId = ? AND Domain = 'GC'");
}

QString StatusSummary::connectionStringOf(const AppContext& ctx)
{
    return ctx.connectionString.isEmpty() ? QString::fromLatin1(Database::kDefaultConnectionString) : ctx.connectionString;
}

StatusSnapshot StatusSummary::PopulateDCGCStatus()
{
    m_ctx.log().WriteTraceLog(QStringLiteral("Entering PopulateDCGCStatus of Form frmMain"), true);
    MonitorErrorPath path(m_ctx, QStringLiteral("PopulateDCGCStatus"), QStringLiteral("frmMain"),
                          MonitorErrorPath::Order::BoxThenLog);
    StatusSnapshot snap;
    FwError err;
    auto db = Database::open(connectionStringOf(m_ctx), &err);
    if (!db) {
        path.report(err);
    } else {
        snap.databaseOpened = true;
        readSide(*db, SyncSide::DC, snap.dc, path);
        readSide(*db, SyncSide::GC, snap.gc, path);
    }
    m_ctx.log().WriteTraceLog(QStringLiteral("Exiting  PopulateDCGCStatus of Form frmMain"), true);
    return snap;
}

void StatusSummary::readSide(Database& db, SyncSide side, SideStatus& out, MonitorErrorPath& path)
{
    qint32& lastId = side == SyncSide::DC ? m_ctx.lastDCSyncId : m_ctx.lastGCSyncId;
    FwError err;
    QSqlQuery q = db.run(latestRunSql(side), {}, &err);
    if (err) {
        path.report(err);
        return;
    }
    const FirstRow row = FirstRow::from(q);
    if (!row.exists()) {
        out.state = QStringLiteral("Idle");
        out.when = QStringLiteral("No data");
        lastId = -1;
        out.syncId = -1;
        return;
    }
    out.hasRun = true;
    const bool known = path.step([&] { out.active = rowvalue::flag(row.value(QStringLiteral("IsActive"))); });
    const bool haveStart = path.step([&] { out.start = rowvalue::dateTime(row.value(QStringLiteral("SyncStart"))); });
    if (known && out.active) {
        out.state = QStringLiteral("In progress");
        if (haveStart) {
            out.when = QStringLiteral("Started ") + isoSeconds(out.start);
            path.step([&] { out.elapsed = FormatElapsedTime(secondsBetween(out.start, m_ctx.clock().now())); });
        }
    } else if (known) {
        out.state = QStringLiteral("Idle");
        const bool haveEnd = path.step([&] { out.end = rowvalue::dateTime(row.value(QStringLiteral("syncEnd"))); });
        if (haveEnd)
            out.when = QStringLiteral("Last done ") + isoSeconds(out.end);
        if (haveEnd && haveStart)
            path.step([&] { out.elapsed = FormatElapsedTime(secondsBetween(out.start, out.end)); });
    }
    qint64 id = 0;
    if (!path.step([&] {
            id = rowvalue::integer(row.value(QStringLiteral("SyncId")));
            if (id < std::numeric_limits<qint32>::min() || id > std::numeric_limits<qint32>::max())
                throw FwException(FwError::overflow());
            lastId = static_cast<qint32>(id);
            out.syncId = lastId;
        }))
        return;
    QSqlQuery t = db.run(objectTotalSql(side), {id}, &err);
    if (err) {
        path.report(err);
        return;
    }
    const FirstRow total = FirstRow::from(t);
    path.step([&] {
        const qint64 n = rowvalue::integer(total.value(QStringLiteral("TotalCount")));
        out.objectTotal = n;
        out.objects = QString::number(n);
    });
}

std::optional<qint64> StatusSummary::finishedRunCount(AppContext& ctx, SyncSide side, FwError* error)
{
    FwError err;
    auto db = Database::open(connectionStringOf(ctx), &err);
    if (!db) {
        if (error)
            *error = err;
        return std::nullopt;
    }
    QSqlQuery q = db->run(finishedRunCountSql(side), {}, &err);
    if (err || !q.next()) {
        if (error)
            *error = err ? err : FwError::noCurrentRecord();
        return std::nullopt;
    }
    return q.value(0).toLongLong();
}

std::optional<FinishedRun> StatusSummary::latestFinishedRun(Database& db, SyncSide side, FwError* error)
{
    const QString sql = side == SyncSide::DC
                            ? QStringLiteral("SELECT SyncId, syncEnd, SyncInterval FROM SyncHistoryDC WHERE SyncId = "
                                             "(SELECT MAX(SyncId) FROM SyncHistoryDC WHERE IsActive = 0)")
                            : QStringLiteral("SELECT SyncId, syncEnd, SyncInterval FROM SyncHistoryGC WHERE SyncId = "
                                             "(SELECT MAX(SyncId) FROM SyncHistoryGC WHERE IsActive = 0)");
    FwError err;
    QSqlQuery q = db.run(sql, {}, &err);
    if (err) {
        if (error)
            *error = err;
        return std::nullopt;
    }
    const FirstRow row = FirstRow::from(q);
    if (!row.exists())
        return std::nullopt;
    FinishedRun r;
    try {
        r.syncId = static_cast<qint32>(rowvalue::integer(row.value(QStringLiteral("SyncId"))));
        r.syncIntervalMinutes = static_cast<int>(rowvalue::integer(row.value(QStringLiteral("SyncInterval"))));
        const QVariant end = row.value(QStringLiteral("syncEnd"));
        if (!end.isNull())
            r.end = rowvalue::dateTime(end);
    } catch (const FwException& ex) {
        if (error)
            *error = ex.error;
        return std::nullopt;
    }
    return r;
}

} // namespace fw
