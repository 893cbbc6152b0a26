#pragma once
#include <QTime>

namespace fw {

// Times of day are stored as one integer, hours * 100 + minutes.
struct TimeFromInteger {
    enum class Problem { None, OutOfRange, NotATime };
    QTime time{0, 0}; // midnight unless the value was a valid time
    Problem problem = Problem::None;
};

// 730 -> 07:30, 5 -> 00:05. Values outside 0..2400 are out of range; values inside it whose minutes
// exceed 59 (and 2400 itself) are not a time. Either problem gives midnight.
TimeFromInteger getTimeFromInteger(int value);

// hours * 100 + minutes of a time of day.
int integerFromTime(const QTime& t);

} // namespace fw
