#include "monitor/DcSyncOverview.h"

#include "context/AppContext.h"
#include "db/Database.h"
#include "log/ActivityLog.h"
#include "log/DateFormat.h"
#include "monitor/ElapsedTime.h"
#include "monitor/MonitorErrorPath.h"
#include "db/StoredValue.h"
#include "monitor/StatusSummary.h"
#include "platform/Prompter.h"

#include <QSqlError>
#include <QSqlQuery>

namespace fw {

namespace {
const QString kForm = QStringLiteral("frmDCSynchronizationMain");

// The object rows of a run summed up: each sum, or the first cell of its column that could not be read.
struct ObjectSums {
    Result<std::optional<qint64>> count = std::optional<qint64>();
    Result<std::optional<WallTime>> lastSync = std::optional<WallTime>();
    Result<std::optional<qint64>> elapsed = std::optional<qint64>();

    static ObjectSums of(QSqlQuery& q)
    {
        ObjectSums s;
        const auto add = [](Result<std::optional<qint64>>& sum, const QVariant& v, const StoredColumn& c) {
            if (!sum || v.isNull())
                return;
            const Result<qint64> n = stored::integer(v, c);
            qint64 total = 0;
            if (!n)
                sum = n.error();
            else if (__builtin_add_overflow(sum->value_or(0), *n, &total))
                sum = stored::failure(FwError::overflow(), column::objectCountSum);
            else
                *sum = total;
        };
        while (q.next()) {
            add(s.count, q.value(0), column::objectCount);
            add(s.elapsed, q.value(2), column::objectElapsed);
            const QVariant last = q.value(1);
            if (s.lastSync && !last.isNull()) {
                const Result<WallTime> t = stored::wallTime(last, column::objectLastSync);
                if (!t)
                    s.lastSync = t.error();
                else if (!*s.lastSync || (*s.lastSync)->secs < t->secs)
                    *s.lastSync = *t;
            }
        }
        if (q.lastError().isValid()) {
            const FwError e = Database::fromSqlError(q.lastError());
            s.count = e;
            s.lastSync = e;
            s.elapsed = e;
        }
        return s;
    }
};
} // namespace

const QString& DcSyncOverview::noDomainsMessage()
{
    static const QString s = QStringLiteral("Could not find ADDomain information in database.");
    return s;
}

QString DcSyncOverview::domainsSql(const SqlDialect& dialect)
{
    // In the order of the settings' grid: by name, a name shared by key.
    return QStringLiteral("SELECT DomainName, CurrentDC, AdDomainObjectID FROM vw_ADDomain ORDER BY %1, %2")
        .arg(dialect.textOrder(QStringLiteral("DomainName")), dialect.textOrder(QStringLiteral("AdDomainObjectID")));
}

QString DcSyncOverview::runSql()
{
    return QStringLiteral("SELECT IsActive FROM SyncHistoryDC WHERE SyncId = ?");
}

QString DcSyncOverview::totalsSql()
{
    return QStringLiteral("SELECT Count, LastSync, Elasped FROM SyncHistoryObject WHERE SyncId = ? AND Domain <> 'GC'");
}

QString DcSyncOverview::domainStatusSql()
{
    return QStringLiteral("SELECT SyncId, Domain, IsActive FROM SyncHistoryDCDomain WHERE SyncId = ? AND Domain = ?");
}

QString DcSyncOverview::caption() const
{
    return QStringLiteral("DC Synchronization Status - main (SyncId %1)").arg(m_ctx.lastDCSyncId);
}

DcSyncOverview::Outcome DcSyncOverview::Form_Load()
{
    m_runActive = true;
    m_timerEnabled = true;
    m_ctx.log().WriteLog(QStringLiteral("Form_Load call PopulateDCStatus"), true);
    return PopulateDCStatus();
}

DcSyncOverview::Outcome DcSyncOverview::tmrRefresh_Timer()
{
    m_ctx.log().WriteTraceLog(QStringLiteral("tmrRefresh_Timer call PopulateDCStatus"), true);
    return PopulateDCStatus();
}

DcSyncOverview::Outcome DcSyncOverview::PopulateDCStatus()
{
    const QString exitLine = QStringLiteral("Exiting PopulateDCStatus of Form ") + kForm;
    m_ctx.log().WriteLog(QStringLiteral("Entering PopulateDCStatus of Form ") + kForm, true);
    m_failures.clear();
    MonitorErrorPath path(m_ctx, QStringLiteral("PopulateDCStatus"), kForm, MonitorErrorPath::Order::BoxThenLogWithLine);
    path.noteFailuresIn(m_failures, QStringLiteral("dc.overview"));
    const qint64 id = m_ctx.lastDCSyncId;

    const Result<Database*> connection = StatusSummary::connectionFor(m_ctx, m_shared);
    if (!connection) {
        path.report(connection.error());
        m_ctx.log().WriteLog(exitLine, true);
        return Outcome::Failed;
    }
    Database* const db = *connection;
    Result<QSqlQuery> domains = db->run(domainsSql(db->dialect()));
    if (!domains) {
        path.report(domains.error());
        m_ctx.log().WriteLog(exitLine, true);
        return Outcome::Failed;
    }
    QList<QSqlRecord> domainRows;
    while (domains->next())
        domainRows.append(domains->record());
    if (domainRows.isEmpty()) {
        m_ctx.prompter().inform(noDomainsMessage());
        return Outcome::NoDomains;
    }

    Result<QSqlQuery> run = db->run(runSql(), {id});
    path.report(run.error());
    const FirstRow runRow = FirstRow::from(run);
    if (!m_runActive) {
        m_timerEnabled = false;
        m_ctx.log().WriteLog(exitLine, true);
        return Outcome::Stopped;
    }
    path.stepInto(m_runActive, [&] { return stored::bit(runRow.value(QStringLiteral("IsActive")), column::dcIsActive); });

    // Only DC object rows count: a GC run may carry the same id. The cells are summed here rather than by
    // SUM and MAX, which pass over a cell that is no number or no date in silence.
    Result<QSqlQuery> totals = db->run(totalsSql(), {id});
    path.report(totals.error());
    const ObjectSums sums = totals ? ObjectSums::of(*totals) : ObjectSums{};

    m_rows.clear();
    path.ignoreFromHere();
    QString lastSynched, objects;
    qint32 seconds = 0;
    // A null sum (no rows, or only nulls) is no data; a cell that cannot be read stays a hole in what is shown.
    const auto take = [&](const auto& sum, auto&& show) {
        if (!sum)
            path.reportRead(sum.error());
        else if (*sum)
            show(**sum);
    };
    take(sums.lastSync, [&](const WallTime& t) { lastSynched = generalDate(t.toDateTime()); });
    take(sums.count, [&](qint64 n) { objects = QString::number(n); });
    take(sums.elapsed, [&](qint64 n) {
        if (const Result<qint32> r = roundToInt32(static_cast<double>(n)))
            seconds = *r;
        else
            path.reportRead(r.error());
    });
    const QString duration = FormatElapsedTime(seconds);

    for (const QSqlRecord& rec : domainRows) {
        OverviewRow r;
        r.domain = rec.value(QStringLiteral("DomainName")).toString();
        r.controller = rec.value(QStringLiteral("CurrentDC")).toString();
        r.objectId = rec.value(QStringLiteral("AdDomainObjectID")).toString();
        r.status = GetDCStatus(r.domain);
        r.lastSynched = lastSynched;
        r.objects = objects;
        r.duration = duration;
        m_rows.append(r);
    }
    m_ctx.log().WriteLog(exitLine, true);
    return Outcome::Filled;
}

QString DcSyncOverview::GetDCStatus(const QString& domain)
{
    m_ctx.log().WriteLog(QStringLiteral("Entering GetDCStatus of Form ") + kForm, true);
    MonitorErrorPath path(m_ctx, QStringLiteral("GetDCStatus"), kForm, MonitorErrorPath::Order::LogThenBox);
    path.noteFailuresIn(m_failures, QStringLiteral("dc.domainStatus"));
    QString result = QStringLiteral("No data");
    const Result<Database*> connection = StatusSummary::connectionFor(m_ctx, m_shared);
    if (!connection) {
        path.report(connection.error());
    } else {
        Database* const db = *connection;
        Result<QSqlQuery> q = db->run(domainStatusSql(), {m_ctx.lastDCSyncId, domain});
        path.report(q.error());
        const FirstRow row = FirstRow::from(q);
        if (row.exists())
            if (const Result<bool> active = path.stepResult(
                    [&] { return stored::bit(row.value(QStringLiteral("IsActive")), column::domainIsActive); }))
                result = *active ? QStringLiteral("In progress") : QStringLiteral("Idle");
    }
    m_ctx.log().WriteLog(QStringLiteral("Exiting GetDCStatus of Form ") + kForm, true);
    return result;
}

void DcSyncOverview::viewObjects(const QString& domain)
{
    m_lastDomain = domain;
    m_ctx.log().WriteLog(QStringLiteral("cmdDCSynchronizationMainViewObjects_Click(): SyncId = %1, Domain = %2")
                             .arg(m_ctx.lastDCSyncId)
                             .arg(domain),
                         true);
}

} // namespace fw
