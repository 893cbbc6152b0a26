#include "log/NumberFormat.h"

#include <QLocale>
#include <charconv>
#include <cmath>

namespace fw {

namespace {

template <typename T>
QString shortestFixed(T value)
{
    if (!std::isfinite(value))
        return QString::number(static_cast<double>(value));
    char buf[128];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    QString s = QString::fromLatin1(buf, static_cast<int>(res.ptr - buf));
    if (s == QLatin1String("-0"))
        s = QStringLiteral("0");
    const QString point = QLocale().decimalPoint();
    if (point != QLatin1String("."))
        s.replace(QLatin1Char('.'), point);
    return s;
}

} // namespace

QString plainNumber(double value)
{
    return shortestFixed(value);
}

QString plainNumber(float value)
{
    return shortestFixed(value);
}

} // namespace fw
