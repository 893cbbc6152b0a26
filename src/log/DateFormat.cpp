#include "log/DateFormat.h"

#include <QLocale>

namespace fw {

QString generalDate(const QDateTime& dt)
{
    const QLocale loc;
    QString timeFmt = loc.timeFormat(QLocale::LongFormat);
    // Qt's long time carries the zone ("t"); the general date format has none.
    timeFmt.remove(QLatin1Char('t'));
    timeFmt = timeFmt.trimmed();
    return loc.toString(dt.date(), QLocale::ShortFormat) + QLatin1Char(' ') + loc.toString(dt.time(), timeFmt);
}

QString isoSeconds(const QDateTime& dt)
{
    return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace fw
