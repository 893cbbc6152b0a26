#include "db/OdbcCursor.h"

#include <QDateTime>

#include <cstdio>
#include <QSqlField>

#include <sql.h>
#include <sqlext.h>

#include <cstring>

namespace fw {

namespace {

// The diagnostic records of a handle as Qt's driver joins them: the texts one after the other, the number the last's.
QSqlError diagnostics(SQLSMALLINT type, SQLHANDLE handle, const QString& what)
{
    QString text;
    QString native;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
        SQLINTEGER code = 0;
        SQLSMALLINT length = 0;
        SQLRETURN r = SQLGetDiagRecW(type, handle, i, state, &code, nullptr, 0, &length);
        if (r != SQL_SUCCESS && r != SQL_SUCCESS_WITH_INFO)
            break;
        std::vector<SQLWCHAR> message(static_cast<size_t>(length) + 1);
        r = SQLGetDiagRecW(type, handle, i, state, &code, message.data(), static_cast<SQLSMALLINT>(message.size()), &length);
        if (r != SQL_SUCCESS && r != SQL_SUCCESS_WITH_INFO)
            break;
        native = QString::number(code);
        const QString line = QString::fromUtf16(reinterpret_cast<const char16_t*>(message.data()), length);
        if (line != text) {
            if (!text.isEmpty())
                text += QLatin1Char(' ');
            text += line;
        }
    }
    return QSqlError(QStringLiteral("QODBC: ") + what, text, QSqlError::StatementError, native);
}

// As Qt's driver types a column.
int columnType(SQLSMALLINT sqlType, bool isSigned)
{
    switch (sqlType) {
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: return QMetaType::Double;
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIT: return isSigned ? QMetaType::Int : QMetaType::UInt;
    case SQL_TINYINT: return QMetaType::UInt;
    case SQL_BIGINT: return isSigned ? QMetaType::LongLong : QMetaType::ULongLong;
    case SQL_DATE:
    case SQL_TYPE_DATE: return QMetaType::QDate;
    case SQL_TIME:
    case SQL_TYPE_TIME: return QMetaType::QTime;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP: return QMetaType::QDateTime;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_GUID:
    case SQL_LONGVARCHAR: return QMetaType::QString;
    default: return QMetaType::QByteArray;
    }
}

// One bound parameter and the memory it points at, alive until the statement has run.
struct Parameter {
    QByteArray data;
    SQLLEN indicator = 0;
};

bool bind(SQLHSTMT stmt, SQLUSMALLINT index, const QVariant& v, Parameter& p)
{
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLSMALLINT sqlType = SQL_WVARCHAR;
    SQLULEN size = 1;
    SQLSMALLINT digits = 0;
    const auto raw = [&p](const auto& value) { p.data = QByteArray(reinterpret_cast<const char*>(&value), sizeof value); };
    switch (v.typeId()) {
    case QMetaType::Bool:
        cType = SQL_C_BIT;
        sqlType = SQL_BIT;
        raw(static_cast<unsigned char>(v.toBool() ? 1 : 0));
        break;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        cType = SQL_C_SLONG;
        sqlType = SQL_INTEGER;
        raw(static_cast<SQLINTEGER>(v.toInt()));
        break;
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Long:
        cType = SQL_C_SBIGINT;
        sqlType = SQL_BIGINT;
        raw(static_cast<SQLBIGINT>(v.toLongLong()));
        break;
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        cType = SQL_C_UBIGINT;
        sqlType = SQL_BIGINT;
        raw(static_cast<SQLUBIGINT>(v.toULongLong()));
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        cType = SQL_C_DOUBLE;
        sqlType = SQL_DOUBLE;
        raw(v.toDouble());
        break;
    case QMetaType::QDateTime: {
        const QDateTime t = v.toDateTime();
        TIMESTAMP_STRUCT ts{};
        ts.year = static_cast<SQLSMALLINT>(t.date().year());
        ts.month = static_cast<SQLUSMALLINT>(t.date().month());
        ts.day = static_cast<SQLUSMALLINT>(t.date().day());
        ts.hour = static_cast<SQLUSMALLINT>(t.time().hour());
        ts.minute = static_cast<SQLUSMALLINT>(t.time().minute());
        ts.second = static_cast<SQLUSMALLINT>(t.time().second());
        ts.fraction = static_cast<SQLUINTEGER>(t.time().msec()) * 1000000;
        cType = SQL_C_TYPE_TIMESTAMP;
        sqlType = SQL_TYPE_TIMESTAMP;
        size = 23;
        digits = 3;
        raw(ts);
        break;
    }
    case QMetaType::QByteArray:
        cType = SQL_C_BINARY;
        sqlType = SQL_VARBINARY;
        p.data = v.toByteArray();
        size = static_cast<SQLULEN>(qMax<qsizetype>(1, p.data.size()));
        break;
    default: {
        const QString s = v.toString();
        p.data = QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
        size = static_cast<SQLULEN>(qMax<qsizetype>(1, s.size()));
        sqlType = s.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
        break;
    }
    }
    p.indicator = v.isNull() ? SQL_NULL_DATA : static_cast<SQLLEN>(p.data.size());
    return SQL_SUCCEEDED(SQLBindParameter(stmt, index, SQL_PARAM_INPUT, cType, sqlType, size, digits,
                                          p.data.isEmpty() ? nullptr : p.data.data(), p.data.size(), &p.indicator));
}

} // namespace

