#include "monitor/StatusSummary.h"

#include "context/AppContext.h"
#include "db/Database.h"
#include "log/ActivityLog.h"
#include "log/DateFormat.h"
#include "monitor/ElapsedTime.h"
#include "monitor/MonitorErrorPath.h"
#include "monitor/RowValues.h"
#include "platform/Clock.h"

#include <functional>
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
    return Database::connectionStringOrDefault(ctx.connectionString);
}

Database* StatusSummary::connectionFor(const AppContext& ctx, Database* shared, std::unique_ptr<Database>& own, FwError* error)
{
    if (shared)
        return shared;
    Result<std::unique_ptr<Database>> opened = Database::open(connectionStringOf(ctx));
    if (!opened) {
        if (error)
            *error = opened.error();
        return nullptr;
    }
    own = std::move(opened).value();
    return own.get();
}

// The refresh's error path that also remembers which part each reported failure belongs to, so a
// caller can tell a complete reading from one with holes (the skipped nulls are no holes).
class StatusReads {
public:
    StatusReads(MonitorErrorPath& path, QList<ReadFailure>& failures) : m_path(path), m_failures(failures) {}

    void report(const QString& part, const FwError& e)
    {
        const int before = m_path.reportedCount();
        m_path.report(e);
        note(part, before);
    }
    bool step(const QString& part, const std::function<void()>& statement)
    {
        const int before = m_path.reportedCount();
        const bool ok = m_path.step(statement);
        note(part, before);
        return ok;
    }

private:
    void note(const QString& part, int before)
    {
        if (m_path.reportedCount() > before)
            m_failures.append({part, m_path.lastError()});
    }

    MonitorErrorPath& m_path;
    QList<ReadFailure>& m_failures;
};

StatusSnapshot StatusSummary::PopulateDCGCStatus(Database* connection)
{
    m_ctx.log().WriteTraceLog(QStringLiteral("Entering PopulateDCGCStatus of Form frmMain"), true);
    MonitorErrorPath path(m_ctx, QStringLiteral("PopulateDCGCStatus"), QStringLiteral("frmMain"),
                          MonitorErrorPath::Order::BoxThenLog);
    StatusSnapshot snap;
    StatusReads reads(path, snap.failures);
    FwError err;
    std::unique_ptr<Database> own;
    connection = connectionFor(m_ctx, connection, own, &err);
    if (!connection) {
        reads.report(QStringLiteral("database"), err);
    } else {
        snap.databaseOpened = true;
        readSide(*connection, SyncSide::DC, snap.dc, reads);
        readSide(*connection, SyncSide::GC, snap.gc, reads);
    }
    m_ctx.log().WriteTraceLog(QStringLiteral("Exiting  PopulateDCGCStatus of Form frmMain"), true);
    return snap;
}

