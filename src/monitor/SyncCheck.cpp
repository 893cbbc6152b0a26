#include "monitor/SyncCheck.h"

#include "monitor/FleetState.h"

#include <QStringList>

namespace fw {
namespace {

// Worse verdicts win; UNKNOWN ranks below CRITICAL, as monitoring systems aggregate them.
int severity(SyncCheckResult::Status s)
{
    switch (s) {
    case SyncCheckResult::Ok: return 0;
    case SyncCheckResult::Warning: return 1;
    case SyncCheckResult::Unknown: return 2;
    case SyncCheckResult::Critical: return 3;
    }
    return 2;
}

QString ageText(qint64 seconds)
{
    if (seconds < 120)
        return QStringLiteral("%1 s").arg(seconds);
    return QStringLiteral("%1 min").arg(seconds / 60);
}

// A limit left out follows each side's interval: with the other one given the two may cross, which is the same
// usage error as giving them crossed. Empty when they do not.
QStringList crossedLimits(const FleetState& state, std::optional<qint64> warningMinutes, std::optional<qint64> criticalMinutes)
{
    QStringList crossed;
    if (warningMinutes.has_value() == criticalMinutes.has_value())
        return crossed; // both given are checked before the database is read; neither: the defaults never cross
    for (SyncSide side : {SyncSide::DC, SyncSide::GC}) {
        const FleetSide& f = state.side(side);
        if (!f.hasFinishedRun || f.syncIntervalMinutes <= 0)
            continue;
        const QString name = syncSideName(side);
        if (criticalMinutes) {
            const qint64 warn = qint64(SyncCheck::kWarningIntervals) * f.syncIntervalMinutes;
            if (warn > *criticalMinutes)
                crossed.append(QStringLiteral("the default --warning of %1 (%2, three sync intervals) is above --critical (%3)")
                                   .arg(name)
                                   .arg(warn)
                                   .arg(*criticalMinutes));
        } else {
            const qint64 crit = qint64(SyncCheck::kCriticalIntervals) * f.syncIntervalMinutes;
            if (*warningMinutes > crit)
                crossed.append(QStringLiteral("--warning (%1) is above the default --critical of %2 (%3, six sync intervals)")
                                   .arg(*warningMinutes)
                                   .arg(name)
                                   .arg(crit));
        }
    }
    return crossed;
}

} // namespace

QString SyncCheck::statusWord(SyncCheckResult::Status s)
{
    switch (s) {
    case SyncCheckResult::Ok: return QStringLiteral("OK");
    case SyncCheckResult::Warning: return QStringLiteral("WARNING");
    case SyncCheckResult::Critical: return QStringLiteral("CRITICAL");
    case SyncCheckResult::Unknown: break;
    }
    return QStringLiteral("UNKNOWN");
}

SyncCheckResult SyncCheck::evaluate(const FleetState& state, std::optional<qint64> warningMinutes,
                                    std::optional<qint64> criticalMinutes)
{
    SyncCheckResult r;
    if (!state.complete) {
        r.status = SyncCheckResult::Unknown;
        r.line = QStringLiteral("FERROWIND UNKNOWN - the database could not be read completely (%1)")
                     .arg(state.failures.join(QStringLiteral(", ")) +
                          (state.reason.isEmpty() ? QString() : QStringLiteral(": ") + state.reason.simplified()));
        return r;
    }
    if (const QStringList crossed = crossedLimits(state, warningMinutes, criticalMinutes); !crossed.isEmpty()) {
        r.status = SyncCheckResult::Unknown;
        r.line = QStringLiteral("FERROWIND UNKNOWN - ") + crossed.join(QStringLiteral(", "));
        return r;
    }
    r.status = SyncCheckResult::Ok;
    QStringList summary;
    QStringList perf;
    for (SyncSide side : {SyncSide::DC, SyncSide::GC}) {
        const FleetSide& f = state.side(side);
        const QString name = syncSideName(side);
        SyncCheckResult::Status st = SyncCheckResult::Ok;
        if (!f.hasFinishedRun) {
            st = SyncCheckResult::Unknown;
            summary.append(name + QStringLiteral(" has no finished run"));
        } else if (!f.ageSeconds) {
            st = SyncCheckResult::Unknown;
            summary.append(name + QStringLiteral(" run %1 recorded no end").arg(f.finishedSyncId));
        } else {
            const qint64 warn = warningMinutes.value_or(qint64(kWarningIntervals) * f.syncIntervalMinutes) * 60;
            const qint64 crit = criticalMinutes.value_or(qint64(kCriticalIntervals) * f.syncIntervalMinutes) * 60;
            const qint64 age = *f.ageSeconds;
            if ((!warningMinutes || !criticalMinutes) && f.syncIntervalMinutes <= 0) {
                st = SyncCheckResult::Unknown;
                summary.append(name + QStringLiteral(" run %1 has no sync interval to judge its age by").arg(f.finishedSyncId));
            } else if (age < 0) {
                // A run ending in the future: a clock or zone out of step, which hides any real age.
                st = SyncCheckResult::Unknown;
                summary.append(name + QStringLiteral(" run %1 ended %2 in the future (clock or time zone out of step)")
                                          .arg(f.finishedSyncId)
                                          .arg(ageText(-age)));
            } else {
                // As the perfdata reads: warn=1800 alerts above 1800 s, so 1800 itself is OK.
                if (age > crit)
                    st = SyncCheckResult::Critical;
                else if (age > warn)
                    st = SyncCheckResult::Warning;
                summary.append(name + QStringLiteral(" last finished %1 ago").arg(ageText(age)));
            }
            perf.append(QStringLiteral("%1_age=%2s;%3;%4;0").arg(name.toLower()).arg(age).arg(warn).arg(crit));
        }
        if (severity(st) > severity(r.status))
            r.status = st;
    }
    r.line = QStringLiteral("FERROWIND ") + statusWord(r.status) + QStringLiteral(" - ") + summary.join(QStringLiteral(", "));
    if (!perf.isEmpty())
        r.line += QStringLiteral(" | ") + perf.join(QLatin1Char(' '));
    return r;
}

} // namespace fw
