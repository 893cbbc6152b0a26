#include "settings/TimeOfDay.h"

namespace fw {

TimeFromInteger getTimeFromInteger(int value)
{
    TimeFromInteger r;
    if (value < 0 || value > 2400) {
        r.problem = TimeFromInteger::Problem::OutOfRange;
        return r;
    }
    const int hours = value / 100;
    const int minutes = value - hours * 100;
    const QTime t(hours, minutes);
    if (!t.isValid()) {
        r.problem = TimeFromInteger::Problem::NotATime;
        return r;
    }
    r.time = t;
    return r;
}

int integerFromTime(const QTime& t)
{
    if (!t.isValid())
        return 0;
    return t.hour() * 100 + t.minute();
}

} // namespace fw