std::unique_ptr<OdbcCursor> OdbcCursor::execute(void* hdbc, const QString& sql, const QVariantList& binds, int timeoutSeconds,
                                                QSqlError* error)
{
    std::unique_ptr<OdbcCursor> c(new OdbcCursor);
    if (!hdbc) {
        *error = QSqlError(QStringLiteral("QODBC: Unable to execute statement"), QStringLiteral("The connection is closed"),
                           QSqlError::ConnectionError);
        return nullptr;
    }
    SQLHSTMT stmt = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(hdbc), &stmt))) {
        *error = diagnostics(SQL_HANDLE_DBC, static_cast<SQLHDBC>(hdbc), QStringLiteral("Unable to allocate statement"));
        return nullptr;
    }
    c->m_stmt = stmt;
    SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_CURSOR_FORWARD_ONLY)),
                   SQL_IS_UINTEGER);
    if (timeoutSeconds > 0)
        SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeoutSeconds)),
                       SQL_IS_UINTEGER);
    std::vector<Parameter> parameters(static_cast<size_t>(binds.size()));
    for (qsizetype i = 0; i < binds.size(); ++i) {
        if (!bind(stmt, static_cast<SQLUSMALLINT>(i + 1), binds[i], parameters[static_cast<size_t>(i)])) {
            *error = diagnostics(SQL_HANDLE_STMT, stmt, QStringLiteral("Unable to bind variable"));
            return nullptr;
        }
    }
    const SQLRETURN r = SQLExecDirectW(stmt, const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(sql.utf16())),
                                       static_cast<SQLINTEGER>(sql.size()));
    if (r != SQL_SUCCESS && r != SQL_SUCCESS_WITH_INFO && r != SQL_NO_DATA) {
        *error = diagnostics(SQL_HANDLE_STMT, stmt, QStringLiteral("Unable to execute statement"));
        return nullptr;
    }
    // The parameters were sent with the statement.
    SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    if (!c->describe()) {
        *error = c->m_error;
        return nullptr;
    }
    return c;
}

OdbcCursor::~OdbcCursor()
{
    if (m_stmt)
        SQLFreeHandle(SQL_HANDLE_STMT, static_cast<SQLHSTMT>(m_stmt));
}

void OdbcCursor::fail(const char* what)
{
    m_error = diagnostics(SQL_HANDLE_STMT, static_cast<SQLHSTMT>(m_stmt), QString::fromLatin1(what));
}

bool OdbcCursor::describe()
{
    SQLHSTMT stmt = static_cast<SQLHSTMT>(m_stmt);
    m_record.clear();
    m_types.clear();
    m_rowsAffected = -1;
    SQLSMALLINT count = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt, &count))) {
        fail("Unable to describe the result");
        return false;
    }
    m_columns = count;
    if (count == 0) {
        SQLLEN rows = -1;
        if (SQL_SUCCEEDED(SQLRowCount(stmt, &rows)))
            m_rowsAffected = rows;
        return true;
    }
    for (SQLUSMALLINT i = 1; i <= count; ++i) {
        SQLWCHAR name[256] = {};
        SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        if (!SQL_SUCCEEDED(SQLDescribeColW(stmt, i, name, 255, &nameLength, &sqlType, &size, &digits, &nullable))) {
            fail("Unable to describe the result");
            return false;
        }
        SQLLEN unsignedFlag = SQL_FALSE;
        SQLColAttribute(stmt, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &unsignedFlag);
        const int type = columnType(sqlType, unsignedFlag == SQL_FALSE);
        m_types.push_back(type);
        m_record.append(
            QSqlField(QString::fromUtf16(reinterpret_cast<const char16_t*>(name), qMin<int>(nameLength, 255)), QMetaType(type)));
    }
    return true;
}

bool OdbcCursor::fetch(QVariantList& row)
{
    if (m_columns == 0)
        return false;
    const SQLRETURN r = SQLFetch(static_cast<SQLHSTMT>(m_stmt));
    if (r == SQL_NO_DATA)
        return false;
    if (!SQL_SUCCEEDED(r)) {
        fail("Unable to fetch next");
        return false;
    }
    row.resize(m_columns);
    for (int i = 0; i < m_columns; ++i) {
        row[i] = column(i);
        if (m_error.isValid())
            return false;
    }
    return true;
}

