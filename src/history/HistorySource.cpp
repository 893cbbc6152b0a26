#include "history/HistorySource.h"

#include "db/Database.h"

#include <QSqlQuery>

namespace fw {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<qint64>(doe) - 719468;
}

bool digits(const QChar* p, int n, int& out)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        const char16_t c = p[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
    }
    out = v;
    return true;
}

// "yyyy-MM-dd HH:mm:ss" with an optional 'T' and fraction, the way SQLite keeps the times.
bool parseIsoText(const QString& s, qint64& secs)
{
    if (s.size() < 19)
        return false;
    const QChar* p = s.constData();
    int y, mo, d, h, mi, se;
    if (!digits(p, 4, y) || p[4] != u'-' || !digits(p + 5, 2, mo) || p[7] != u'-' || !digits(p + 8, 2, d) ||
        (p[10] != u' ' && p[10] != u'T') || !digits(p + 11, 2, h) || p[13] != u':' || !digits(p + 14, 2, mi) ||
        p[16] != u':' || !digits(p + 17, 2, se))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60)
        return false;
    secs = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 + mi * 60 + se;
    return true;
}

qint64 toInt64(const QVariant& v, bool* isNull = nullptr)
{
    if (isNull)
        *isNull = v.isNull();
    return v.toLongLong();
}

class SqlCursor final : public HistoryCursor {
public:
    SqlCursor(HistorySide side, QSqlQuery runs, QSqlQuery totals, QSqlQuery domains, bool domainsOk)
        : m_side(side), m_runs(std::move(runs)), m_totals(std::move(totals)), m_domains(std::move(domains)), m_domainsOk(domainsOk)
    {
    }

    bool nextRun(HistoryRunRow& r) override
    {
        if (!m_runs.isActive() || !m_runs.next())
            return false;
        if (m_side == HistorySide::DC) {
            // a.SyncId, a.IsActive, a.USNIncrement, a.SyncInterval, b.TotalUSNLag, a.SyncStart, a.syncEnd
            r.syncId = m_runs.value(0).toLongLong();
            r.increment = m_runs.value(2).toInt();
            r.interval = m_runs.value(3).toInt();
            r.lag = toInt64(m_runs.value(4), &r.lagNull);
            r.start = CivilTime::fromVariant(m_runs.value(5));
            r.end = CivilTime::fromVariant(m_runs.value(6));
        } else {
            // SyncId, Server, IsActive, USNIncrement, SyncInterval, USNLag, SyncStart, syncEnd, EventFlags
            r.syncId = m_runs.value(0).toLongLong();
            r.server = m_runs.value(1).toString();
            r.increment = m_runs.value(3).toInt();
            r.interval = m_runs.value(4).toInt();
            r.lag = toInt64(m_runs.value(5), &r.lagNull);
            r.start = CivilTime::fromVariant(m_runs.value(6));
            r.end = CivilTime::fromVariant(m_runs.value(7));
            r.eventFlags = static_cast<qint16>(m_runs.value(8).toInt());
        }
        return true;
    }

    bool nextTotal(HistoryTotalRow& r) override
    {
        if (!m_totals.isActive() || !m_totals.next())
            return false;
        r.syncId = m_totals.value(0).toLongLong();
        r.total = toInt64(m_totals.value(1), &r.totalNull);
        return true;
    }

    bool nextDomain(HistoryDomainRow& r) override
    {
        if (!m_domainsOk || !m_domains.isActive() || !m_domains.next())
            return false;
        r.syncId = m_domains.value(0).toLongLong();
        r.domain = m_domains.value(1).toString();
        r.server = m_domains.value(2).toString();
        r.eventFlags = static_cast<qint16>(m_domains.value(3).toInt());
        r.start = m_domains.value(4);
        return true;
    }

private:
    HistorySide m_side;
    QSqlQuery m_runs;
    QSqlQuery m_totals;
    QSqlQuery m_domains;
    bool m_domainsOk;
};

QString table(HistorySide side)
{
    return side == HistorySide::DC ? QStringLiteral("SyncHistoryDC") : QStringLiteral("SyncHistoryGC");
}

} // namespace

