#include "monitor/RowValues.h"

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

FwError FirstRow::noCurrentRecord()
{
    return {3021, QStringLiteral("Either BOF or EOF is True, or the current record has been deleted. Requested operation "
                                 "requires a current record.")};
}

QVariant FirstRow::value(const QString& column) const
{
    if (!m_exists)
        throw FwException(noCurrentRecord());
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
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime();
    if (v.typeId() == QMetaType::QDate)
        return v.toDate().startOfDay();
    const QString s = v.toString().trimmed();
    for (const char* fmt : {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-ddTHH:mm:ss.zzz",
                            "yyyy-MM-dd HH:mm", "yyyy-MM-dd"}) {
        const QDateTime t = QDateTime::fromString(s, QString::fromLatin1(fmt));
        if (t.isValid())
            return t;
    }
    throw FwException(FwError::typeMismatch());
}

QString text(const QVariant& v)
{
    requireValue(v);
    return v.toString();
}

} // namespace rowvalue
} // namespace fw
