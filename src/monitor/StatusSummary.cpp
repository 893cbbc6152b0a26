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
    return side == SyncSide::DC ? QStringLiteral("SELECT SyncId, IsActive, SyncStart, syncEnd FROM SyncHistoryDC "
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

Result<Database*> StatusSummary::connectionFor(const AppContext& ctx, Database* shared, std::unique_ptr<Database>& own)
{
    if (shared)
        return shared;
    Result<std::unique_ptr<Database>> opened = Database::open(connectionStringOf(ctx), Database::Access::ReadOnly);
    if (!opened)
        return opened.error();
    own = std::move(opened).value();
    return own.get();
}

namespace {
// The run time from `from` to `to` as the page shows it.
Result<QString> elapsedText(const QDateTime& from, const QDateTime& to)
{
    const Result<qint32> s = secondsBetween(from, to);
    if (!s)
        return s.error();
    return FormatElapsedTime(*s);
}
} // namespace

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
    template <typename T, typename Statement>
    bool stepInto(const QString& part, T& target, Statement&& statement)
    {
        const int before = m_path.reportedCount();
        const bool ok = m_path.stepInto(target, statement);
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
    std::unique_ptr<Database> own;
    const Result<Database*> db = connectionFor(m_ctx, connection, own);
    if (!db) {
        reads.report(QStringLiteral("database"), db.error());
    } else {
        snap.databaseOpened = true;
        readSide(**db, SyncSide::DC, snap.dc, reads);
        readSide(**db, SyncSide::GC, snap.gc, reads);
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
    const bool known = reads.stepInto(part("IsActive"), out.active,
                                      [&] { return rowvalue::flag(row.value(QStringLiteral("IsActive"))); });
    const bool haveStart = reads.stepInto(part("SyncStart"), out.start,
                                          [&] { return rowvalue::dateTime(row.value(QStringLiteral("SyncStart"))); });
    if (known && out.active) {
        out.state = QStringLiteral("In progress");
        if (haveStart) {
            out.when = QStringLiteral("Started ") + isoSeconds(out.start);
            reads.stepInto(part("elapsed"), out.elapsed, [&] { return elapsedText(out.start, m_ctx.clock().now()); });
        }
    } else if (known) {
        out.state = QStringLiteral("Idle");
        const bool haveEnd = reads.stepInto(part("syncEnd"), out.end,
                                            [&] { return rowvalue::dateTime(row.value(QStringLiteral("syncEnd"))); });
        if (haveEnd)
            out.when = QStringLiteral("Last done ") + isoSeconds(out.end);
        if (haveEnd && haveStart)
            reads.stepInto(part("elapsed"), out.elapsed, [&] { return elapsedText(out.start, out.end); });
    }
    qint64 id = 0;
    if (!reads.stepInto(part("SyncId"), id, [&] { return rowvalue::integer(row.value(QStringLiteral("SyncId"))); }))
        return;
    lastId = id;
    out.syncId = id;
    Result<QSqlQuery> t = db.run(objectTotalSql(side), {id});
    if (!t) {
        reads.report(part("objectTotal"), t.error());
        return;
    }
    const FirstRow total = FirstRow::from(*t);
    qint64 n = 0;
    if (reads.stepInto(part("objectTotal"), n, [&] { return rowvalue::integer(total.value(QStringLiteral("TotalCount"))); })) {
        out.objectTotal = n;
        out.objects = QString::number(n);
    }
}

Result<qint64> StatusSummary::finishedRunCount(AppContext& ctx, SyncSide side)
{
    Result<std::unique_ptr<Database>> db = Database::open(connectionStringOf(ctx), Database::Access::ReadOnly);
    if (!db)
        return db.error();
    Result<QSqlQuery> q = (*db)->run(finishedRunCountSql(side));
    if (!q)
        return q.error();
    if (!q->next())
        return FwError::noCurrentRecord();
    return q->value(0).toLongLong();
}

Result<std::optional<FinishedRun>> StatusSummary::latestFinishedRun(Database& db, SyncSide side)
{
    const QString sql = side == SyncSide::DC
                            ? QStringLiteral("SELECT SyncId, SyncStart, syncEnd, SyncInterval FROM SyncHistoryDC WHERE SyncId = "
                                             "(SELECT MAX(SyncId) FROM SyncHistoryDC WHERE IsActive = 0)")
                            : QStringLiteral("SELECT SyncId, SyncStart, syncEnd, SyncInterval FROM SyncHistoryGC WHERE SyncId = "
                                             "(SELECT MAX(SyncId) FROM SyncHistoryGC WHERE IsActive = 0)");
    Result<QSqlQuery> q = db.run(sql);
    if (!q)
        return q.error();
    const FirstRow row = FirstRow::from(*q);
    if (!row.exists())
        return std::optional<FinishedRun>();
    FinishedRun r;
    const Result<qint64> id = rowvalue::integer(row.value(QStringLiteral("SyncId")));
    if (!id)
        return id.error();
    r.syncId = *id;
    const Result<qint64> interval = rowvalue::integer(row.value(QStringLiteral("SyncInterval")));
    if (!interval)
        return interval.error();
    if (*interval < std::numeric_limits<int>::min() || *interval > std::numeric_limits<int>::max())
        return FwError::overflow();
    r.syncIntervalMinutes = static_cast<int>(*interval);
    // A time not recorded stays invalid.
    for (auto [column, target] :
         {std::pair{QStringLiteral("syncEnd"), &r.end}, std::pair{QStringLiteral("SyncStart"), &r.start}}) {
        const Result<QVariant> v = row.value(column);
        if (!v)
            return v.error();
        if (v->isNull())
            continue;
        const Result<QDateTime> t = rowvalue::dateTime(*v);
        if (!t)
            return t.error();
        *target = *t;
    }
    return std::optional<FinishedRun>(r);
}

} // namespace fw
