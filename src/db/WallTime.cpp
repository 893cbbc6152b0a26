#include "db/WallTime.h"

#include <algorithm>
#include <optional>

namespace fw {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<qint64>(doe) - 719468;
}

// The value of two decimal digits, or -1.
int twoDigits(const QChar* p)
{
    const unsigned a = static_cast<unsigned>(p[0].unicode()) - u'0';
    const unsigned b = static_cast<unsigned>(p[1].unicode()) - u'0';
    return a > 9 || b > 9 ? -1 : static_cast<int>(a * 10 + b);
}

// As QDate::isValid for the years four digits can give: there is no year 0.
bool validDate(int y, int m, int d)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || m < 1 || m > 12 || d < 1)
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

// "yyyy-MM-dd", optionally followed by " HH:mm" or "THH:mm", optionally followed by ":ss" and a fraction or
// zone, which are ignored: the way SQLite and the ODBC drivers hand the times over as text. Written out by
// hand: the history reads two of these a run.
bool parseText(QStringView s, qint64& secs)
{
    if (s.size() < 10)
        return false;
    const QChar* p = s.data();
    const int y1 = twoDigits(p), y2 = twoDigits(p + 2), mo = twoDigits(p + 5), d = twoDigits(p + 8);
    if (y1 < 0 || y2 < 0 || mo < 0 || d < 0 || p[4] != u'-' || p[7] != u'-')
        return false;
    const int y = y1 * 100 + y2;
    int h = 0, mi = 0, se = 0;
    if (s.size() > 10) {
        if (s.size() < 16 || (p[10] != u' ' && p[10] != u'T') || p[13] != u':')
            return false;
        h = twoDigits(p + 11);
        mi = twoDigits(p + 14);
        if (h < 0 || mi < 0)
            return false;
        if (s.size() > 16) {
            if (s.size() < 19 || p[16] != u':')
                return false;
            se = twoDigits(p + 17);
            if (se < 0)
                return false;
        }
    }
    if (!validDate(y, mo, d) || h > 23 || mi > 59 || se > 60)
        return false;
    secs = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 + mi * 60 + se;
    return true;
}

} // namespace

WallTime WallTime::fromVariant(const QVariant& v)
{
    // Text first and read in place: the history reads two times a run, SQLite hands them over as text, and
    // a converted copy of each shows in its time.
    const int type = v.typeId();
    if (type == QMetaType::QString)
        return v.isNull() ? WallTime{} : fromText(*static_cast<const QString*>(v.constData()));
    if (v.isNull() || type == QMetaType::UnknownType)
        return {};
    if (type == QMetaType::QDateTime)
        return fromDateTime(v.toDateTime());
    if (type == QMetaType::QDate)
        return fromDateTime(QDateTime(v.toDate(), QTime(0, 0)));
    return fromText(v.toString());
}

WallTime WallTime::fromText(const QString& s)
{
    qint64 secs = 0;
    if (parseText(s, secs) || parseText(QStringView(s).trimmed(), secs))
        return {secs, true};
    return fromDateTime(QDateTime::fromString(s.trimmed(), Qt::ISODate));
}

WallTime WallTime::fromDateTime(const QDateTime& dt)
{
    // A local time in the spring-forward gap is an invalid QDateTime that still holds its date and time.
    const QDate d = dt.date();
    const QTime t = dt.time();
    if (!d.isValid() || !t.isValid())
        return {};
    return {daysFromCivil(d.year(), static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day())) * 86400 + t.hour() * 3600 +
                t.minute() * 60 + t.second(),
            true};
}

QDateTime WallTime::toDateTime() const
{
    if (!valid)
        return {};
    const qint64 days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
    const qint64 rest = secs - days * 86400;
    return QDateTime(QDate::fromJulianDay(days + 2440588), QTime::fromMSecsSinceStartOfDay(static_cast<int>(rest * 1000)),
                     Qt::UTC);
}

qint64 wallSecondsBetween(const QDateTime& from, const QDateTime& to)
{
    const WallTime a = WallTime::fromDateTime(from);
    const WallTime b = WallTime::fromDateTime(to);
    return a.valid && b.valid ? b.secs - a.secs : 0;
}

qint64 earliestEpochOfWallTime(const QDateTime& wall, const QTimeZone& zone)
{
    const qint64 w = WallTime::fromDateTime(wall).secs;
    const auto offsetAt = [&zone](qint64 epoch) { return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(epoch, Qt::UTC)); };
    // The offsets in force around that wall time: a change of offset lies between the day before and the day after.
    const int offsets[] = {offsetAt(w - 86400), offsetAt(w), offsetAt(w + 86400)};
    std::optional<qint64> shown;  // instants at which the clocks showed it
    std::optional<qint64> anyway; // readings with any of the offsets, for a skipped time
    for (int o : offsets) {
        const qint64 e = w - o;
        anyway = std::min(anyway.value_or(e), e);
        if (offsetAt(e) == o)
            shown = std::min(shown.value_or(e), e);
    }
    return shown ? *shown : *anyway;
}

qint64 secondsSinceWallTime(const QDateTime& from, const QDateTime& now)
{
    return now.toSecsSinceEpoch() - earliestEpochOfWallTime(from, now.timeZone());
}

} // namespace fw
