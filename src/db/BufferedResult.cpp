#include "db/BufferedResult.h"

#include "db/OdbcCursor.h"

#include <QSqlError>
#include <QSqlQuery>

namespace fw {

BufferedResult* BufferedResult::readAll(QSqlQuery& source, const QSqlDriver* driver, bool* ok)
{
    auto* r = new BufferedResult(driver);
    r->m_record = source.record();
    const int columns = r->m_record.count();
    while (source.next()) {
        QVariantList row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c)
            row.append(source.value(c));
        r->m_rows.append(std::move(row));
    }
    *ok = !source.lastError().isValid();
    r->setSelect(true);
    r->setActive(true);
    r->setAt(QSql::BeforeFirstRow);
    return r;
}

BufferedResult* BufferedResult::readAll(OdbcCursor& source, const QSqlDriver* driver, bool* ok)
{
    auto* r = new BufferedResult(driver);
    r->m_record = source.record();
    *ok = true;
    if (source.hasRows()) {
        QVariantList row;
        while (source.fetch(row))
            r->m_rows.append(row);
        *ok = !source.error().isValid();
        r->setSelect(true);
    } else {
        r->m_rowsAffected = static_cast<int>(source.rowsAffected());
        r->setSelect(false);
    }
    r->setActive(true);
    r->setAt(QSql::BeforeFirstRow);
    return r;
}

BufferedResult* BufferedResult::copy() const
{
    auto* r = new BufferedResult(driver());
    r->m_record = m_record;
    r->m_rows = m_rows;
    r->m_rowsAffected = m_rowsAffected;
    r->setSelect(isSelect());
    r->setActive(true);
    r->setAt(QSql::BeforeFirstRow);
    return r;
}

bool BufferedResult::fetch(int i)
{
    if (i < 0 || i >= m_rows.size())
        return false;
    setAt(i);
    return true;
}

QVariant BufferedResult::data(int i)
{
    const int row = at();
    if (row < 0 || row >= m_rows.size() || i < 0 || i >= m_rows[row].size())
        return {};
    return m_rows[row][i];
}

bool BufferedResult::isNull(int i)
{
    return data(i).isNull();
}

} // namespace fw
