#pragma once
#include <QSqlError>
#include <QSqlRecord>
#include <QString>
#include <QVariantList>
#include <memory>
#include <vector>

namespace fw {

// A statement, or a batch of them, run directly on an ODBC connection (SQLExecDirect with bound parameters) and its
// results read in order. On FreeTDS this is one round trip: the server gets the text with its parameters at once,
// where Qt's prepared statements cost two (the prepare with its execution, then its release). Values come back as
// Qt's ODBC driver gives them (the same types for the same columns), errors in its words.
class OdbcCursor {
public:
    // Runs `sql` on the connection `hdbc` within `timeoutSeconds` (0: none). The cursor stands on the first result;
    // null when the statement failed (`error` says why).
    static std::unique_ptr<OdbcCursor> execute(void* hdbc, const QString& sql, const QVariantList& binds, int timeoutSeconds,
                                               QSqlError* error);
    ~OdbcCursor();
    OdbcCursor(const OdbcCursor&) = delete;
    OdbcCursor& operator=(const OdbcCursor&) = delete;

    // The current result: rows (a record of its columns) or a count of rows changed.
    bool hasRows() const { return m_columns > 0; }
    const QSqlRecord& record() const { return m_record; }
    qint64 rowsAffected() const { return m_rowsAffected; }
    // The next row of the current result into `row`; false at its end, or when reading failed (error()).
    bool fetch(QVariantList& row);
    // Moves to the next result; false when there is none, or when it failed (error()).
    bool nextResult();
    const QSqlError& error() const { return m_error; }

private:
    OdbcCursor() = default;
    bool describe();
    QVariant column(int i);
    void fail(const char* what);

    void* m_stmt = nullptr;
    int m_columns = 0;
    std::vector<int> m_types; // QMetaType ids, as Qt's driver decides them
    QSqlRecord m_record;
    qint64 m_rowsAffected = -1;
    QSqlError m_error;
};

} // namespace fw
