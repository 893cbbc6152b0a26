#pragma once
#include <QList>
#include <QSqlRecord>
#include <QSqlResult>
#include <QVariantList>

class QSqlQuery;

namespace fw {

class OdbcCursor;

// The rows of a finished SELECT, held in memory and read through QSqlQuery like any result. FreeTDS keeps one open
// result per connection; the tool's readers keep one result open while they run the next statement, so on SQL
// Server a result is read whole as soon as it comes.
class BufferedResult final : public QSqlResult {
public:
    // Reads the rest of `source` (an active SELECT); false when the driver fails part way (`source` says why).
    static BufferedResult* readAll(QSqlQuery& source, const QSqlDriver* driver, bool* ok);
    // The current result of `source`: its rows read whole, or the count of rows it changed; false when reading failed
    // part way (`source` says why).
    static BufferedResult* readAll(OdbcCursor& source, const QSqlDriver* driver, bool* ok);
    // The same rows once more (they are shared, not copied).
    BufferedResult* copy() const;
    bool hasRows() const { return isSelect(); }

protected:
    QVariant data(int i) override;
    bool isNull(int i) override;
    bool reset(const QString&) override { return false; }
    bool fetch(int i) override;
    bool fetchFirst() override { return fetch(0); }
    bool fetchLast() override { return fetch(static_cast<int>(m_rows.size()) - 1); }
    int size() override { return static_cast<int>(m_rows.size()); }
    int numRowsAffected() override { return m_rowsAffected; }
    QSqlRecord record() const override { return m_record; }

private:
    explicit BufferedResult(const QSqlDriver* driver) : QSqlResult(driver) {}
    QSqlRecord m_record;
    QList<QVariantList> m_rows;
    int m_rowsAffected = -1;
};

} // namespace fw
