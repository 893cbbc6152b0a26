#pragma once
#include <QDateTime>
#include <QTimeZone>
#include <QVariant>

namespace fw {

// A date-time column as the history tables keep it (SyncStart, syncEnd, LastSync...): the wall time of the
// server's clock, without a zone. It is read as written and never placed in a zone: a value in the local
// spring-forward gap is a time like any other, a value in the repeated fall-back hour has only one reading,
// and a difference counts the wall-clock seconds between the two readings. Sub-second parts are dropped, so a
// difference counts second boundaries crossed.
struct WallTime {
    qint64 secs = 0; // seconds since 1970-01-01 00:00:00 on the wall clock
    bool valid = false;

    // Invalid for a null or unreadable value.
    static WallTime fromVariant(const QVariant& v);
    // From the text of such a column ("yyyy-MM-dd HH:mm:ss" and the ISO forms); invalid when unreadable.
    static WallTime fromText(const QString& s);
    // The date and time the value shows, whatever zone it carries (so the clock's local time reads as wall time).
    static WallTime fromDateTime(const QDateTime& dt);

    // The same wall time, held without a zone so that no daylight-saving rule can move or reject it.
    QDateTime toDateTime() const;
};

// Wall-clock seconds from `from` to `to`, read as the dates and times they show; 0 when either is unset.
qint64 wallSecondsBetween(const QDateTime& from, const QDateTime& to);

// The Unix time at which the zone's clocks showed `wall` (its date and time, whatever zone it carries). Where
// they showed it twice (the hour repeated in autumn) the first time; for a time they skipped (spring) the
// reading with the offset from after the change. Either way the earliest reading, so that an age measured
// from it is never too small.
qint64 earliestEpochOfWallTime(const QDateTime& wall, const QTimeZone& zone);

// Seconds from the stored wall time `from`, read in the zone of `now` by the zone's rules, to `now`.
qint64 secondsSinceWallTime(const QDateTime& from, const QDateTime& now);

} // namespace fw
