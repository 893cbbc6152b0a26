#pragma once
#include "log/FwError.h"
#include "log/Result.h"

#include <QDateTime>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

class QSqlQuery;

namespace fw {

// The first row of a query result, or none. Reading a column when there is no row fails the way a
// recordset at its end does (3021), so callers treat a missing row like any other failed read.
class FirstRow {
public:
    FirstRow() = default;
    // Moves the query to its first row and keeps that row's values.
    static FirstRow from(QSqlQuery& q);
    // None when the statement failed (its caller reports why).
    static FirstRow from(Result<QSqlQuery>& q);

    bool exists() const { return m_exists; }
    // The column's value, possibly null; throws 3021 when there is no row.
    QVariant value(const QString& column) const;

private:
    bool m_exists = false;
    QSqlRecord m_record;
};

// Conversions of column values; a null throws 94, a value of the wrong kind 13 (NaN among them), a number that
// does not fit 6 (infinity among them: a made-up number is never returned). A date-time is the wall
// time as stored (see WallTime), held without a zone.
namespace rowvalue {
bool flag(const QVariant& v);
qint64 integer(const QVariant& v);
double number(const QVariant& v);
QDateTime dateTime(const QVariant& v);
QString text(const QVariant& v);
} // namespace rowvalue

} // namespace fw
