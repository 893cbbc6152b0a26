#include "app/StartupGate.h"
#include "cli/CliSupport.h"
#include "context/AppContext.h"
#include "db/Database.h"
#include "db/DatabaseSession.h"
#include "log/DateFormat.h"
#include "monitor/DcSyncOverview.h"
#include "monitor/ReadAhead.h"
#include "monitor/RunAgeCheck.h"
#include "monitor/StatusSummary.h"
#include "monitor/SyncObjectsMonitor.h"
#include "platform/Clock.h"

#include <QJsonArray>
#include <QJsonObject>

namespace fw {
namespace {

// Far above any sync interval, and small enough that the age in seconds never overflows.
constexpr qint64 kMaxAgeLimitMinutes = 10LL * 365 * 24 * 60;

QJsonValue optText(const std::optional<QString>& s)
{
    return s ? QJsonValue(*s) : QJsonValue(QJsonValue::Null);
}

QJsonObject sideJson(const SideStatus& s, const RunAge& age)
{
    QJsonObject o{{QStringLiteral("state"), optText(s.state)},
                  {QStringLiteral("when"), optText(s.when)},
                  {QStringLiteral("elapsed"), optText(s.elapsed)},
                  {QStringLiteral("objects"), optText(s.objects)},
                  {QStringLiteral("syncId"), s.syncId},
                  {QStringLiteral("active"), s.hasRun && s.active}};
    QJsonObject f{{QStringLiteral("syncId"), age.hasFinishedRun ? QJsonValue(age.syncId) : QJsonValue(QJsonValue::Null)},
                  {QStringLiteral("end"), age.end.isValid() ? QJsonValue(isoSeconds(age.end)) : QJsonValue(QJsonValue::Null)},
                  {QStringLiteral("ageMinutes"),
                   age.ageSeconds >= 0 ? QJsonValue(static_cast<double>(age.ageSeconds / 60)) : QJsonValue(QJsonValue::Null)},
                  {QStringLiteral("maxAgeMinutes"), static_cast<double>(age.maxAgeMinutes)},
                  {QStringLiteral("fresh"), age.fresh}};
    o[QStringLiteral("latestFinished")] = f;
    return o;
}

void printSide(QTextStream& out, const QString& title, const SideStatus& s, const RunAge& age)
{
    out << title << "\n";
    out << "  Status:               " << s.state.value_or(QString()) << "  " << s.when.value_or(QString()) << "\n";
    out << "  Elapsed Time:         " << s.elapsed.value_or(QString()) << "\n";
    out << "  Objects Synchronized: " << s.objects.value_or(QString()) << "\n";
    out << "  SyncId:               " << s.syncId << "\n";
    if (!age.hasFinishedRun)
        out << "  Latest finished run:  none (limit " << age.maxAgeMinutes << " min): STALE\n";
    else if (!age.end.isValid())
        out << "  Latest finished run:  SyncId " << age.syncId << ", no end time recorded: STALE\n";
    else if (age.ageSeconds < 0)
        out << "  Latest finished run:  SyncId " << age.syncId << ", ended " << isoSeconds(age.end) << ", "
            << (-age.ageSeconds + 59) / 60 << " min in the future (clock or time zone out of step): UNKNOWN\n";
    else
        out << "  Latest finished run:  SyncId " << age.syncId << ", ended " << isoSeconds(age.end) << ", " << age.ageSeconds / 60
            << " min ago (limit " << age.maxAgeMinutes << " min): " << (age.fresh ? "ok" : "STALE") << "\n";
}

QJsonArray failuresJson(const QList<ReadFailure>& failures)
{
    QJsonArray a;
    for (const ReadFailure& f : failures)
        a.append(QJsonObject{{QStringLiteral("part"), f.part},
                             {QStringLiteral("number"), f.error.number},
                             {QStringLiteral("description"), f.error.description}});
    return a;
}

// Says on standard error which parts could not be read. Any part not read makes the answer exit 2:
// a monitoring command never says OK about something it could not read.
int unreadExit(CliEnv& env, const QList<ReadFailure>& failures, int exitWhenRead)
{
    if (failures.isEmpty())
        return exitWhenRead;
    QStringList parts;
    for (const ReadFailure& f : failures)
        parts.append(f.error.description.isEmpty() ? f.part : f.part + QStringLiteral(" (") + f.error.description + ')');
    env.err << "ferrowind status: not read: " << parts.join(QStringLiteral(", ")) << "\n";
    return ExitUsage;
}

// Nothing to show: the database could not be opened or its history read. A script asking for JSON still
// gets an answer it can parse, which names the part.
int databaseUnread(CliEnv& env, bool json, const ReadFailure& failure, const QString& what)
{
    env.err << "ferrowind status: " << what << failure.error.description << "\n";
    if (json)
        printJson(env.out, QJsonDocument(QJsonObject{{QStringLiteral("complete"), false},
                                                     {QStringLiteral("failures"), failuresJson({failure})},
                                                     {QStringLiteral("ok"), false}}));
    return ExitUsage;
}

// The detail JSON: the window's texts plus whether everything was read.
void printDetailsJson(CliEnv& env, QJsonObject o, const QList<ReadFailure>& failures)
{
    o[QStringLiteral("complete")] = failures.isEmpty();
    o[QStringLiteral("failures")] = failuresJson(failures);
    printJson(env.out, QJsonDocument(o));
}

int printObjects(CliEnv& env, SyncObjectsMonitor& m, bool json, QList<ReadFailure> failures)
{
    m.Form_Load();
    failures.append(m.failures());
    const QList<ObjectRowSpec>& specs = m.rowSpecs();
    if (json) {
        QJsonArray rows;
        // clang-format off
        for (int r = 1; r <= specs.size(); ++r)
            rows.append(QJsonObject{{QStringLiteral("objectType"), specs[r - 1].objectType},
                                    {QStringLiteral("change"), specs[r - 1].isDeleted ? QStringLiteral("Deletes") : QStringLiteral("Modifies")},
                                    {QStringLiteral("objectsSynchronized"), m.cell(r, ObjectColumn::ObjectsSynchronized)},
                                    {QStringLiteral("elapsedTime"), m.cell(r, ObjectColumn::ElapsedTime)},
                                    {QStringLiteral("lastSynchronized"), m.cell(r, ObjectColumn::LastSynchronizedDateTime)}});
        printDetailsJson(env, QJsonObject{{QStringLiteral("title"), m.caption()},
                                          {QStringLiteral("isActive"), optText(m.isActiveText())},
                                          {QStringLiteral("usnLag"), optText(m.usnLagText())},
                                          {QStringLiteral("latency"), optText(m.latencyText())},
                                          {QStringLiteral("rows"), rows}},
                         failures);
        // clang-format on
        return unreadExit(env, failures, ExitOk);
    }
    env.out << m.caption() << "\n";
    env.out << "IsActive: " << m.isActiveText().value_or(QString()) << "   USN LAG: " << m.usnLagText().value_or(QString())
            << "   LATENCY: " << m.latencyText().value_or(QString()) << "\n";
    env.out << QStringLiteral("%1 %2 %3 %4 %5\n")
                   .arg(QStringLiteral("Object type"), -12)
                   .arg(QStringLiteral("Change"), -9)
                   .arg(QStringLiteral("Objects Synchronized"), -21)
                   .arg(QStringLiteral("Elapsed Time"), -13)
                   .arg(QStringLiteral("Last Synchronized Date/Time"));
    for (int r = 1; r <= specs.size(); ++r)
        env.out << QStringLiteral("%1 %2 %3 %4 %5\n")
                       .arg(specs[r - 1].objectType, -12)
                       .arg(specs[r - 1].isDeleted ? QStringLiteral("Deletes") : QStringLiteral("Modifies"), -9)
                       .arg(m.cell(r, ObjectColumn::ObjectsSynchronized), -21)
                       .arg(m.cell(r, ObjectColumn::ElapsedTime), -13)
                       .arg(m.cell(r, ObjectColumn::LastSynchronizedDateTime));
    return unreadExit(env, failures, ExitOk);
}

} // namespace

int runStatus(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    const QCommandLineOption details(QStringLiteral("details"),
                                     QStringLiteral("Show the rows of a detail window of the latest run: dc (the domain "
                                                    "overview, or with --domain the objects of one domain) or gc."),
                                     QStringLiteral("dc|gc"));
    const QCommandLineOption domain(
        QStringLiteral("domain"), QStringLiteral("With --details dc: the domain whose objects to show."), QStringLiteral("NAME"));
    const QCommandLineOption maxAge(QStringLiteral("max-age"),
                                    QStringLiteral("Age limit of the latest finished run of each side, 1 to 5256000 (ten "
                                                   "years; default: three sync intervals of that run)."),
                                    QStringLiteral("MINUTES"));
    p.addOptions({json, details, domain, maxAge});
    if (int rc = parseCommandLine(
            p, env, QStringLiteral("status"),
            QStringLiteral(
                "Show the state of the latest DC and GC synchronisation runs, as the Status "
                "page does. Exit status 0 when the latest finished run of both sides ended "
                "less than --max-age minutes ago, 1 otherwise, 2 on a usage or database "
                "error or when any part could not be read (the JSON names it). With --details: 0 when every row was read, "
                "2 when a part could not be read (the JSON names it)."));
        rc >= 0)
        return rc;

    QString detailSide;
    if (p.isSet(details)) {
        detailSide = p.value(details).toLower();
        if (detailSide != QLatin1String("dc") && detailSide != QLatin1String("gc")) {
            env.err << "ferrowind status: --details takes dc or gc, not '" << p.value(details) << "'\n";
            return ExitUsage;
        }
    }
    if (p.isSet(domain) && detailSide != QLatin1String("dc")) {
        env.err << "ferrowind status: --domain goes with --details dc\n";
        return ExitUsage;
    }
    std::optional<qint64> limit;
    if (p.isSet(maxAge)) {
        bool ok = false;
        const qint64 v = p.value(maxAge).toLongLong(&ok);
        if (!ok || v <= 0 || v > kMaxAgeLimitMinutes) {
            env.err << "ferrowind status: --max-age takes a whole number of minutes from 1 to " << kMaxAgeLimitMinutes
                    << " (ten years), not '" << p.value(maxAge) << "'\n";
            return ExitUsage;
        }
        limit = v;
    }

    AppContext& ctx = env.context();
    ctx.connectionString = StartupGate(ctx).connectionString();
    // The command's one connection, for all it reads.
    const Result<Database*> opened = ctx.databaseSession().open(ctx.connectionString, Database::Access::ReadOnly);
    if (!opened)
        return databaseUnread(env, p.isSet(json), {QStringLiteral("database"), opened.error()}, QString());
    Database* const db = *opened;
    // What the answer reads, sent ahead together (the objects of one domain or of the GC run are read as they come).
    ReadAhead{.finishedRuns = detailSide.isEmpty(), .overview = detailSide == QLatin1String("dc") && !p.isSet(domain)}.run(*db);

    const StatusSnapshot snap = StatusSummary(ctx).PopulateDCGCStatus(db);

    // The details show the latest runs the summary found: a summary with holes may have found the wrong ones.
    if (detailSide == QLatin1String("gc")) {
        SyncObjectsMonitor m(ctx, SyncSide::GC);
        m.shareConnection(*db);
        return printObjects(env, m, p.isSet(json), snap.failures);
    }
    if (detailSide == QLatin1String("dc")) {
        DcSyncOverview overview(ctx);
        overview.shareConnection(*db);
        const DcSyncOverview::Outcome loaded = overview.Form_Load();
        QList<ReadFailure> failures = snap.failures + overview.failures();
        if (loaded == DcSyncOverview::Outcome::NoDomains)
            return ExitFailed;
        if (p.isSet(domain)) {
            QString chosen;
            QStringList known;
            for (const OverviewRow& r : overview.rows()) {
                known.append(r.domain);
                if (r.domain.compare(p.value(domain), Qt::CaseInsensitive) == 0)
                    chosen = r.domain;
            }
            if (chosen.isEmpty() && loaded == DcSyncOverview::Outcome::Failed)
                return unreadExit(env, failures, ExitUsage);
            if (chosen.isEmpty()) {
                env.err << "ferrowind status: no domain '" << p.value(domain)
                        << "'; known domains: " << known.join(QStringLiteral(", ")) << "\n";
                return ExitUsage;
            }
            overview.viewObjects(chosen);
            SyncObjectsMonitor m(ctx, SyncSide::DC, chosen);
            m.shareConnection(*db);
            return printObjects(env, m, p.isSet(json), failures);
        }
        if (p.isSet(json)) {
            QJsonArray rows;
            for (const OverviewRow& r : overview.rows())
                rows.append(QJsonObject{{QStringLiteral("domain"), r.domain},
                                        {QStringLiteral("currentDomainController"), r.controller},
                                        {QStringLiteral("status"), r.status},
                                        {QStringLiteral("lastSynched"), r.lastSynched},
                                        {QStringLiteral("duration"), r.duration},
                                        {QStringLiteral("objectsSynched"), r.objects}});
            printDetailsJson(env,
                             QJsonObject{{QStringLiteral("title"), overview.caption()},
                                         {QStringLiteral("runActive"), overview.runActive()},
                                         {QStringLiteral("rows"), rows}},
                             failures);
        } else {
            env.out << overview.caption() << "\n";
            env.out << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                           .arg(QStringLiteral("Domain"), -26)
                           .arg(QStringLiteral("Current Domain Controller"), -30)
                           .arg(QStringLiteral("Status"), -12)
                           .arg(QStringLiteral("Last Synched"), -20)
                           .arg(QStringLiteral("Duration"), -10)
                           .arg(QStringLiteral("Objects Synched"));
            for (const OverviewRow& r : overview.rows())
                env.out << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                               .arg(r.domain, -26)
                               .arg(r.controller, -30)
                               .arg(r.status, -12)
                               .arg(r.lastSynched, -20)
                               .arg(r.duration, -10)
                               .arg(r.objects);
        }
        return unreadExit(env, failures, ExitOk);
    }

    const QDateTime now = ctx.clock().now();
    const Result<RunAge> dcAge = RunAgeCheck::check(*db, SyncSide::DC, now, limit);
    if (!dcAge)
        return databaseUnread(env, p.isSet(json), {QStringLiteral("dc.history"), dcAge.error()},
                              QStringLiteral("cannot read the synchronisation history: "));
    const Result<RunAge> gcAge = RunAgeCheck::check(*db, SyncSide::GC, now, limit);
    if (!gcAge)
        return databaseUnread(env, p.isSet(json), {QStringLiteral("gc.history"), gcAge.error()},
                              QStringLiteral("cannot read the synchronisation history: "));
    // A field that could not be read is no verdict: the run is neither fresh nor stale.
    const bool complete = snap.readCompletely();
    const bool ok = complete && dcAge->fresh && gcAge->fresh;
    if (p.isSet(json)) {
        printJson(env.out, QJsonDocument(QJsonObject{{QStringLiteral("dc"), sideJson(snap.dc, *dcAge)},
                                                     {QStringLiteral("gc"), sideJson(snap.gc, *gcAge)},
                                                     {QStringLiteral("complete"), complete},
                                                     {QStringLiteral("failures"), failuresJson(snap.failures)},
                                                     {QStringLiteral("ok"), ok}}));
    } else {
        printSide(env.out, QStringLiteral("Domain Controllers Synchronization Status:"), snap.dc, *dcAge);
        printSide(env.out, QStringLiteral("Global Catalog Synchronization Status:"), snap.gc, *gcAge);
    }
    return unreadExit(env, snap.failures, ok ? ExitOk : ExitFailed);
}
} // namespace fw
