#include "history/HistorySource.h"

#include "db/Database.h"

#include <QSqlError>
#include <QSqlQuery>

namespace fw {

namespace {

// SQLite hands integer columns over as 64-bit integers: those are read in place, which costs less than the
// general conversion (a large share of the build's time otherwise); anything else converts as QVariant does.
qint64 toInt64(const QVariant& v, bool* isNull = nullptr)
{
    if (isNull)
        *isNull = v.isNull();
    if (v.typeId() == QMetaType::LongLong)
        return *static_cast<const qlonglong*>(v.constData());
    return v.toLongLong();
}

// The same narrowed as QVariant::toInt narrows a 64-bit integer: its low 32 bits.
qint32 toInt32(const QVariant& v)
{
    if (v.typeId() == QMetaType::LongLong)
        return static_cast<qint32>(*static_cast<const qlonglong*>(v.constData()));
    return v.toInt();
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
        if (m_side == SyncSide::DC) {
            // a.SyncId, a.IsActive, a.USNIncrement, a.SyncInterval, b.TotalUSNLag, a.SyncStart, a.syncEnd
            r.syncId = toInt64(m_runs.value(0));
            r.increment = toInt32(m_runs.value(2));
            r.interval = toInt32(m_runs.value(3));
            r.lag = toInt64(m_runs.value(4), &r.lagNull);
            r.start = WallTime::fromVariant(m_runs.value(5));
            r.end = WallTime::fromVariant(m_runs.value(6));
        } else {
            // SyncId, Server, IsActive, USNIncrement, SyncInterval, USNLag, SyncStart, syncEnd, EventFlags
            r.syncId = toInt64(m_runs.value(0));
            // Taken out of the value rather than copied: a copy costs reference counting on every run.
            QVariant server = m_runs.value(1);
            if (server.typeId() == QMetaType::QString)
                r.server.swap(*static_cast<QString*>(server.data()));
            else
                r.server = server.toString();
            r.increment = toInt32(m_runs.value(3));
            r.interval = toInt32(m_runs.value(4));
            r.lag = toInt64(m_runs.value(5), &r.lagNull);
            r.start = WallTime::fromVariant(m_runs.value(6));
            r.end = WallTime::fromVariant(m_runs.value(7));
            r.eventFlags = static_cast<qint16>(toInt32(m_runs.value(8)));
        }
        return true;
    }

    bool nextTotal(HistoryTotalRow& r) override
    {
        if (!next(m_totals, 50))
            return false;
        r.syncId = toInt64(m_totals.value(0));
        r.total = toInt64(m_totals.value(1), &r.totalNull);
        return true;
    }

    bool nextDomain(HistoryDomainRow& r) override
    {
        if (!m_domainsOk || !next(m_domains, 60))
            return false;
        r.syncId = toInt64(m_domains.value(0));
        r.domain = m_domains.value(1).toString();
        r.server = m_domains.value(2).toString();
        r.eventFlags = static_cast<qint16>(toInt32(m_domains.value(3)));
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

QString SqlHistorySource::runListSql(SyncSide side)
{
    // Bound by the last finished run counted (bound twice on the DC side, inside and outside the join).
    if (side == SyncSide::DC)
        return QStringLiteral(
            "SELECT a.SyncId, a.IsActive, a.USNIncrement, a.SyncInterval, b.TotalUSNLag, a.SyncStart, a.syncEnd "
            "FROM SyncHistoryDC as a INNER JOIN (SELECT SyncId, SUM(USNLag) AS TotalUSNLag FROM SyncHistoryDCDomain "
            "where IsActive = 0 AND SyncId <= ? GROUP BY SyncId) as b ON a.SyncId=b.SyncId where a.IsActive = 0 AND "
            "a.SyncId <= ? order by a.SyncId");
    return QStringLiteral("SELECT SyncId, Server, IsActive, USNIncrement, SyncInterval, USNLag, SyncStart, syncEnd, EventFlags "
                          "FROM SyncHistoryGC where IsActive = 0 AND SyncId <= ? order by SyncId");
}

QVariantList SqlHistorySource::runListBinds(SyncSide side, qint64 lastSyncId)
{
    return side == SyncSide::DC ? QVariantList{lastSyncId, lastSyncId} : QVariantList{lastSyncId};
}

QString SqlHistorySource::totalsSql(SyncSide side)
{
    return side == SyncSide::DC
               ? QStringLiteral("SELECT SyncId, SUM(Count) AS TotalCount from SyncHistoryObject WHERE IsActive = 0 AND "
                                "Domain <> ? GROUP BY SyncId order by SyncId")
               : QStringLiteral("SELECT SyncId, SUM(Count) AS TotalCount from SyncHistoryObject WHERE IsActive = 0 AND "
                                "Domain = ? GROUP BY SyncId order by SyncId");
}

QString SqlHistorySource::domainSql()
{
    return QStringLiteral("SELECT SyncId, Domain, Server, EventFlags, SyncStart from SyncHistoryDCDomain WHERE IsActive = 0 "
                          "order by SyncId, Domain");
}

Result<void> SqlHistorySource::beginSnapshot()
{
    // SQLite: a read transaction keeps the snapshot of its first read (WAL) or keeps writers out until it ends.
    // SQL Server: the counts and the walk's results each run on a connection of their own (one open result per
    // connection), outside any transaction of this one, and no isolation level is relied on (Babelfish refuses
    // SERIALIZABLE unless told to map it): the run list stops at the last finished run counted instead, so runs
    // finishing meanwhile are not read. A side runs one synchronisation at a time, its SyncIds rising: a run in
    // progress at the counts comes after that one.
    return m_db.begin();
}

void SqlHistorySource::endSnapshot()
{
    m_db.rollback(); // nothing was written
}

QString SqlHistorySource::countsSql(SyncSide side)
{
    return QStringLiteral("SELECT %1, "
                          "COUNT(DISTINCT USNIncrement) + MAX(CASE WHEN USNIncrement IS NULL THEN 1 ELSE 0 END), "
                          "COUNT(DISTINCT SyncInterval) + MAX(CASE WHEN SyncInterval IS NULL THEN 1 ELSE 0 END), "
                          "MAX(CASE WHEN IsActive = 0 THEN SyncId END) "
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
        out.totalRows = q->value(0).toDouble();
        out.distinctIncrements = q->value(1).toLongLong(); // null on an empty table: 0
        out.distinctIntervals = q->value(2).toLongLong();
        out.lastSyncId = q->value(3).toLongLong();
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
    QSqlQuery runs = streamed(runListSql(m_side), runListBinds(m_side, m_lastSyncId), 40);
    QSqlQuery totals = streamed(totalsSql(m_side), {QStringLiteral("GC")}, 50);
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
