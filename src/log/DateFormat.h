#pragma once
#include <QDateTime>
#include <QString>

namespace fw {

// The system's general date format: short date, a blank, long time (without a time zone).
QString generalDate(const QDateTime& dt);

// "yyyy-mm-dd hh:mm:ss" (2004-03-07 14:05:09).
QString isoSeconds(const QDateTime& dt);

} // namespace fw
