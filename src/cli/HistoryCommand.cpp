#include "app/StartupGate.h"
#include "cli/CliSupport.h"
#include "context/AppContext.h"
#include "db/Database.h"
#include "db/DatabaseSession.h"
#include "history/HistoryBuilder.h"
#include "history/HistoryFormat.h"
#include "log/NumberFormat.h"

#include <QJsonArray>
#include <QJsonObject>

namespace fw {
namespace {

namespace hf = history_format;

QString timeText(const QDateTime& t)
{
    return hf::detailTime(t);
}

QJsonValue timeJson(const QDateTime& t)
{
    return t.isValid() ? QJsonValue(hf::detailTime(t)) : QJsonValue(QJsonValue::Null);
}

// Every field of a point, in the order of the point table, for CSV and JSON.
const QStringList& fieldNames()
{
    // clang-format off
    static const QStringList names = {
        QStringLiteral("Index"), QStringLiteral("Label"), QStringLiteral("ObjectsProcessed"), QStringLiteral("ElapsedSeconds"),
        QStringLiteral("LatencyMinutes"), QStringLiteral("ErrorCount"), QStringLiteral("TotalResyncCount"),
        QStringLiteral("ServerChangeCount"), QStringLiteral("NewIncrementCount"), QStringLiteral("NewIntervalCount"),
        QStringLiteral("OldIncrement"), QStringLiteral("NewIncrement"), QStringLiteral("IncrementChangeTime"),
        QStringLiteral("OldInterval"), QStringLiteral("NewInterval"), QStringLiteral("IntervalChangeTime"),
        QStringLiteral("FirstErrorTime"), QStringLiteral("FirstTotalResyncTime"), QStringLiteral("FirstServerChangeTime"),
        QStringLiteral("Runs"), QStringLiteral("LastSyncId")};
    // clang-format on
    return names;
}

QStringList fieldTexts(const HistoryPoint& p, int index)
{
    // clang-format off
    return {QString::number(index + 1),
            p.Label,
            plainNumber(p.ObjectsProcessed),
            plainNumber(p.ElapsedSeconds),
            plainNumber(p.LatencyMinutes),
            plainNumber(p.ErrorCount),
            plainNumber(p.TotalResyncCount),
            plainNumber(p.ServerChangeCount),
            plainNumber(p.NewIncrementCount),
            plainNumber(p.NewIntervalCount),
            QString::number(p.OldIncrement),
            QString::number(p.NewIncrement),
            timeText(p.IncrementChangeTime),
            QString::number(p.OldInterval),
            QString::number(p.NewInterval),
            timeText(p.IntervalChangeTime),
            timeText(p.FirstErrorTime),
            timeText(p.FirstTotalResyncTime),
            timeText(p.FirstServerChangeTime),
            QString::number(p.Runs),
            QString::number(p.LastSyncId)};
    // clang-format on
}

QString csvField(const QString& s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')))
        return s;
    QString q = s;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QJsonObject pointJson(const HistoryPoint& p, int index)
{
    QJsonObject o;
    o[QStringLiteral("Index")] = index + 1;
    o[QStringLiteral("Label")] = p.Label;
    o[QStringLiteral("ObjectsProcessed")] = p.ObjectsProcessed;
    o[QStringLiteral("ElapsedSeconds")] = p.ElapsedSeconds;
    // The single-precision value as the log writes it (0.2, not 0.20000000298).
    o[QStringLiteral("LatencyMinutes")] = plainNumber(p.LatencyMinutes).toDouble();
    o[QStringLiteral("ErrorCount")] = p.ErrorCount;
    o[QStringLiteral("TotalResyncCount")] = p.TotalResyncCount;
    o[QStringLiteral("ServerChangeCount")] = p.ServerChangeCount;
    o[QStringLiteral("NewIncrementCount")] = p.NewIncrementCount;
    o[QStringLiteral("NewIntervalCount")] = p.NewIntervalCount;
    o[QStringLiteral("OldIncrement")] = p.OldIncrement;
    o[QStringLiteral("NewIncrement")] = p.NewIncrement;
    o[QStringLiteral("IncrementChangeTime")] = timeJson(p.IncrementChangeTime);
    o[QStringLiteral("OldInterval")] = p.OldInterval;
    o[QStringLiteral("NewInterval")] = p.NewInterval;
    o[QStringLiteral("IntervalChangeTime")] = timeJson(p.IntervalChangeTime);
    o[QStringLiteral("FirstErrorTime")] = timeJson(p.FirstErrorTime);
    o[QStringLiteral("FirstTotalResyncTime")] = timeJson(p.FirstTotalResyncTime);
    o[QStringLiteral("FirstServerChangeTime")] = timeJson(p.FirstServerChangeTime);
    o[QStringLiteral("Runs")] = p.Runs;
    o[QStringLiteral("LastSyncId")] = static_cast<double>(p.LastSyncId);
    return o;
}

QString outcomeText(HistoryPlan::Outcome o)
{
    switch (o) {
    case HistoryPlan::Outcome::Accepted: return QStringLiteral("accepted");
    case HistoryPlan::Outcome::FittedAtStart: return QStringLiteral("fitted-without-raising-factor");
    case HistoryPlan::Outcome::Impossible: break;
    }
    return QStringLiteral("no-points");
}

} // namespace

int runHistory(CliEnv& env)
{
    QCommandLineParser p;
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("Print the points as CSV, one header line and one line per point."));
    const QCommandLineOption json(
        QStringLiteral("json"),
        QStringLiteral("Print JSON: the points, the group size, the final safety factor and the log lines."));
    const QCommandLineOption factorOpt(
        QStringLiteral("factor"), QStringLiteral("Safety factor to start from (1 to 32767; default 2, as at program start)."),
        QStringLiteral("N"));
    p.addOption(csv);
    p.addOption(json);
    p.addOption(factorOpt);
    p.addPositionalArgument(QStringLiteral("dc|gc"), QStringLiteral("Domain controller or global catalog history."));
    if (int rc = parseCommandLine(
            p, env, QStringLiteral("history"),
            QStringLiteral("Build the synchronisation history chart points of all finished DC or GC runs, "
                           "exactly as the history windows do, and print them.\n"
                           "Exit status 1 when there is no finished run or no points can be formed, 2 when the installation is "
                           "refused as the settings tool refuses it (version, connector, failover role), the database "
                           "cannot be read or a stored value cannot be (its error is reported as the window reports it)."),
            1, 1);
        rc >= 0)
        return rc;
    const QString which = p.positionalArguments().first().toLower();
    if (which != QLatin1String("dc") && which != QLatin1String("gc")) {
        env.err << "ferrowind history: say dc or gc, not '" << p.positionalArguments().first() << "'\n";
        return ExitUsage;
    }
    if (p.isSet(csv) && p.isSet(json)) {
        env.err << "ferrowind history: --csv and --json cannot be combined\n";
        return ExitUsage;
    }
    const SyncSide side = which == QLatin1String("dc") ? SyncSide::DC : SyncSide::GC;
    qint16 startFactor = 0;
    if (p.isSet(factorOpt)) {
        bool ok = false;
        const int f = p.value(factorOpt).toInt(&ok);
        if (!ok || f < 1 || f > 32767) {
            env.err << "ferrowind history: --factor needs a whole number from 1 to 32767\n";
            return ExitUsage;
        }
        startFactor = static_cast<qint16>(f);
    }

