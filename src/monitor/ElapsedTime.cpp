#include "monitor/ElapsedTime.h"

#include "db/WallTime.h"

#include <cmath>
#include <limits>

namespace fw {

QString FormatElapsedTime(qint32 seconds)
{
    const qint64 s = seconds;
    const qint64 a = s < 0 ? -s : s; // 64 bits so that the smallest 32-bit value still negates
    const qint64 h = a / 3600;
    const qint64 m = a / 60 - 60 * h;
    const qint64 r = a % 60;
    const QChar zero(QLatin1Char('0'));
    return (s < 0 ? QStringLiteral("-") : QString()) +
           QStringLiteral("%1:%2:%3").arg(h, 2, 10, zero).arg(m, 2, 10, zero).arg(r, 2, 10, zero);
}

Result<qint32> secondsBetween(const QDateTime& from, const QDateTime& to)
{
    const qint64 d = wallSecondsBetween(from, to);
    if (d < std::numeric_limits<qint32>::min() || d > std::numeric_limits<qint32>::max())
        return FwError::overflow();
    return static_cast<qint32>(d);
}

Result<qint32> roundToInt32(double value)
{
    if (!std::isfinite(value))
        return FwError::overflow();
    const double r = std::nearbyint(value); // the default rounding mode rounds halves to even
    if (r < std::numeric_limits<qint32>::min() || r > std::numeric_limits<qint32>::max())
        return FwError::overflow();
    return static_cast<qint32>(r);
}

} // namespace fw
