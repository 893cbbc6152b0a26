#include "history/HistoryFormat.h"

#include "log/NumberFormat.h"

#include <cmath>

namespace fw::history_format {

namespace {

__int128 abs128(__int128 v)
{
    return v < 0 ? -v : v;
}

// Rounds n/d to a whole number, halves to even; d must not be 0.
__int128 divRoundHalfEven(__int128 n, __int128 d)
{
    if (d < 0) {
        n = -n;
        d = -d;
    }
    const bool negative = n < 0;
    const __int128 a = abs128(n);
    __int128 q = a / d;
    const __int128 r = a % d;
    if (2 * r > d || (2 * r == d && (q % 2) != 0))
        ++q;
    return negative ? -q : q;
}

} // namespace

qint64 roundHalfEven(__int128 numerator, __int128 denominator)
{
    if (denominator == 0)
        return 0;
    return static_cast<qint64>(divRoundHalfEven(numerator, denominator));
}

double roundHalfEvenTenths(__int128 numerator, __int128 denominator)
{
    if (denominator == 0)
        return 0;
    return static_cast<double>(static_cast<qint64>(divRoundHalfEven(numerator * 10, denominator))) / 10.0;
}

QString pointLabel(const QDateTime& start)
{
    return start.isValid() ? start.toString(QStringLiteral("MM/dd/yy HH:mm")) : QString();
}

QString detailTime(const QDateTime& t)
{
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString detailNumber(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("0");
    // The number format rounds halves away from zero.
    return QString::number(static_cast<qint64>(std::llround(value)));
}

QString processedLine(const HistoryPoint& p)
{
    return QStringLiteral("Processed: ") + p.Label + QStringLiteral(" SyncId: ") + QString::number(p.LastSyncId) +
           QStringLiteral(" TotalProcessed: ") + plainNumber(p.ObjectsProcessed) + QStringLiteral(" Elapsed (secs): ") +
           plainNumber(p.ElapsedSeconds) + QStringLiteral(" Latency (mins): ") + plainNumber(p.LatencyMinutes) +
           QStringLiteral(" Event count: ") + plainNumber(p.ErrorCount) + QLatin1Char(',') + plainNumber(p.TotalResyncCount) +
           QLatin1Char(',') + plainNumber(p.ServerChangeCount) + QLatin1Char(',') + plainNumber(p.NewIncrementCount) +
           QLatin1Char(',') + plainNumber(p.NewIntervalCount);
}

QString eventCell(float count, const QDateTime& first)
{
    if (count <= 0)
        return detailNumber(count);
    return detailNumber(count) + QLatin1Char(',') + detailTime(first);
}

QString changeCell(float count, qint32 oldValue, qint32 newValue, const QDateTime& when)
{
    if (count <= 0)
        return detailNumber(count);
    return detailNumber(count) + QLatin1Char(',') + detailNumber(oldValue) + QLatin1Char(',') + detailNumber(newValue) +
           QLatin1Char(',') + detailTime(when);
}

DetailsColumn detailsFor(const HistoryPoint& p, int index, bool bracketedNumber)
{
    DetailsColumn c;
    c.rowOneCaption = p.Label;
    const QString number = QString::number(index + 1);
    c.values << (bracketedNumber ? QLatin1Char('(') + number + QLatin1Char(')') : number);
    c.values << detailNumber(p.ObjectsProcessed) << detailNumber(p.ElapsedSeconds) << detailNumber(p.LatencyMinutes)
             << detailNumber(p.events());
    c.values << eventCell(p.ErrorCount, p.FirstErrorTime) << eventCell(p.TotalResyncCount, p.FirstTotalResyncTime)
             << eventCell(p.ServerChangeCount, p.FirstServerChangeTime);
    c.values << changeCell(p.NewIncrementCount, p.OldIncrement, p.NewIncrement, p.IncrementChangeTime)
             << changeCell(p.NewIntervalCount, p.OldInterval, p.NewInterval, p.IntervalChangeTime);
    return c;
}

const QStringList& detailsCaptions()
{
    static const QStringList captions = {
        QStringLiteral("Details:"),     QString(),
        QStringLiteral("Objects Sync"), QStringLiteral("Elaped Time"),
        QStringLiteral("Latency"),      QStringLiteral("Event Count:"),
        QStringLiteral("Error"),        QStringLiteral("Total Resync"),
        QStringLiteral("Quick Resync"), QStringLiteral("New Increment"),
        QStringLiteral("New Interval"),
    };
    return captions;
}

} // namespace fw::history_format