    AppContext& ctx = env.context();
    // The history windows open from a main window that passed the gate: so does the command.
    StartupGate gate(ctx);
    if (gateRefuses(env, QStringLiteral("history"), gate))
        return ExitUsage;
    (void)gate.readTraceSetting(); // a value that does not fit leaves trace off, as in the window
    ctx.connectionString = gate.connectionString();
    gate.initSafetyFactors();
    if (startFactor > 0)
        (side == SyncSide::DC ? ctx.dcSafetyFactor : ctx.gcSafetyFactor) = startFactor;

    // As the "View History" buttons: only a history with a finished run is charted.
    // The command's one connection: the counts, then the walk of its three results in turn (see StreamedResult).
    const Result<Database*> db = ctx.databaseSession().open(ctx.connectionString, Database::Access::ReadOnly);
    if (!db) {
        env.err << "ferrowind history: " << db.error().description << "\n";
        return ExitUsage;
    }
    SqlHistorySource source(**db, side);
    HistorySource::Counts counts;
    const auto countFailures = source.counts(counts);
    if (!countFailures.isEmpty()) {
        env.err << "ferrowind history: " << countFailures.first().error.description << "\n";
        return ExitUsage;
    }
    if (counts.totalRows <= 0) {
        env.err << "No Data in the database!\n";
        return ExitFailed;
    }