void StatusSummary::readSide(Database& db, SyncSide side, SideStatus& out, StatusReads& reads)
{
    qint64& lastId = side == SyncSide::DC ? m_ctx.lastDCSyncId : m_ctx.lastGCSyncId;
    const QString prefix = side == SyncSide::DC ? QStringLiteral("dc.") : QStringLiteral("gc.");
    const auto part = [&](const char* name) { return prefix + QLatin1String(name); };
    Result<QSqlQuery> q = db.run(latestRunSql(side));
    if (!q) {
        reads.report(part("latestRun"), q.error());
        return;
    }
    const FirstRow row = FirstRow::from(*q);
    if (!row.exists()) {
        out.state = QStringLiteral("Idle");
        out.when = QStringLiteral("No data");
        lastId = -1;
        out.syncId = -1;
        return;
    }
    out.hasRun = true;
    const bool known = reads.step(part("IsActive"), [&] { out.active = rowvalue::flag(row.value(QStringLiteral("IsActive"))); });
    const bool haveStart = reads.step(part("SyncStart"), [&] { out.start = rowvalue::dateTime(row.value(QStringLiteral("SyncStart"))); });
    if (known && out.active) {
        out.state = QStringLiteral("In progress");
        if (haveStart) {
            out.when = QStringLiteral("Started ") + isoSeconds(out.start);
            reads.step(part("elapsed"), [&] { out.elapsed = FormatElapsedTime(secondsBetween(out.start, m_ctx.clock().now())); });
        }
    } else if (known) {
        out.state = QStringLiteral("Idle");
        const bool haveEnd = reads.step(part("syncEnd"), [&] { out.end = rowvalue::dateTime(row.value(QStringLiteral("syncEnd"))); });
        if (haveEnd)
            out.when = QStringLiteral("Last done ") + isoSeconds(out.end);
        if (haveEnd && haveStart)
            reads.step(part("elapsed"), [&] { out.elapsed = FormatElapsedTime(secondsBetween(out.start, out.end)); });
    }
    qint64 id = 0;
    if (!reads.step(part("SyncId"), [&] {
            id = rowvalue::integer(row.value(QStringLiteral("SyncId")));
            lastId = id;
            out.syncId = id;
        }))
        return;
    Result<QSqlQuery> t = db.run(objectTotalSql(side), {id});
    if (!t) {
        reads.report(part("objectTotal"), t.error());
        return;
    }
    const FirstRow total = FirstRow::from(*t);
    reads.step(part("objectTotal"), [&] {
        const qint64 n = rowvalue::integer(total.value(QStringLiteral("TotalCount")));
        out.objectTotal = n;
        out.objects = QString::number(n);
    });
}

std::optional<qint64> StatusSummary::finishedRunCount(AppContext& ctx, SyncSide side, FwError* error)
{
    Result<std::unique_ptr<Database>> db = Database::open(connectionStringOf(ctx));
    if (!db) {
        if (error)
            *error = db.error();
        return std::nullopt;
    }
    Result<QSqlQuery> q = (*db)->run(finishedRunCountSql(side));
    if (!q || !q->next()) {
        if (error)
            *error = !q ? q.error() : FwError::noCurrentRecord();
        return std::nullopt;
    }
    return q->value(0).toLongLong();
}

std::optional<FinishedRun> StatusSummary::latestFinishedRun(Database& db, SyncSide side, FwError* error)
{
    const QString sql = side == SyncSide::DC
                            ? QStringLiteral("SELECT SyncId, SyncStart, syncEnd, SyncInterval FROM SyncHistoryDC WHERE SyncId = "
                                             "(SELECT MAX(SyncId) FROM SyncHistoryDC WHERE IsActive = 0)")
                            : QStringLiteral("SELECT SyncId, SyncStart, syncEnd, SyncInterval FROM SyncHistoryGC WHERE SyncId = "
                                             "(SELECT MAX(SyncId) FROM SyncHistoryGC WHERE IsActive = 0)");
    Result<QSqlQuery> q = db.run(sql);
    if (!q) {
        if (error)
            *error = q.error();
        return std::nullopt;
    }
    const FirstRow row = FirstRow::from(*q);
    if (!row.exists())
        return std::nullopt;
    FinishedRun r;
    try {
        r.syncId = rowvalue::integer(row.value(QStringLiteral("SyncId")));
        const qint64 interval = rowvalue::integer(row.value(QStringLiteral("SyncInterval")));
        if (interval < std::numeric_limits<int>::min() || interval > std::numeric_limits<int>::max())
            throw FwException(FwError::overflow());
        r.syncIntervalMinutes = static_cast<int>(interval);
        const QVariant end = row.value(QStringLiteral("syncEnd"));
        if (!end.isNull())
            r.end = rowvalue::dateTime(end);
        const QVariant start = row.value(QStringLiteral("SyncStart"));
        if (!start.isNull())
            r.start = rowvalue::dateTime(start);
    } catch (const FwException& ex) {
        if (error)
            *error = ex.error;
        return std::nullopt;
    }
    return r;
}

} // namespace fw
