#include "history/HistorySource.h"

#include "db/Database.h"
#include "db/StoredValue.h"

#include <QSqlError>
#include <QSqlQuery>

#include <utility>

namespace fw {

namespace {

// The lines the walk's error report names for a value that cannot be read.
constexpr int kIdLine = 200, kIncrementLine = 202, kIntervalLine = 204, kLagLine = 210, kTimeLine = 220, kTotalLine = 230,
              kFlagsLine = 240, kServerLine = 250, kDomainLine = 260;

// A value of the row into `target`; one that cannot be read is kept as a fault of the row and leaves `target` as
// it was (the step has no effect).
template <typename T>
void readInto(const QVariant& v, const StoredColumn& c, int line, T& target, QList<HistoryQueryFailure>& faults)
{
    const Result<qint64> r = stored::integer(v, c);
    if (r)
        target = static_cast<T>(*r);
    else
        faults.append({line, r.error()});
}

WallTime timeOf(const QVariant& v, const StoredColumn& c, QList<HistoryQueryFailure>& faults)
{
    if (v.isNull()) // not recorded: the walk reports the null as it always has
        return {};
    const Result<WallTime> t = stored::wallTime(v, c);
    if (t)
        return *t;
    faults.append({kTimeLine, t.error()});
    return {};
}

// A sum whose cells SQLite could not add up (the dialect's nonIntegerCount), or with a cell outside its column's
// range (the smallest and largest cell), is no sum.
bool sumReadable(const QVariant& unreadable, const QVariant& least, const QVariant& most, const StoredColumn& c, int line,
                 QList<HistoryQueryFailure>& faults)
{
    if (!unreadable.isNull() && unreadable.toLongLong() != 0) {
        faults.append({line, stored::failure(FwError::typeMismatch(), c)});
        return false;
    }
    for (const QVariant& v : {least, most}) {
        if (v.isNull())
            continue;
        if (const Result<qint64> r = stored::integer(v, c); !r) {
            faults.append({line, r.error()});
            return false;
        }
    }
    return true;
}

class SqlCursor final : public HistoryCursor {
public:
    SqlCursor(SyncSide side, QSqlQuery runs, QSqlQuery totals, QSqlQuery domains, bool domainsOk)
        : m_side(side), m_runs(std::move(runs)), m_totals(std::move(totals)), m_domains(std::move(domains)),
          m_domainsOk(domainsOk)
    {
    }

    bool nextRun(HistoryRunRow& r) override
    {
        if (!next(m_runs, 40))
            return false;
        r.faults.clear();
        r.timeFaulted = false;
        const auto lag = [&](int value, int unreadable, const StoredColumn& c) {
            const QVariant v = m_runs.value(value);
            r.lagNull = false;
            r.lag = 0;
            if (unreadable >= 0 && !sumReadable(m_runs.value(unreadable), m_runs.value(unreadable + 1), QVariant(),
                                                column::domainUsnLag, kLagLine, r.faults))
                return;
            if (v.isNull())
                r.lagNull = true;
            else
                readInto(v, c, kLagLine, r.lag, r.faults);
        };
        const auto times = [&](int start, int end, const StoredColumn& startColumn, const StoredColumn& endColumn) {
            const qsizetype before = r.faults.size();
            r.start = timeOf(m_runs.value(start), startColumn, r.faults);
            r.end = timeOf(m_runs.value(end), endColumn, r.faults);
            r.timeFaulted = r.faults.size() > before;
        };
        if (m_side == SyncSide::DC) {
            // a.SyncId, a.IsActive, a.USNIncrement, a.SyncInterval, b.TotalUSNLag, a.SyncStart, a.syncEnd, b.Unreadable,
            // b.LeastLag
            readInto(m_runs.value(0), column::dcSyncId, kIdLine, r.syncId, r.faults);
            readInto(m_runs.value(2), column::dcUsnIncrement, kIncrementLine, r.increment, r.faults);
            readInto(m_runs.value(3), column::dcSyncInterval, kIntervalLine, r.interval, r.faults);
            lag(4, 7, column::domainUsnLagSum);
            times(5, 6, column::dcSyncStart, column::dcSyncEnd);
        } else {
            // SyncId, Server, IsActive, USNIncrement, SyncInterval, USNLag, SyncStart, syncEnd, EventFlags
            readInto(m_runs.value(0), column::gcSyncId, kIdLine, r.syncId, r.faults);
            // Taken out of the value rather than copied: a copy costs reference counting on every run.
            QVariant server = m_runs.value(1);
            if (server.typeId() == QMetaType::QString) {
                r.server.swap(*static_cast<QString*>(server.data()));
            } else if (server.isNull()) {
                r.server.clear();
            } else if (const Result<QString> text = stored::text(server, column::gcServer)) {
                r.server = *text;
            } else {
                r.faults.append({kServerLine, text.error()});
            }
            readInto(m_runs.value(3), column::gcUsnIncrement, kIncrementLine, r.increment, r.faults);
            readInto(m_runs.value(4), column::gcSyncInterval, kIntervalLine, r.interval, r.faults);
            lag(5, -1, column::gcUsnLag);
            times(6, 7, column::gcSyncStart, column::gcSyncEnd);
            r.eventFlags = 0;
            readInto(m_runs.value(8), column::gcEventFlags, kFlagsLine, r.eventFlags, r.faults);
        }
        return true;
    }