    HistoryBuilder builder(ctx, side);
    const HistoryResult r = builder.BuildHistoryPoints(source);

    if (p.isSet(json)) {
        QJsonObject o;
        o[QStringLiteral("side")] = which;
        o[QStringLiteral("outcome")] = outcomeText(r.outcome);
        o[QStringLiteral("totalRows")] = r.totalRows;
        o[QStringLiteral("groupSize")] = static_cast<double>(r.groupSize);
        o[QStringLiteral("maxPointsAllowed")] = static_cast<double>(r.budget);
        o[QStringLiteral("startFactor")] = r.startFactor;
        o[QStringLiteral("finalFactor")] = r.finalFactor;
        QJsonArray sizes;
        for (qint64 g : r.passGroupSizes)
            sizes.append(static_cast<double>(g));
        o[QStringLiteral("passGroupSizes")] = sizes;
        QJsonArray points;
        for (int i = 0; i < r.points.size(); ++i)
            points.append(pointJson(r.points[i], i));
        o[QStringLiteral("points")] = points;
        o[QStringLiteral("log")] = QJsonArray::fromStringList(r.logLines);
        if (!r.failure.isEmpty())
            o[QStringLiteral("failure")] = r.failure;
        printJson(env.out, QJsonDocument(o));
    } else if (p.isSet(csv)) {
        env.out << fieldNames().join(QLatin1Char(',')) << "\n";
        for (int i = 0; i < r.points.size(); ++i) {
            QStringList f = fieldTexts(r.points[i], i);
            for (QString& s : f)
                s = csvField(s);
            env.out << f.join(QLatin1Char(',')) << "\n";
        }
    } else {
        env.out << (side == SyncSide::DC ? "DC History" : "GC History") << ": " << plainNumber(r.totalRows) << " finished runs, "
                << r.points.size() << " points, group size:" << r.groupSize << ", safety factor " << r.startFactor
                << (r.finalFactor != r.startFactor ? QStringLiteral(" raised to %1").arg(r.finalFactor) : QString()) << "\n";
        const QStringList& captions = hf::detailsCaptions();
        for (int i = 0; i < r.points.size(); ++i) {
            const auto col = hf::detailsFor(r.points[i], i);
            env.out << QStringLiteral("%1  %2  runs %3, last SyncId %4\n")
                           .arg(col.values[0].rightJustified(5), col.rowOneCaption)
                           .arg(r.points[i].Runs)
                           .arg(r.points[i].LastSyncId);
            env.out << QStringLiteral("       %1 %2 | %3 %4 | %5 %6 (plotted %7) | %8 %9\n")
                           .arg(captions[2], col.values[1], captions[3], col.values[2], captions[4], col.values[3],
                                plainNumber(r.points[i].LatencyMinutes), captions[5], col.values[4]);
            if (r.points[i].events() > 0)
                for (int row = 6; row <= 10; ++row)
                    if (!col.values[row - 1].startsWith(QLatin1Char('0')))
                        env.out << "       " << captions[row] << ": " << col.values[row - 1] << "\n";
        }
    }
    if (!r.failure.isEmpty()) {
        if (!p.isSet(json))
            env.err << r.failure << "\n";
        return ExitFailed;
    }
    // The points of a history with values that could not be read are shown, but they are not the history.
    for (const HistoryReport& e : r.reports)
        if (e.kind == HistoryReport::Kind::Error)
            return ExitUsage;
    return ExitOk;
}
} // namespace fw
