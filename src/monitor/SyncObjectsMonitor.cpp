#include "monitor/SyncObjectsMonitor.h"

#include "context/AppContext.h"
#include "db/Database.h"
#include "log/ActivityLog.h"
#include "log/DateFormat.h"
#include "log/NumberFormat.h"
#include "monitor/ElapsedTime.h"
#include "monitor/MonitorErrorPath.h"
#include "db/StoredValue.h"
#include "monitor/StatusSummary.h"
#include "platform/Clock.h"

#include <QSqlQuery>
#include <cmath>

namespace fw {

namespace {

constexpr int kValueColumns = 3;

QString blanks(int n)
{
    return QString(n, QLatin1Char(' '));
}

QString deletesCaption()
{
    return blanks(29) + QStringLiteral("Deletes");
}

} // namespace

SyncObjectsMonitor::SyncObjectsMonitor(AppContext& ctx, SyncSide side, QString domain)
    : m_ctx(ctx), m_side(side), m_domain(side == SyncSide::GC ? QStringLiteral("GC") : std::move(domain))
{
    m_cells.resize(rowSpecs().size() * kValueColumns);
}

const QList<ObjectRowSpec>& SyncObjectsMonitor::dcRows()
{
    static const QList<ObjectRowSpec> rows = {
        {QStringLiteral("Mail Users") + blanks(13) + QStringLiteral("Modifies"), QStringLiteral("MailUsers"), false},
        {deletesCaption(), QStringLiteral("MailUsers"), true},
        {QStringLiteral("Scope Dist Lists") + blanks(4) + QStringLiteral("Modifies"), QStringLiteral("ScopeDLs"), false},
        {deletesCaption(), QStringLiteral("ScopeDLs"), true},
        {QStringLiteral("Locations") + blanks(14) + QStringLiteral("Modifies"), QStringLiteral("Locations"), false},
        {deletesCaption(), QStringLiteral("Locations"), true},
    };
    return rows;
}

const QList<ObjectRowSpec>& SyncObjectsMonitor::gcRows()
{
    static const QList<ObjectRowSpec> rows = {
        {QStringLiteral("Mail Users") + blanks(13) + QStringLiteral("Modifies"), QStringLiteral("MailUsers"), false},
        {deletesCaption(), QStringLiteral("MailUsers"), true},
        {QStringLiteral("Servers") + blanks(18) + QStringLiteral("Modifies"), QStringLiteral("Servers"), false},
        {deletesCaption(), QStringLiteral("Servers"), true},
        {QStringLiteral("Mail Stores") + blanks(12) + QStringLiteral("Modifies"), QStringLiteral("Mailstores"), false},
        {deletesCaption(), QStringLiteral("Mailstores"), true},
        {QStringLiteral("Public Dist Lists") + blanks(5) + QStringLiteral("Modifies"), QStringLiteral("PDLs"), false},
        {deletesCaption(), QStringLiteral("PDLs"), true},
        {QStringLiteral("Locations") + blanks(14) + QStringLiteral("Modifies"), QStringLiteral("Locations"), false},
        {deletesCaption(), QStringLiteral("Locations"), true},
    };
    return rows;
}

QString SyncObjectsMonitor::columnKey(ObjectColumn c)
{
    switch (c) {
    case ObjectColumn::ObjectsSynchronized: return QStringLiteral("ObjectsSynchronized");
    case ObjectColumn::ElapsedTime: return QStringLiteral("ElapsedTime");
    case ObjectColumn::LastSynchronizedDateTime: break;
    }
    return QStringLiteral("LastSynchronizedDateTime");
}

QString SyncObjectsMonitor::caption() const
{
    if (m_side == SyncSide::DC)
        return QStringLiteral("DC Synchronization Status - %1 (SyncId %2)").arg(m_domain).arg(m_ctx.lastDCSyncId);
    return QStringLiteral("GC Synchronization Status (SyncId %1)").arg(m_ctx.lastGCSyncId);
}

QString SyncObjectsMonitor::procedureName() const
{
    return m_side == SyncSide::DC ? QStringLiteral("PopulateDCSyncObjects") : QStringLiteral("PopulateGCSyncObjects");
}

QString SyncObjectsMonitor::formName() const
{
    return m_side == SyncSide::DC ? QStringLiteral("frmDCSynchronization") : QStringLiteral("frmGCSynchronization");
}

QString SyncObjectsMonitor::cell(int row, ObjectColumn c) const
{
    const int i = (row - 1) * kValueColumns + static_cast<int>(c);
    return row >= 1 && i < m_cells.size() ? m_cells[i] : QString();
}

namespace {
// Seconds rounded as the grid shows them.
Result<QString> elapsedText(double seconds)
{
    const Result<qint32> s = roundToInt32(seconds);
    if (!s)
        return s.error();
    return FormatElapsedTime(*s);
}
} // namespace

template <typename Statement>
void SyncObjectsMonitor::setCellFrom(MonitorErrorPath& path, int row, ObjectColumn c, Statement&& text)
{
    if (const Result<QString> t = path.stepResult(text))
        setCell(row, c, *t);
    else
        path.noteHole(t.error()); // the cell keeps what it showed, which is not the stored value
}

void SyncObjectsMonitor::setCell(int row, ObjectColumn c, const QString& text)
{
    m_cells[(row - 1) * kValueColumns + static_cast<int>(c)] = text;
}

int SyncObjectsMonitor::rowFor(const QString& type, bool isDeleted) const
{
    const QList<ObjectRowSpec>& specs = rowSpecs();
    for (int i = 0; i < specs.size(); ++i)
        if (specs[i].isDeleted == isDeleted && specs[i].objectType == type)
            return i + 1;
    return -1;
}

Result<qint32> SyncObjectsMonitor::latencySeconds(double usnLag, double usnIncrement, double syncIntervalMinutes)
{
    if (usnIncrement == 0)
        return FwError{11, QStringLiteral("Division by zero")};
    return roundToInt32(usnLag * syncIntervalMinutes * 60 / usnIncrement);
}

void SyncObjectsMonitor::Form_Load()
{
    m_runActive = true;
    m_timerEnabled = true;
    m_ctx.log().WriteLog(QStringLiteral("Form_Load call ") + procedureName(), true);
    Populate();
}

void SyncObjectsMonitor::tmrRefresh_Timer()
{
    m_ctx.log().WriteTraceLog(QStringLiteral("tmrRefresh_Timer call ") + procedureName(), true);
    Populate();
}

void SyncObjectsMonitor::Populate()
{
    const QString form = formName();
    const QString proc = procedureName();
    const QString emptyText;
    const QString zeroCount = QStringLiteral("0");
    const QString zeroTime = QStringLiteral("00:00:00");
    const QString zeroDate = QStringLiteral("0000-00-00 00:00:00");
    m_ctx.log().WriteLog(QStringLiteral("Entering ") + proc + QStringLiteral(" of Form ") + form, true);
    MonitorErrorPath path(m_ctx, proc, form,
                          m_side == SyncSide::DC ? MonitorErrorPath::Order::LogThenBox
                                                 : MonitorErrorPath::Order::BoxThenLogWithLine);
    m_failures.clear();
    path.noteFailuresIn(m_failures, m_side == SyncSide::DC ? QStringLiteral("dc.objects") : QStringLiteral("gc.objects"));
    const qint64 id = m_side == SyncSide::DC ? m_ctx.lastDCSyncId : m_ctx.lastGCSyncId;
    const auto exitLog = [&] {
        m_ctx.log().WriteLog(QStringLiteral("Exiting ") + proc + QStringLiteral(" of Form ") + form, true);
    };

    const Result<Database*> connection = StatusSummary::connectionFor(m_ctx, m_shared);
    if (!connection) {
        path.report(connection.error());
        exitLog();
        return;
    }
    Database* const db = *connection;
    Result<QSqlQuery> runQuery =
        m_side == SyncSide::DC
            ? db->run(
                  QStringLiteral(
                      "SELECT SyncId, IsActive, USNIncrement, SyncInterval, SyncStart, syncEnd FROM SyncHistoryDC WHERE SyncId = ?"),
                  {id})
            : db->run(
                  QStringLiteral(
                      "SELECT SyncId, IsActive, USNIncrement, SyncInterval, USNLag, SyncStart, syncEnd FROM SyncHistoryGC WHERE SyncId = ?"),
                  {id});
    path.report(runQuery.error());
    const FirstRow run = FirstRow::from(runQuery);
    FirstRow lagRow = run;
    if (m_side == SyncSide::DC) {
        Result<QSqlQuery> domainQuery = db->run(
            QStringLiteral("SELECT SyncId, USNLag, SyncStart FROM SyncHistoryDCDomain WHERE SyncId = ? AND Domain = ?"),
            {id, m_domain});
        path.report(domainQuery.error());
        lagRow = FirstRow::from(domainQuery);
    }

    if (!m_runActive) {
        m_timerEnabled = false;
        exitLog();
        return;
    }
    const bool dc = m_side == SyncSide::DC;
    path.stepInto(m_runActive, [&] {
        return stored::bit(run.value(QStringLiteral("IsActive")), dc ? column::dcIsActive : column::gcIsActive);
    });
    m_isActive = m_runActive ? QStringLiteral("Yes") : QStringLiteral("No");

    QDateTime runStart;
    path.stepInto(runStart, [&] {
        return stored::dateTime(run.value(QStringLiteral("SyncStart")), dc ? column::dcSyncStart : column::gcSyncStart);
    });
    qint32 accounted = 0;

    if (!m_runActive) {
        path.ignoreFromHere();
        for (int r = 1; r <= rowSpecs().size(); ++r) {
            setCell(r, ObjectColumn::ObjectsSynchronized, zeroCount);
            setCell(r, ObjectColumn::ElapsedTime, zeroTime);
            setCell(r, ObjectColumn::LastSynchronizedDateTime, zeroDate);
        }
    }

    if (!run.exists()) {
        m_usnLag = zeroCount;
        m_latency = zeroTime;
    } else {
        // A value that cannot be read leaves what depends on it unshown, never shown as 0.
        const Result<qint64> lag = path.stepResult([&] {
            return stored::integer(lagRow.value(QStringLiteral("USNLag")), dc ? column::domainUsnLag : column::gcUsnLag);
        });
        const Result<qint64> increment = path.stepResult([&] {
            return stored::integer(run.value(QStringLiteral("USNIncrement")),
                                   dc ? column::dcUsnIncrement : column::gcUsnIncrement);
        });
        const Result<qint64> interval = path.stepResult([&] {
            return stored::integer(run.value(QStringLiteral("SyncInterval")),
                                   dc ? column::dcSyncInterval : column::gcSyncInterval);
        });
        for (const auto* r : {&lag, &increment, &interval})
            if (!*r)
                path.noteHole(r->error());
        if (lag)
            m_usnLag = QString::number(*lag);
        if (lag && increment && interval)
            if (const Result<qint32> latency = path.stepResult([&] {
                    return latencySeconds(static_cast<double>(*lag), static_cast<double>(*increment),
                                          static_cast<double>(*interval));
                }))
                m_latency = FormatElapsedTime(*latency);

        // Finished object types first, so the active one sees the time of all finished ones.
        Result<QSqlQuery> objects = db->run(
            QStringLiteral("SELECT SyncId, Domain, IsActive, ObjectType, IsDeleted, Count, Remaining, "
                           "Elasped, LastSync FROM SyncHistoryObject WHERE SyncId = ? AND Domain = ? "
                           "ORDER BY IsActive, %1, IsDeleted")
                .arg(db->dialect().textOrder(QStringLiteral("ObjectType"))),
            {id, m_domain});
        path.reportRead(objects.error());
        while (objects && objects->isActive() && objects->next()) {
            const QSqlRecord rec = objects->record();
            bool objectActive = false;
            bool isDeleted = false;
            QString type;
            path.stepInto(objectActive,
                          [&] { return stored::bit(rec.value(QStringLiteral("IsActive")), column::objectIsActive); });
            path.stepInto(type, [&] { return stored::text(rec.value(QStringLiteral("ObjectType")), column::objectType); });
            path.stepInto(isDeleted,
                          [&] { return stored::bit(rec.value(QStringLiteral("IsDeleted")), column::objectIsDeleted); });
            const int row = rowFor(type, isDeleted);
            const QVariant count = rec.value(QStringLiteral("Count"));
            const QVariant elapsed = rec.value(QStringLiteral("Elasped"));
            const QVariant lastSync = rec.value(QStringLiteral("LastSync"));
            if (row > 0) {
                if (count.isNull())
                    setCell(row, ObjectColumn::ObjectsSynchronized, objectActive ? emptyText : zeroCount);
                else
                    setCellFrom(path, row, ObjectColumn::ObjectsSynchronized, [&]() -> Result<QString> {
                        const Result<qint64> n = stored::integer(count, column::objectCount);
                        if (!n)
                            return n.error();
                        return QString::number(*n);
                    });

                if (!elapsed.isNull())
                    setCellFrom(path, row, ObjectColumn::ElapsedTime, [&]() -> Result<QString> {
                        const Result<qint64> d = stored::integer(elapsed, column::objectElapsed);
                        return d ? elapsedText(static_cast<double>(*d)) : d.error();
                    });
                else if (objectActive && !runStart.isValid()) // no start recorded: the running time is still missing
                    setCell(row, ObjectColumn::ElapsedTime, emptyText);
                else if (objectActive)
                    setCellFrom(path, row, ObjectColumn::ElapsedTime, [&]() -> Result<QString> {
                        const Result<qint32> since = secondsBetween(runStart, m_ctx.clock().now());
                        return since ? elapsedText(static_cast<double>(static_cast<qint64>(*since) - accounted)) : since.error();
                    });
                else
                    setCell(row, ObjectColumn::ElapsedTime, zeroTime);

                if (lastSync.isNull())
                    setCell(row, ObjectColumn::LastSynchronizedDateTime, objectActive ? emptyText : zeroDate);
                else
                    setCellFrom(path, row, ObjectColumn::LastSynchronizedDateTime, [&]() -> Result<QString> {
                        const Result<QDateTime> t = stored::dateTime(lastSync, column::objectLastSync);
                        if (!t)
                            return t.error();
                        return isoSeconds(*t);
                    });
            }
            if (!elapsed.isNull())
                path.stepInto(accounted, [&]() -> Result<qint32> {
                    const Result<qint64> d = stored::integer(elapsed, column::objectElapsed);
                    return d ? roundToInt32(static_cast<double>(accounted) + static_cast<double>(*d)) : d.error();
                });
        }
    }
    ++m_fills;
    exitLog();
}

} // namespace fw