QVariant OdbcCursor::column(int i)
{
    SQLHSTMT stmt = static_cast<SQLHSTMT>(m_stmt);
    const SQLUSMALLINT n = static_cast<SQLUSMALLINT>(i + 1);
    const int type = m_types[static_cast<size_t>(i)];
    const QVariant null{QMetaType(type)};
    SQLLEN indicator = 0;
    const auto get = [&](SQLSMALLINT cType, void* target, SQLLEN size) {
        const SQLRETURN r = SQLGetData(stmt, n, cType, target, size, &indicator);
        if (!SQL_SUCCEEDED(r)) {
            fail("Unable to fetch next");
            return false;
        }
        return indicator != SQL_NULL_DATA;
    };
    switch (type) {
    case QMetaType::Int: {
        SQLINTEGER v = 0;
        return get(SQL_C_SLONG, &v, 0) ? QVariant(static_cast<int>(v)) : null;
    }
    case QMetaType::UInt: {
        SQLUINTEGER v = 0;
        return get(SQL_C_ULONG, &v, 0) ? QVariant(static_cast<uint>(v)) : null;
    }
    case QMetaType::LongLong: {
        SQLBIGINT v = 0;
        return get(SQL_C_SBIGINT, &v, 0) ? QVariant(static_cast<qlonglong>(v)) : null;
    }
    case QMetaType::ULongLong: {
        SQLUBIGINT v = 0;
        return get(SQL_C_UBIGINT, &v, 0) ? QVariant(static_cast<qulonglong>(v)) : null;
    }
    case QMetaType::Double: {
        double v = 0;
        return get(SQL_C_DOUBLE, &v, 0) ? QVariant(v) : null;
    }
    case QMetaType::QDate: {
        DATE_STRUCT d{};
        return get(SQL_C_DATE, &d, sizeof d) ? QVariant(QDate(d.year, d.month, d.day)) : null;
    }
    case QMetaType::QTime: {
        TIME_STRUCT t{};
        return get(SQL_C_TIME, &t, sizeof t) ? QVariant(QTime(t.hour, t.minute, t.second)) : null;
    }
    case QMetaType::QDateTime: {
        TIMESTAMP_STRUCT t{};
        if (!get(SQL_C_TIMESTAMP, &t, sizeof t))
            return null;
        // As text, the way SQLite keeps it: a stored time is a wall time without a zone, and a local QDateTime
        // made of each would ask the C library for the zone's rules (a stat of /etc/localtime) a cell at a time.
        char text[32];
        const int ms = static_cast<int>(t.fraction / 1000000);
        const int n = ms ? std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                                         t.hour, t.minute, t.second, ms)
                         : std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                                         t.minute, t.second);
        return QVariant(QString::fromLatin1(text, n));
    }
    case QMetaType::QString: {
        // Read in pieces: the driver says how much is left, or that it does not know.
        QString text;
        SQLWCHAR buffer[4096];
        for (;;) {
            const SQLRETURN r = SQLGetData(stmt, n, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
            if (r == SQL_NO_DATA)
                break;
            if (!SQL_SUCCEEDED(r)) {
                fail("Unable to fetch next");
                return null;
            }
            if (indicator == SQL_NULL_DATA)
                return null;
            const qsizetype chars = (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer))
                                        ? qsizetype(sizeof buffer / sizeof(SQLWCHAR)) - 1
                                        : qsizetype(indicator / sizeof(SQLWCHAR));
            text += QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), chars);
            if (r == SQL_SUCCESS)
                break;
        }
        return text;
    }
    default: {
        QByteArray bytes;
        char buffer[4096];
        for (;;) {
            const SQLRETURN r = SQLGetData(stmt, n, SQL_C_BINARY, buffer, sizeof buffer, &indicator);
            if (r == SQL_NO_DATA)
                break;
            if (!SQL_SUCCEEDED(r)) {
                fail("Unable to fetch next");
                return null;
            }
            if (indicator == SQL_NULL_DATA)
                return null;
            const qsizetype got = (indicator == SQL_NO_TOTAL || indicator > static_cast<SQLLEN>(sizeof buffer))
                                      ? qsizetype(sizeof buffer)
                                      : qsizetype(indicator);
            bytes.append(buffer, got);
            if (r == SQL_SUCCESS)
                break;
        }
        return bytes;
    }
    }
}

bool OdbcCursor::nextResult()
{
    const SQLRETURN r = SQLMoreResults(static_cast<SQLHSTMT>(m_stmt));
    if (r == SQL_NO_DATA) {
        m_columns = 0;
        return false;
    }
    if (!SQL_SUCCEEDED(r)) {
        fail("Unable to fetch last");
        m_columns = 0;
        return false;
    }
    return describe();
}

} // namespace fw
