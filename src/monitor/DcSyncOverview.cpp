#include "monitor/DcSyncOverview.h"

#include "context/AppContext.h"
#include "db/Database.h"
#include "log/ActivityLog.h"
#include "log/DateFormat.h"
#include "monitor/ElapsedTime.h"
#include "monitor/MonitorErrorPath.h"
#include "monitor/RowValues.h"
#include "monitor/StatusSummary.h"
#include "platform/Prompter.h"

#include <QSqlQuery>

namespace fw {

namespace {
const QString kForm = QStringLiteral("frmDCSynchronizationMain");
}

const QString& DcSyncOverview::noDomainsMessage()
{
    static const QString s = QStringLiteral("Could not find ADDomain information in database.");
    return s;
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

    std::unique_ptr<Database> own;
    const Result<Database*> connection = StatusSummary::connectionFor(m_ctx, m_shared, own);
    if (!connection) {
        path.report(connection.error());
        m_ctx.log().WriteLog(exitLine, true);
        return Outcome::Failed;
    }
    Database* const db = *connection;
    Result<QSqlQuery> domains = db->run(QStringLiteral("SELECT DomainName, CurrentDC, AdDomainObjectID FROM vw_ADDomain"));
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

    Result<QSqlQuery> run = db->run(QStringLiteral("SELECT IsActive FROM SyncHistoryDC WHERE SyncId = ?"), {id});
    path.report(run.error());
    const FirstRow runRow = FirstRow::from(run);
    if (!m_runActive) {
        m_timerEnabled = false;
        m_ctx.log().WriteLog(exitLine, true);
        return Outcome::Stopped;
    }
    path.stepInto(m_runActive, [&] { return rowvalue::flag(runRow.value(QStringLiteral("IsActive"))); });

    // Only DC object rows count: a GC run may carry the same id.
    Result<QSqlQuery> totals = db->run(QStringLiteral("SELECT SUM(Count) AS TotalCount, MAX(LastSync) AS VeryLastSync, "
                                                      "SUM(Elasped) AS TotalElasped FROM SyncHistoryObject "
                                                      "WHERE SyncId = ? AND Domain <> 'GC'"),
                                       {id});
    path.report(totals.error());
    const FirstRow totalRow = FirstRow::from(totals);

    m_rows.clear();
    path.ignoreFromHere();
    QString lastSynched, objects;
    qint32 seconds = 0;
    if (const Result<QDateTime> last = path.stepResult(
            [&] { return rowvalue::dateTime(totalRow.value(QStringLiteral("VeryLastSync"))); }))
        lastSynched = generalDate(*last);
    if (const Result<qint64> count = path.stepResult(
            [&] { return rowvalue::integer(totalRow.value(QStringLiteral("TotalCount"))); }))
        objects = QString::number(*count);
    path.stepInto(seconds, [&]() -> Result<qint32> {
        const Result<double> elapsed = rowvalue::number(totalRow.value(QStringLiteral("TotalElasped")));
        return elapsed ? roundToInt32(*elapsed) : elapsed.error();
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
    std::unique_ptr<Database> own;
    const Result<Database*> connection = StatusSummary::connectionFor(m_ctx, m_shared, own);
    if (!connection) {
        path.report(connection.error());
    } else {
        Database* const db = *connection;
        Result<QSqlQuery> q = db->run(
            QStringLiteral("SELECT SyncId, Domain, IsActive FROM SyncHistoryDCDomain WHERE SyncId = ? AND Domain = ?"),
            {m_ctx.lastDCSyncId, domain});
        path.report(q.error());
        const FirstRow row = FirstRow::from(q);
        if (row.exists())
            if (const Result<bool> active = path.stepResult(
                    [&] { return rowvalue::flag(row.value(QStringLiteral("IsActive"))); }))
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
