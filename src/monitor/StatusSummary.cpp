#include "monitor/StatusSummary.h"

#include "context/AppContext.h"
#include "db/Database.h"
#include "db/DatabaseSession.h"
#include "log/ActivityLog.h"
#include "log/DateFormat.h"
#include "monitor/ElapsedTime.h"
#include "monitor/MonitorErrorPath.h"
#include "db/StoredValue.h"
#include "log/ErrorReport.h"
#include "platform/Clock.h"

#include <QSqlError>
#include <QSqlQuery>
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
    // The counts themselves rather than their SUM: SQLite's SUM passes over a count that is no number in silence.
    return side == SyncSide::DC ? QStringLiteral("SELECT Count FROM SyncHistoryObject WHERE SyncId = ? AND Domain <> 'GC'")
                                : QStringLiteral("SELECT Count FROM SyncHistoryObject WHERE SyncId = ? AND Domain = 'GC'");
}

Result<std::optional<qint64>> StatusSummary::objectTotal(Database& db, SyncSide side, qint64 syncId)
{
    Result<QSqlQuery> q = db.run(objectTotalSql(side), {syncId});
    if (!q)
        return q.error();
    std::optional<qint64> total;
    while (q->next()) {
        const QVariant v = q->value(0);
        if (v.isNull())
            continue; // as SUM does
        const Result<qint64> n = stored::integer(v, column::objectCount);
        if (!n)
            return n.error();
        qint64 sum = 0;
        if (__builtin_add_overflow(total.value_or(0), *n, &sum))
            return stored::failure(FwError::overflow(), column::objectCountSum);
        total = sum;
    }
    if (q->lastError().isValid())
        return Database::fromSqlError(q->lastError());
    return total;
}

QString StatusSummary::connectionStringOf(const AppContext& ctx)
{
    return Database::connectionStringOrDefault(ctx.connectionString);
}

