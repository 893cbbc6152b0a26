#include "log/NumberFormat.h"

#include <QLocale>
#include <charconv>
#include <cmath>
#include <limits>

namespace fw {

namespace {

// The shortest digits that read back as the same value, written out in full. The scientific form gives those
// digits at any magnitude in a few characters; the fixed form would spell out a double's exact binary value
// (1e127 as 99999999999999995...) and needs up to 330 characters.
template <typename T>
QString shortestFixed(T value)
{
    if (!std::isfinite(value))
        return QString::number(static_cast<double>(value));
    if (value == 0)
        return QStringLiteral("0"); // -0 too
    // Should the digits ever not come, the value still reads exactly, though with an exponent.
    const auto asExponent = [value] {
        return QString::number(static_cast<double>(value), 'g', std::numeric_limits<T>::max_digits10);
    };
    char buf[32]; // "-d.dddddddddddddddde-308" at most
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    if (ec != std::errc())
        return asExponent();
    const char* p = buf;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    QByteArray digits;
    for (; p < end && *p != 'e'; ++p)
        if (*p != '.')
            digits.append(*p);
    int exponent = 0;
    if (p < end) {
        const char* e = p + 1;
        if (e < end && *e == '+')
            ++e;
        if (std::from_chars(e, end, exponent).ec != std::errc())
            return asExponent();
    }
    while (digits.size() > 1 && digits.endsWith('0'))
        digits.chop(1);

    // The first digit stands for 10^exponent: the point goes after exponent + 1 digits.
    const qsizetype whole = exponent + 1;
    QByteArray text;
    if (whole <= 0)
        text = "0." + QByteArray(-whole, '0') + digits;
    else if (whole >= digits.size())
        text = digits + QByteArray(whole - digits.size(), '0');
    else
        text = digits.left(whole) + '.' + digits.mid(whole);
    QString s = QString::fromLatin1(negative ? '-' + text : text);
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
