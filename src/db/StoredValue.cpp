#include "db/StoredValue.h"

#include <QSqlQuery>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace fw {

FirstRow FirstRow::from(QSqlQuery& q)
{
    FirstRow r;
    if (q.isActive() && q.next()) {
        r.m_exists = true;
        r.m_record = q.record();
    }
    return r;
}

FirstRow FirstRow::from(Result<QSqlQuery>& q)
{
    return q ? from(*q) : FirstRow();
}

Result<QVariant> FirstRow::value(const QString& column) const
{
    if (!m_exists)
        return FwError::noCurrentRecord();
    const int i = m_record.indexOf(column);
    if (i < 0)
        return FwError{3265, QStringLiteral("Item cannot be found in the collection corresponding to the requested "
                                            "name or ordinal.")};
    return m_record.value(i);
}

namespace stored {

FwError failure(const FwError& kind, const StoredColumn& c)
{
    return {kind.number, kind.description + QStringLiteral(" in ") + QLatin1String(c.name)};
}

namespace {

bool isNull(const QVariant& v)
{
    return !v.isValid() || v.isNull();
}

// What a value holds, before the column's range is applied.
struct Parsed {
    enum Kind { Whole, Fraction, NotANumber, Infinite, Huge, Other } kind = Other;
    qint64 whole = 0;
    double real = 0;
};

Parsed fromDouble(double d)
{
    if (std::isnan(d))
        return {Parsed::NotANumber};
    if (std::isinf(d))
        return {Parsed::Infinite};
    // 2^63 is exactly representable; every whole double below it fits.
    const bool fits = d >= -9223372036854775808.0 && d < 9223372036854775808.0;
    if (d != std::trunc(d))
        return {Parsed::Fraction, 0, d};
    if (!fits)
        return {Parsed::Huge, 0, d};
    return {Parsed::Whole, static_cast<qint64>(d), d};
}

// A number written as text: a whole number exactly, else a decimal one; anything more or less is no number.
Parsed fromText(QStringView s)
{
    s = s.trimmed();
    const QByteArray latin = s.toLatin1();
    const char* first = latin.constData();
    const char* last = first + latin.size();
    if (first != last && *first == '+')
        ++first;
    if (first == last)
        return {Parsed::Other};
    qint64 whole = 0;
    auto [p, ec] = std::from_chars(first, last, whole);
    if (ec == std::errc() && p == last)
        return {Parsed::Whole, whole, static_cast<double>(whole)};
    double d = 0;
    auto [q, ec2] = std::from_chars(first, last, d);
    if (q != last)
        return {Parsed::Other};
    if (ec2 == std::errc::result_out_of_range) // too large, or too small to be told from zero
        return {std::isinf(std::strtod(latin.constData(), nullptr)) ? Parsed::Infinite : Parsed::Fraction};
    if (ec2 != std::errc())
        return {Parsed::Other};
    return fromDouble(d);
}

Parsed parse(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::LongLong: return {Parsed::Whole, *static_cast<const qlonglong*>(v.constData())};
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Long:
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar: return {Parsed::Whole, v.toLongLong()};
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong u = v.toULongLong();
        return u > static_cast<qulonglong>(column::kInt64Max) ? Parsed{Parsed::Huge, 0, static_cast<double>(u)}
                                                              : Parsed{Parsed::Whole, static_cast<qint64>(u)};
    }
    case QMetaType::Bool: return {Parsed::Whole, v.toBool() ? 1 : 0};
    case QMetaType::Double: return fromDouble(v.toDouble());
    case QMetaType::Float: return fromDouble(static_cast<double>(v.toFloat()));
    case QMetaType::QString: return fromText(*static_cast<const QString*>(v.constData()));
    default: break;
    }
    return {Parsed::Other}; // a blob, a date where a number belongs
}

template <typename T>
Result<T> read(const Result<QVariant>& v, const StoredColumn& c, Result<T> (*convert)(const QVariant&, const StoredColumn&))
{
    if (!v)
        return v.error();
    return convert(*v, c);
}

} // namespace

