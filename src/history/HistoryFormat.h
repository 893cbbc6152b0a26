#pragma once
#include "history/HistoryPoint.h"

#include <QString>
#include <QStringList>

namespace fw {

// Rounding and the texts the history windows, their log lines and the command line share.
namespace history_format {

// numerator / denominator rounded to a whole number, halves to the even neighbour.
qint64 roundHalfEven(__int128 numerator, __int128 denominator);
// numerator / denominator rounded to one decimal, halves to the even neighbour (0.25 gives 0.2).
double roundHalfEvenTenths(__int128 numerator, __int128 denominator);

// "mm/dd/yy hh:mm" on a 24-hour clock.
QString pointLabel(const QDateTime& start);
// "yyyy-mm-dd hh:mm:ss".
QString detailTime(const QDateTime& t);
// "############0": a whole number, at least one digit.
QString detailNumber(double value);

// The "Processed: ..." trace line of a finished point.
QString processedLine(const HistoryPoint& p);

// Column 1 of rows 6 to 10 of the details table.
QString eventCell(float count, const QDateTime& first);
QString changeCell(float count, qint32 oldValue, qint32 newValue, const QDateTime& when);

// Column 1 of rows 1 to 10 for a point (index p, 0-based). Row 1's caption is the label.
struct DetailsColumn {
    QString rowOneCaption;
    QStringList values; // rows 1 to 10
};
DetailsColumn detailsFor(const HistoryPoint& point, int index, bool bracketedNumber = false);

// The fixed captions of column 0, rows 0 to 10.
const QStringList& detailsCaptions();

} // namespace history_format
} // namespace fw
