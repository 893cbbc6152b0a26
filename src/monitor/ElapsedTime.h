#pragma once
#include "log/Result.h"

#include <QDateTime>
#include <QString>

namespace fw {

// Seconds as hours:minutes:seconds, hours at least two digits and unbounded (360000 -> "100:00:00").
// A negative count (a start later than the clock) is shown with a leading minus: -59 -> "-00:00:59".
QString FormatElapsedTime(qint32 seconds);

// Wall-clock seconds from `from` to `to` (the stored times and the clock's local time, read as the dates and
// times they show) as the 32-bit count FormatElapsedTime takes; error 6 when it does not fit.
Result<qint32> secondsBetween(const QDateTime& from, const QDateTime& to);

// A number of seconds rounded half to even into 32 bits; error 6 when it does not fit.
Result<qint32> roundToInt32(double value);

} // namespace fw