CivilTime CivilTime::fromVariant(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return {};
    if (v.typeId() == QMetaType::QDateTime)
        return fromDateTime(v.toDateTime());
    if (v.typeId() == QMetaType::QDate)
        return fromDateTime(QDateTime(v.toDate(), QTime(0, 0)));
    const QString s = v.toString();
    qint64 secs = 0;
    if (parseIsoText(s, secs))
        return {secs, true};
    return fromDateTime(QDateTime::fromString(s, Qt::ISODate));
}

CivilTime CivilTime::fromDateTime(const QDateTime& dt)
{
    if (!dt.isValid())
        return {};
    const QDate d = dt.date();
    const QTime t = dt.time();
    return {daysFromCivil(d.year(), static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day())) * 86400 +
                t.hour() * 3600 + t.minute() * 60 + t.second(),
            true};
}

QDateTime CivilTime::toDateTime() const
{
    if (!valid)
        return {};
    const qint64 days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
    const qint64 rest = secs - days * 86400;
    // Wall time as stored: kept without a zone so that no daylight-saving rule can move it.
    return QDateTime(QDate::fromJulianDay(days + 2440588), QTime::fromMSecsSinceStartOfDay(static_cast<int>(rest * 1000)), Qt::UTC);
}

QString SqlHistorySource::runListSql(HistorySide side)
{
    if (side == HistorySide::DC)
        return QStringLiteral(
            "SELECT a.SyncId, a.IsActive, a.USNIncrement, a.SyncInterval, b.TotalUSNLag, a.SyncStart, a.syncEnd "
            "FROM SyncHistoryDC as a INNER JOIN (SELECT SyncId, SUM(USNLag) AS TotalUSNLag FROM SyncHistoryDCDomain "
            "where IsActive = 0 GROUP BY SyncId) as b ON a.SyncId=b.SyncId where a.IsActive = 0 order by a.SyncId");
    return QStringLiteral("SELECT SyncId, Server, IsActive, USNIncrement, SyncInterval, USNLag, SyncStart, syncEnd, EventFlags "
                          "FROM SyncHistoryGC where IsActive = 0 order by SyncId");
}

QString SqlHistorySource::totalsSql(HistorySide side)
{
    return side == HistorySide::DC
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

QList<HistorySource::CountFailure> SqlHistorySource::counts(Counts& out)
{
    QList<CountFailure> failures;
    out = {};
    const QString t = table(m_side);
    FwError err;
    // The finished runs and the distinct increments and intervals (running synchronisations included, a null
    // counting as one value as a DISTINCT list would show it) in one scan of the table instead of three.
    QSqlQuery q = m_db.run(QStringLiteral("SELECT COUNT(CASE WHEN IsActive = 0 THEN SyncId END) AS TotalRows, "
                                          "COUNT(DISTINCT USNIncrement) + MAX(CASE WHEN USNIncrement IS NULL THEN 1 ELSE 0 END), "
                                          "COUNT(DISTINCT SyncInterval) + MAX(CASE WHEN SyncInterval IS NULL THEN 1 ELSE 0 END) "
                                          "FROM %1")
                               .arg(t),
                           {}, &err);
    if (err) {
        failures.append({10, err});
    } else if (q.next()) {
        out.totalRows = q.value(0).toDouble();
        out.distinctIncrements = q.value(1).toLongLong(); // null on an empty table: 0
        out.distinctIntervals = q.value(2).toLongLong();
    }
    return failures;
}

std::unique_ptr<HistoryCursor> SqlHistorySource::open(QList<CountFailure>& failures)
{
    FwError err;
    QSqlQuery runs = m_db.run(runListSql(m_side), {}, &err);
    if (err)
        failures.append({40, err});
    QSqlQuery totals = m_db.run(totalsSql(m_side), {QStringLiteral("GC")}, &err);
    if (err)
        failures.append({50, err});
    QSqlQuery domains(m_db.handle());
    bool domainsOk = false;
    if (m_side == HistorySide::DC) {
        domains = m_db.run(domainSql(), {}, &err);
        if (err)
            failures.append({60, err});
        domainsOk = !err;
    }
    return std::make_unique<SqlCursor>(m_side, std::move(runs), std::move(totals), std::move(domains), domainsOk);
}

} // namespace fw
