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

double number(const QVariant& v)
{
    requireValue(v);
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok)
        throw FwException(FwError::typeMismatch());
    return d;
}

qint64 integer(const QVariant& v)
{
    requireValue(v);
    bool ok = false;
    const qint64 i = v.toLongLong(&ok);
    if (ok)
        return i;
    const double d = number(v);
    if (d < -9.2e18 || d > 9.2e18)
        throw FwException(FwError::overflow());
    return static_cast<qint64>(std::llround(d));
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