Result<qint64> integer(const QVariant& v, const StoredColumn& c)
{
    if (isNull(v))
        return failure(FwError::invalidUseOfNull(), c);
    // Read in place: the history reads several of these a run.
    if (v.typeId() == QMetaType::LongLong) {
        const qint64 i = *static_cast<const qlonglong*>(v.constData());
        if (i >= c.min && i <= c.max)
            return i;
        return failure(FwError::overflow(), c);
    }
    const Parsed p = parse(v);
    switch (p.kind) {
    case Parsed::Whole:
        if (p.whole >= c.min && p.whole <= c.max)
            return p.whole;
        return failure(FwError::overflow(), c);
    case Parsed::Infinite:
    case Parsed::Huge: return failure(FwError::overflow(), c);
    case Parsed::Fraction:
    case Parsed::NotANumber:
    case Parsed::Other: break;
    }
    return failure(FwError::typeMismatch(), c);
}

Result<bool> bit(const QVariant& v, const StoredColumn& c)
{
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
    }
    const Result<qint64> i = integer(v, StoredColumn{c.name, StoredColumn::Kind::Bit, 0, 1});
    if (!i)
        return i.error();
    return *i != 0;
}

Result<double> number(const QVariant& v, const StoredColumn& c)
{
    if (isNull(v))
        return failure(FwError::invalidUseOfNull(), c);
    const Parsed p = parse(v);
    switch (p.kind) {
    case Parsed::Whole: return static_cast<double>(p.whole);
    case Parsed::Fraction:
    case Parsed::Huge: return p.real;
    case Parsed::Infinite: return failure(FwError::overflow(), c);
    case Parsed::NotANumber:
    case Parsed::Other: break;
    }
    return failure(FwError::typeMismatch(), c);
}

Result<WallTime> wallTime(const QVariant& v, const StoredColumn& c)
{
    if (isNull(v))
        return failure(FwError::invalidUseOfNull(), c);
    const int type = v.typeId();
    if (type != QMetaType::QString && type != QMetaType::QDateTime && type != QMetaType::QDate)
        return failure(FwError::typeMismatch(), c);
    const WallTime t = WallTime::fromVariant(v);
    if (!t.valid)
        return failure(FwError::typeMismatch(), c);
    return t;
}

Result<QDateTime> dateTime(const QVariant& v, const StoredColumn& c)
{
    const Result<WallTime> t = wallTime(v, c);
    if (!t)
        return t.error();
    return t->toDateTime();
}

Result<QString> text(const QVariant& v, const StoredColumn& c)
{
    if (isNull(v))
        return failure(FwError::invalidUseOfNull(), c);
    if (v.typeId() == QMetaType::QString)
        return *static_cast<const QString*>(v.constData());
    if (v.typeId() == QMetaType::QByteArray)
        return failure(FwError::typeMismatch(), c);
    return v.toString();
}

Result<void> check(const QVariant& v, const StoredColumn& c)
{
    if (isNull(v))
        return Result<void>::success();
    const auto ok = [](const auto& r) { return r ? Result<void>::success() : Result<void>(r.error()); };
    switch (c.kind) {
    case StoredColumn::Kind::Bit: return ok(bit(v, c));
    case StoredColumn::Kind::Integer: return ok(integer(v, c));
    case StoredColumn::Kind::Number: return ok(number(v, c));
    case StoredColumn::Kind::DateTime: return ok(wallTime(v, c));
    case StoredColumn::Kind::Text: break;
    }
    return ok(text(v, c));
}

Result<bool> bit(const Result<QVariant>& v, const StoredColumn& c)
{
    return read<bool>(v, c, bit);
}
Result<qint64> integer(const Result<QVariant>& v, const StoredColumn& c)
{
    return read<qint64>(v, c, integer);
}
Result<double> number(const Result<QVariant>& v, const StoredColumn& c)
{
    return read<double>(v, c, number);
}
Result<QDateTime> dateTime(const Result<QVariant>& v, const StoredColumn& c)
{
    return read<QDateTime>(v, c, dateTime);
}
Result<QString> text(const Result<QVariant>& v, const StoredColumn& c)
{
    return read<QString>(v, c, text);
}

} // namespace stored
} // namespace fw