    bool nextTotal(HistoryTotalRow& r) override
    {
        if (!next(m_totals, 50))
            return false;
        r.faults.clear();
        readInto(m_totals.value(0), column::objectSyncId, kIdLine, r.syncId, r.faults);
        const QVariant total = m_totals.value(1);
        r.total = 0;
        r.totalNull = false;
        if (!sumReadable(m_totals.value(2), m_totals.value(3), m_totals.value(4), column::objectCount, kTotalLine, r.faults))
            return true;
        if (total.isNull())
            r.totalNull = true;
        else
            readInto(total, column::objectCountSum, kTotalLine, r.total, r.faults);
        return true;
    }

    bool nextDomain(HistoryDomainRow& r) override
    {
        if (!m_domainsOk || !next(m_domains, 60))
            return false;
        r.faults.clear();
        readInto(m_domains.value(0), column::domainSyncId, kIdLine, r.syncId, r.faults);
        const auto text = [&](const QVariant& v, const StoredColumn& c, QString& target) {
            if (v.isNull()) {
                target.clear();
            } else if (const Result<QString> t = stored::text(v, c)) {
                target = *t;
            } else {
                target.clear();
                r.faults.append({kDomainLine, t.error()});
            }
        };
        text(m_domains.value(1), column::domainDomain, r.domain);
        text(m_domains.value(2), column::domainServer, r.server);
        r.eventFlags = 0;
        readInto(m_domains.value(3), column::domainEventFlags, kFlagsLine, r.eventFlags, r.faults);
        r.start = m_domains.value(4);
        return true;
    }

    QList<HistoryQueryFailure> failures() const override { return m_failures; }

private:
    // A row of `q`; false at its end, and when stepping to the next row failed (kept as a failure).
    bool next(QSqlQuery& q, int line)
    {
        if (!q.isActive())
            return false;
        if (q.next())
            return true;
        if (q.lastError().isValid())
            m_failures.append({line, Database::fromSqlError(q.lastError())});
        q.finish(); // reads as ended from now on
        return false;
    }

