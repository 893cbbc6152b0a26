#include "db/WallTime.h"

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

bool digits(const QChar* p, int n, int& out)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        const char16_t c = p[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
    }
    out = v;
    return true;
}

// "yyyy-MM-dd", optionally followed by " HH:mm" or "THH:mm", optionally followed by ":ss" and a fraction or
// zone, which are ignored: the way SQLite and the ODBC drivers hand the times over as text.
bool parseText(QStringView s, qint64& secs)
{
    if (s.size() < 10)
        return false;
    const QChar* p = s.data();
    int y, mo, d, h = 0, mi = 0, se = 0;
    if (!digits(p, 4, y) || p[4] != u'-' || !digits(p + 5, 2, mo) || p[7] != u'-' || !digits(p + 8, 2, d))
        return false;
    if (s.size() > 10) {
        if (s.size() < 16 || (p[10] != u' ' && p[10] != u'T') || !digits(p + 11, 2, h) || p[13] != u':' ||
            !digits(p + 14, 2, mi))
            return false;
        if (s.size() > 16 && (s.size() < 19 || p[16] != u':' || !digits(p + 17, 2, se)))
            return false;
    }
    if (!QDate::isValid(y, mo, d) || h > 23 || mi > 59 || se > 60)
        return false;
    secs = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 + mi * 60 + se;
    return true;
}

} // namespace

WallTime WallTime::fromVariant(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return {};
    if (v.typeId() == QMetaType::QDateTime)
        return fromDateTime(v.toDateTime());
    if (v.typeId() == QMetaType::QDate)
        return fromDateTime(QDateTime(v.toDate(), QTime(0, 0)));
    const QString s = v.toString();
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
    return {daysFromCivil(d.year(), static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day())) * 86400 +
                t.hour() * 3600 + t.minute() * 60 + t.second(),
            true};
}

QDateTime WallTime::toDateTime() const
{
    if (!valid)
        return {};
    const qint64 days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
    const qint64 rest = secs - days * 86400;
    return QDateTime(QDate::fromJulianDay(days + 2440588), QTime::fromMSecsSinceStartOfDay(static_cast<int>(rest * 1000)), Qt::UTC);
}

qint64 wallSecondsBetween(const QDateTime& from, const QDateTime& to)
{
    const WallTime a = WallTime::fromDateTime(from);
    const WallTime b = WallTime::fromDateTime(to);
    return a.valid && b.valid ? b.secs - a.secs : 0;
}

} // namespace fw
