#pragma once
#include <QBuffer>
#include <QDataStream>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlResult>
#include <QTemporaryFile>
#include <QVariantList>
#include <memory>

namespace fw {

class OdbcCursor;
class StreamedResult;

// Tells a connection which of its results is still being read from the server, if any.
class StreamLink {
public:
    StreamedResult* result = nullptr;
};

// A SELECT read as its rows come (an OdbcCursor's), through QSqlQuery like any result, on a connection that has one
// open result at a time (FreeTDS, without MARS). When the connection is needed for another statement, release() takes the rows not
// yet read off it into a spill (memory, past a few MiB a temporary file), from which they are read on: the program
// logs in once however many results it walks side by side.
class StreamedResult final : public QSqlResult {
public:
    StreamedResult(std::unique_ptr<OdbcCursor> live, const QSqlDriver* driver);
    ~StreamedResult() override;

    std::shared_ptr<StreamLink> link() const { return m_link; }
    // Reads the rest off the connection. A failure of the driver's, or of the spill, is met by the reader after the
    // rows read before it.
    void release();
    // The connection closes: the rows not yet read are lost, and the reader meets that as a failure.
    void close();

    // The size past which the spills of the results made from now on leave memory (tests lower it).
    static void setSpillMemoryBytes(qint64 bytes);
    bool spilledToFile() const { return m_file != nullptr; }

protected:
    QVariant data(int i) override;
    bool isNull(int i) override;
    bool reset(const QString&) override { return false; }
    bool fetch(int i) override;
    bool fetchNext() override;
    bool fetchFirst() override;
    bool fetchLast() override { return false; }
    int size() override { return -1; }
    int numRowsAffected() override { return -1; }
    QSqlRecord record() const override { return m_record; }
    void detachFromResultSet() override;

private:
    enum class Mode { Live, Spilled, Ended };
    void unlink();
    bool spill(const QVariantList& row);
    void endSpilling();
    bool readSpilled();

    void endLive(bool readToTheEnd);

    std::unique_ptr<OdbcCursor> m_live;
    Mode m_mode = Mode::Live;
    QSqlRecord m_record;
    int m_columns = 0;
    std::shared_ptr<StreamLink> m_link;

    QVariantList m_row; // the row read last
    QByteArray m_memory;
    QBuffer m_buffer;
    std::unique_ptr<QTemporaryFile> m_file;
    QDataStream m_stream;
    qint64 m_memoryBytes;
    qint64 m_kept = 0;     // rows in the spill
    qint64 m_readBack = 0; // of those, read
    QSqlError m_after;     // what the reader meets after the kept rows (none: the end)
};

} // namespace fw
