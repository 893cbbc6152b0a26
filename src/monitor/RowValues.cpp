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

QVariant FirstRow::value(const QString& column) const
{
    if (!m_exists)
        throw FwException(FwError::noCurrentRecord());
    const int i = m_record.indexOf(column);
    if (i < 0)
        throw FwException({3265, QStringLiteral("Item cannot be found in the collection corresponding to the requested "
                                                "name or ordinal.")});
    return m_record.value(i);
}

namespace rowvalue {

namespace {
void requireValue(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        throw FwException(FwError::invalidUseOfNull());
}
} // namespace

bool flag(const QVariant& v)
{
    requireValue(v);
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        bool ok = false;
        const double d = s.toDouble(&ok);
        if (!ok)
            throw FwException(FwError::typeMismatch());
        return d != 0;
    }
    return number(v) != 0;
}

namespace {
// A stored number that is no number (NaN) is of the wrong kind; an infinite one overflows whatever reads it.
double finite(double d)
{
    if (std::isnan(d))
        throw FwException(FwError::typeMismatch());
    if (std::isinf(d))
        throw FwException(FwError::overflow());
    return d;
}

bool isFloatingPoint(const QVariant& v)
{
    return v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}
} // namespace

double number(const QVariant& v)
{
    requireValue(v);
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok)
        throw FwException(FwError::typeMismatch());
    return finite(d);
}

qint64 integer(const QVariant& v)
{
    requireValue(v);
    // A double goes through the range check: Qt's own conversion gives the lowest qint64 for inf, NaN or 1e300.
    if (!isFloatingPoint(v)) {
        bool ok = false;
        const qint64 i = v.toLongLong(&ok);
        if (ok)
            return i;
    }
    const double d = number(v);
    // 2^63 is exactly representable; every double below it rounds into range.
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
        throw FwException(FwError::overflow());
    return static_cast<qint64>(std::round(d));
}

QDateTime dateTime(const QVariant& v)
{
    requireValue(v);
    const WallTime t = WallTime::fromVariant(v);
    if (!t.valid)
        throw FwException(FwError::typeMismatch());
    return t.toDateTime();
}

QString text(const QVariant& v)
{
    requireValue(v);
    return v.toString();
}

} // namespace rowvalue
} // namespace fw