    QList<HistoryQueryFailure> m_failures;
    SyncSide m_side;
    QSqlQuery m_runs;
    QSqlQuery m_totals;
    QSqlQuery m_domains;
    bool m_domainsOk;
};

} // namespace

QString SqlHistorySource::runListSql(SyncSide side, const SqlDialect& dialect)
{
    // Bound by the last finished run counted (bound twice on the DC side, inside and outside the join).
    if (side == SyncSide::DC)
        return QStringLiteral(
                   "SELECT a.SyncId, a.IsActive, a.USNIncrement, a.SyncInterval, b.TotalUSNLag, a.SyncStart, a.syncEnd, "
                   "b.Unreadable, b.LeastLag FROM SyncHistoryDC as a INNER JOIN (SELECT SyncId, SUM(USNLag) AS TotalUSNLag, %1 "
                   "AS Unreadable, MIN(USNLag) AS LeastLag FROM SyncHistoryDCDomain where IsActive = 0 AND SyncId <= ? GROUP BY SyncId) as b ON "
                   "a.SyncId=b.SyncId where a.IsActive = 0 AND a.SyncId <= ? order by a.SyncId")
            .arg(dialect.nonIntegerCount(QStringLiteral("USNLag")));
    return QStringLiteral("SELECT SyncId, Server, IsActive, USNIncrement, SyncInterval, USNLag, SyncStart, syncEnd, EventFlags "
                          "FROM SyncHistoryGC where IsActive = 0 AND SyncId <= ? order by SyncId");
}

QVariantList SqlHistorySource::runListBinds(SyncSide side, qint64 lastSyncId)
{
    return side == SyncSide::DC ? QVariantList{lastSyncId, lastSyncId} : QVariantList{lastSyncId};
}

QString SqlHistorySource::totalsSql(SyncSide side, const SqlDialect& dialect)
{
    return QStringLiteral("SELECT SyncId, SUM(Count) AS TotalCount, %1 AS Unreadable, MIN(Count), MAX(Count) from "
                          "SyncHistoryObject WHERE "
                          "IsActive = 0 AND Domain %2 ? GROUP BY SyncId order by SyncId")
        .arg(dialect.nonIntegerCount(QStringLiteral("Count")), side == SyncSide::DC ? QStringLiteral("<>") : QStringLiteral("="));
}

QString SqlHistorySource::domainSql()
{
    return QStringLiteral("SELECT SyncId, Domain, Server, EventFlags, SyncStart from SyncHistoryDCDomain WHERE IsActive = 0 "
                          "order by SyncId, Domain");
}

Result<void> SqlHistorySource::beginSnapshot()
{
    // SQLite: a read transaction keeps the snapshot of its first read (WAL) or keeps writers out until it ends.
    // SQL Server: the counts and the walk's three results run on the command's one connection, one after the other
    // (one open result per connection: a result still being read is taken off it into a spill when the next starts,
    // see StreamedResult), and no isolation level is relied on (Babelfish refuses SERIALIZABLE unless told to map
    // it): the run list stops at the last finished run counted instead, so runs finishing meanwhile are not read. A
    // side runs one synchronisation at a time, its SyncIds rising: a run in progress at the counts comes after that one.
    // A transaction would add nothing there but a round trip to end it.
    m_inTransaction = m_db.dialect().engine() == SqlDialect::Engine::Sqlite;
    return m_inTransaction ? m_db.begin() : Result<void>::success();
}

void SqlHistorySource::endSnapshot()
{
    if (std::exchange(m_inTransaction, false))
        m_db.rollback(); // nothing was written
}

QString SqlHistorySource::countsSql(SyncSide side)
{
    return QStringLiteral("SELECT %1, "
                          "COUNT(DISTINCT USNIncrement) + MAX(CASE WHEN USNIncrement IS NULL THEN 1 ELSE 0 END), "
                          "COUNT(DISTINCT SyncInterval) + MAX(CASE WHEN SyncInterval IS NULL THEN 1 ELSE 0 END), "
                          "MAX(CASE WHEN IsActive = 0 THEN SyncId END), "
                          "SUM(CASE WHEN IsActive = 0 OR IsActive = 1 THEN 0 ELSE 1 END) "
                          "FROM %2")
        .arg(finishedRunCountColumn(), runTable(side));
}

QList<HistorySource::CountFailure> SqlHistorySource::counts(Counts& out)
{
    QList<CountFailure> failures;
    out = {};
    // The finished runs and the distinct increments and intervals (running synchronisations included, a null
    // counting as one value as a DISTINCT list would show it) in one scan of the table instead of three, with the
    // last finished run, where the walk stops. A long read like the walk's: over a million runs it can take the
    // server longer than a statement of the command's 5 s may wait.
    Result<QSqlQuery> q = m_db.runStreaming(countsSql(m_side));
    if (!q) {
        failures.append({10, q.error()});
    } else if (q->next()) {
        // A count that cannot be read fails the history; it is never taken as 0.
        const auto count = [&](int i, const char* name, qint64& target) {
            const QVariant v = q->value(i);
            if (v.isNull()) // an empty table
                return;
            const Result<qint64> n = stored::integer(v, column::integer(name, 0, column::kInt64Max));
            if (n)
                target = *n;
            else
                failures.append({10, n.error()});
        };
        qint64 rows = 0;
        count(0, "COUNT(*)", rows);
        out.totalRows = static_cast<double>(rows);
        count(1, "COUNT(DISTINCT USNIncrement)", out.distinctIncrements);
        count(2, "COUNT(DISTINCT SyncInterval)", out.distinctIntervals);
        const QVariant last = q->value(3);
        if (!last.isNull()) {
            if (const Result<qint64> id = stored::integer(last, m_side == SyncSide::DC ? column::dcSyncId : column::gcSyncId))
                out.lastSyncId = *id;
            else
                failures.append({10, id.error()});
        }
        // A run neither running nor finished would be left out of the history without a word.
        if (const QVariant odd = q->value(4); !odd.isNull() && odd.toLongLong() != 0)
            failures.append(
                {10, stored::failure(FwError::typeMismatch(), m_side == SyncSide::DC ? column::dcIsActive : column::gcIsActive)});
    } else if (q->lastError().isValid()) {
        failures.append({10, Database::fromSqlError(q->lastError())});
    }
    m_lastSyncId = out.lastSyncId;
    return failures;
}

std::unique_ptr<HistoryCursor> SqlHistorySource::open(QList<CountFailure>& failures)
{
    // A result that failed is an empty one here: the failures end the load before anything is read.
    const auto streamed = [&](const QString& sql, const QVariantList& binds, int line) {
        Result<QSqlQuery> q = m_db.runStreaming(sql, binds);
        if (!q)
            failures.append({line, q.error()});
        return std::move(q).valueOr(QSqlQuery(m_db.handle()));
    };
    QSqlQuery runs = streamed(runListSql(m_side, m_db.dialect()), runListBinds(m_side, m_lastSyncId), 40);
    QSqlQuery totals = streamed(totalsSql(m_side, m_db.dialect()), {QStringLiteral("GC")}, 50);
    QSqlQuery domains(m_db.handle());
    bool domainsOk = false;
    if (m_side == SyncSide::DC) {
        const qsizetype before = failures.size();
        domains = streamed(domainSql(), {}, 60);
        domainsOk = failures.size() == before;
    }
    return std::make_unique<SqlCursor>(m_side, std::move(runs), std::move(totals), std::move(domains), domainsOk);
}

} // namespace fw
