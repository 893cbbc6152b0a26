#include "monitor/RowValues.h"

#include "db/WallTime.h"

#include <QSqlQuery>

#include <cmath>

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

namespace rowvalue {

namespace {
bool isNull(const QVariant& v)
{
    return !v.isValid() || v.isNull();
}

// A stored number that is no number (NaN) is of the wrong kind; an infinite one overflows whatever reads it.
Result<double> finite(double d)
{
    if (std::isnan(d))
        return FwError::typeMismatch();
    if (std::isinf(d))
        return FwError::overflow();
    return d;
}

bool isFloatingPoint(const QVariant& v)
{
    return v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}

template <typename T>
Result<T> read(const Result<QVariant>& v, Result<T> (*convert)(const QVariant&))
{
    if (!v)
        return v.error();
    return convert(*v);
}
} // namespace

Result<bool> flag(const QVariant& v)
{
    if (isNull(v))
        return FwError::invalidUseOfNull();
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        bool ok = false;
        const double d = s.toDouble(&ok);
        if (!ok)
            return FwError::typeMismatch();
        return d != 0;
    }
    const Result<double> d = number(v);
    if (!d)
        return d.error();
    return *d != 0;
}

Result<double> number(const QVariant& v)
{
    if (isNull(v))
        return FwError::invalidUseOfNull();
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok)
        return FwError::typeMismatch();
    return finite(d);
}

Result<qint64> integer(const QVariant& v)
{
    if (isNull(v))
        return FwError::invalidUseOfNull();
    // A double goes through the range check: Qt's own conversion gives the lowest qint64 for inf, NaN or 1e300.
    if (!isFloatingPoint(v)) {
        bool ok = false;
        const qint64 i = v.toLongLong(&ok);
        if (ok)
            return i;
    }
    const Result<double> d = number(v);
    if (!d)
        return d.error();
    // 2^63 is exactly representable; every double below it rounds into range.
    if (!(*d >= -9223372036854775808.0 && *d < 9223372036854775808.0))
        return FwError::overflow();
    return static_cast<qint64>(std::round(*d));
}

Result<QDateTime> dateTime(const QVariant& v)
{
    if (isNull(v))
        return FwError::invalidUseOfNull();
    const WallTime t = WallTime::fromVariant(v);
    if (!t.valid)
        return FwError::typeMismatch();
    return t.toDateTime();
}

Result<QString> text(const QVariant& v)
{
    if (isNull(v))
        return FwError::invalidUseOfNull();
    return v.toString();
}

Result<bool> flag(const Result<QVariant>& v)
{
    return read<bool>(v, flag);
}
Result<qint64> integer(const Result<QVariant>& v)
{
    return read<qint64>(v, integer);
}
Result<double> number(const Result<QVariant>& v)
{
    return read<double>(v, number);
}
Result<QDateTime> dateTime(const Result<QVariant>& v)
{
    return read<QDateTime>(v, dateTime);
}
Result<QString> text(const Result<QVariant>& v)
{
    return read<QString>(v, text);
}

} // namespace rowvalue
} // namespace fw