Result<Database*> StatusSummary::connectionFor(AppContext& ctx, Database* shared)
{
    if (shared)
        return shared;
    return ctx.databaseSession().open(connectionStringOf(ctx), Database::Access::ReadOnly);
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

// The refresh's failures, kept in the order met with the part each belongs to, for finish() to report: read()
// runs where no message box may be shown. A null skipped (94) is no failure, as on the page's error path.
class StatusReads {
public:
    explicit StatusReads(QList<ReadFailure>& failures)
        : m_scope(QString(), QString(), OwnerKind::Form, {}, {}), m_failures(failures)
    {
        m_scope.ignoreNumber(FwError::invalidUseOfNull().number);
    }

    void report(const QString& part, const FwError& e)
    {
        const int before = m_scope.reportedCount();
        m_scope.report(e);
        note(part, before);
    }
    template <typename T, typename Statement>
    bool stepInto(const QString& part, T& target, Statement&& statement)
    {
        const int before = m_scope.reportedCount();
        const bool ok = m_scope.stepInto(target, statement);
        note(part, before);
        return ok;
    }

private:
    void note(const QString& part, int before)
    {
        if (m_scope.reportedCount() > before)
            m_failures.append({part, m_scope.lastError()});
    }

    ErrorScope m_scope; // no sinks: it only counts and keeps the last failure
    QList<ReadFailure>& m_failures;
};

StatusSnapshot StatusSummary::PopulateDCGCStatus(Database* connection)
{
    begin();
    const StatusSnapshot snap = read(connectionFor(m_ctx, connection), m_ctx.clock().now());
    finish(snap);
    return snap;
}

void StatusSummary::begin()
{
    m_ctx.log().WriteTraceLog(QStringLiteral("Entering PopulateDCGCStatus of Form frmMain"), true);
}

StatusSnapshot StatusSummary::read(const Result<Database*>& db, const QDateTime& now)
{
    StatusSnapshot snap;
    StatusReads reads(snap.failures);
    if (db) {
        snap.databaseOpened = true;
        readSide(**db, SyncSide::DC, now, snap.dc, reads);
        readSide(**db, SyncSide::GC, now, snap.gc, reads);
    } else {
        reads.report(QStringLiteral("database"), db.error());
        snap.dc.unknown = snap.gc.unknown = true;
    }
    return snap;
}

void StatusSummary::finish(const StatusSnapshot& snap)
{
    MonitorErrorPath path(m_ctx, QStringLiteral("PopulateDCGCStatus"), QStringLiteral("frmMain"),
                          MonitorErrorPath::Order::BoxThenLog);
    for (const ReadFailure& f : snap.failures)
        path.report(f.error);
    if (snap.dc.idRead)
        m_ctx.lastDCSyncId = snap.dc.syncId;
    if (snap.gc.idRead)
        m_ctx.lastGCSyncId = snap.gc.syncId;
    m_ctx.log().WriteTraceLog(QStringLiteral("Exiting  PopulateDCGCStatus of Form frmMain"), true);
}

void StatusSummary::readSide(Database& db, SyncSide side, const QDateTime& now, SideStatus& out, StatusReads& reads)
{
    const QString prefix = side == SyncSide::DC ? QStringLiteral("dc.") : QStringLiteral("gc.");
    const auto part = [&](const char* name) { return prefix + QLatin1String(name); };
    Result<QSqlQuery> q = db.run(latestRunSql(side));
    if (!q) {
        out.unknown = true;
        reads.report(part("latestRun"), q.error());
        return;
    }
    const FirstRow row = FirstRow::from(*q);
    if (!row.exists()) {
        out.state = QStringLiteral("Idle");
        out.when = QStringLiteral("No data");
        out.syncId = -1;
        out.idRead = true;
        return;
    }
    out.hasRun = true;
    const bool dc = side == SyncSide::DC;
    const bool known = reads.stepInto(part("IsActive"), out.active, [&] {
        return stored::bit(row.value(QStringLiteral("IsActive")), dc ? column::dcIsActive : column::gcIsActive);
    });
    out.unknown = !known;
    const bool haveStart = reads.stepInto(part("SyncStart"), out.start, [&] {
        return stored::dateTime(row.value(QStringLiteral("SyncStart")), dc ? column::dcSyncStart : column::gcSyncStart);
    });
    if (known && out.active) {
        out.state = QStringLiteral("In progress");
        if (haveStart) {
            out.when = QStringLiteral("Started ") + isoSeconds(out.start);
            reads.stepInto(part("elapsed"), out.elapsed, [&] { return elapsedText(out.start, now); });
        }
    } else if (known) {
        out.state = QStringLiteral("Idle");
        const bool haveEnd = reads.stepInto(part("syncEnd"), out.end, [&] {
            return stored::dateTime(row.value(QStringLiteral("syncEnd")), dc ? column::dcSyncEnd : column::gcSyncEnd);
        });
        if (haveEnd)
            out.when = QStringLiteral("Last done ") + isoSeconds(out.end);
        if (haveEnd && haveStart)
            reads.stepInto(part("elapsed"), out.elapsed, [&] { return elapsedText(out.start, out.end); });
    }
    qint64 id = 0;
    if (!reads.stepInto(part("SyncId"), id, [&] {
            return stored::integer(row.value(QStringLiteral("SyncId")), dc ? column::dcSyncId : column::gcSyncId);
        }))
        return;
    out.syncId = id;
    out.idRead = true;
    qint64 n = 0;
    const bool haveTotal = reads.stepInto(part("objectTotal"), n, [&]() -> Result<qint64> {
        const Result<std::optional<qint64>> total = objectTotal(db, side, id);
        if (!total)
            return total.error();
        if (!*total) // no counts: the null a SUM of none gives
            return stored::failure(FwError::invalidUseOfNull(), column::objectCountSum);
        return **total;
    });
    if (haveTotal) {
        out.objectTotal = n;
        out.objects = QString::number(n);
    }
}

Result<qint64> StatusSummary::finishedRunCount(AppContext& ctx, SyncSide side)
{
    const Result<Database*> db = connectionFor(ctx, nullptr);
    if (!db)
        return db.error();
    Result<QSqlQuery> q = (*db)->run(finishedRunCountSql(side));
    if (!q)
        return q.error();
    if (!q->next())
        return q->lastError().isValid() ? Database::fromSqlError(q->lastError()) : FwError::noCurrentRecord();
    return stored::integer(q->value(0), column::integer("COUNT(*)", 0, column::kInt64Max));
}

QString StatusSummary::latestFinishedRunSql(SyncSide side)
{
    return side == SyncSide::DC
               ? QStringLiteral("SELECT SyncId, SyncStart, syncEnd, SyncInterval FROM SyncHistoryDC WHERE SyncId = "
                                "(SELECT MAX(SyncId) FROM SyncHistoryDC WHERE IsActive = 0)")
               : QStringLiteral("SELECT SyncId, SyncStart, syncEnd, SyncInterval FROM SyncHistoryGC WHERE SyncId = "
                                "(SELECT MAX(SyncId) FROM SyncHistoryGC WHERE IsActive = 0)");
}

Result<std::optional<FinishedRun>> StatusSummary::latestFinishedRun(Database& db, SyncSide side)
{
    Result<QSqlQuery> q = db.run(latestFinishedRunSql(side));
    if (!q)
        return q.error();
    const FirstRow row = FirstRow::from(*q);
    if (!row.exists())
        return std::optional<FinishedRun>();
    const bool dc = side == SyncSide::DC;
    FinishedRun r;
    const Result<qint64> id = stored::integer(row.value(QStringLiteral("SyncId")), dc ? column::dcSyncId : column::gcSyncId);
    if (!id)
        return id.error();
    r.syncId = *id;
    const Result<qint64> interval = stored::integer(row.value(QStringLiteral("SyncInterval")),
                                                    dc ? column::dcSyncInterval : column::gcSyncInterval);
    if (!interval)
        return interval.error();
    r.syncIntervalMinutes = static_cast<int>(*interval);
    // A time not recorded stays invalid.
    for (auto [name, target, col] :
         {std::tuple{QStringLiteral("syncEnd"), &r.end, dc ? column::dcSyncEnd : column::gcSyncEnd},
          std::tuple{QStringLiteral("SyncStart"), &r.start, dc ? column::dcSyncStart : column::gcSyncStart}}) {
        const Result<QVariant> v = row.value(name);
        if (!v)
            return v.error();
        if (v->isNull())
            continue;
        const Result<QDateTime> t = stored::dateTime(*v, col);
        if (!t)
            return t.error();
        *target = *t;
    }
    return std::optional<FinishedRun>(r);
}

} // namespace fw
