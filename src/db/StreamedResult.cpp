#include "db/StreamedResult.h"

#include "db/OdbcCursor.h"

#include <QSqlError>

#include <atomic>

namespace fw {

namespace {
std::atomic<qint64> g_spillMemoryBytes{8 << 20};

QSqlError spillError(const QString& why)
{
    return QSqlError(QStringLiteral("The rows of a result could not be kept while the connection ran another statement"), why,
                     QSqlError::UnknownError);
}
} // namespace

void StreamedResult::setSpillMemoryBytes(qint64 bytes)
{
    g_spillMemoryBytes = bytes;
}

StreamedResult::StreamedResult(std::unique_ptr<OdbcCursor> live, const QSqlDriver* driver)
    : QSqlResult(driver), m_live(std::move(live)), m_link(std::make_shared<StreamLink>()),
      m_memoryBytes(g_spillMemoryBytes.load())
{
    m_record = m_live->record();
    m_columns = m_record.count();
    m_link->result = this;
    setSelect(true);
    setActive(true);
    setForwardOnly(true);
    setAt(QSql::BeforeFirstRow);
}

StreamedResult::~StreamedResult()
{
    // A result let go where its rows ended (a reader taking the one row it expects) is closed without the cancel
    // the driver sends for a result given up part way: one round trip less.
    QVariantList row;
    if (m_mode == Mode::Live && !m_live->fetch(row))
        endLive(!m_live->error().isValid());
    unlink();
}

void StreamedResult::unlink()
{
    if (m_link)
        m_link->result = nullptr;
}

void StreamedResult::release()
{
    unlink();
    if (m_mode != Mode::Live)
        return;
    m_mode = Mode::Spilled;
    m_buffer.setBuffer(&m_memory);
    m_buffer.open(QIODevice::WriteOnly);
    m_stream.setDevice(&m_buffer);
    QVariantList row;
    bool kept = true;
    while (kept && m_live->fetch(row))
        kept = spill(row);
    if (kept && m_live->error().isValid())
        m_after = m_live->error();
    endLive(kept && !m_after.isValid());
    endSpilling();
}

bool StreamedResult::spill(const QVariantList& row)
{
    for (const QVariant& v : row)
        m_stream << v;
    if (m_stream.status() != QDataStream::Ok) {
        m_after = spillError(m_file ? m_file->errorString() : QStringLiteral("out of memory"));
        return false;
    }
    ++m_kept;
    if (!m_file && m_memory.size() > m_memoryBytes) {
        // Past this the rows go to a file: memory stays flat however long the result.
        m_file = std::make_unique<QTemporaryFile>();
        if (!m_file->open() || m_file->write(m_memory) != m_memory.size()) {
            m_after = spillError(m_file->errorString());
            m_kept = 0; // what was kept cannot be told from what was not
            return false;
        }
        m_buffer.close();
        m_memory = QByteArray();
        m_stream.setDevice(m_file.get());
    }
    return true;
}

void StreamedResult::endSpilling()
{
    if (m_file) {
        if (!m_file->flush() || !m_file->seek(0)) {
            m_after = spillError(m_file->errorString());
            m_kept = 0;
        }
        m_stream.setDevice(m_file.get());
    } else {
        m_buffer.close();
        m_buffer.open(QIODevice::ReadOnly);
        m_stream.setDevice(&m_buffer);
    }
    m_stream.resetStatus();
}

bool StreamedResult::readSpilled()
{
    if (m_readBack >= m_kept) {
        if (m_after.isValid())
            setLastError(m_after);
        return false;
    }
    m_row.resize(m_columns);
    for (int c = 0; c < m_columns; ++c)
        m_stream >> m_row[c];
    if (m_stream.status() != QDataStream::Ok) {
        setLastError(spillError(m_file ? m_file->errorString() : QStringLiteral("the kept rows end early")));
        m_kept = m_readBack;
        m_after = lastError();
        return false;
    }
    ++m_readBack;
    return true;
}

void StreamedResult::endLive(bool readToTheEnd)
{
    unlink();
    // A result read to its end is closed with the server's last word read too; the rest of one given up is the
    // driver's to cancel.
    if (readToTheEnd && m_live)
        while (m_live->nextResult()) {
        }
    m_live.reset();
}

void StreamedResult::close()
{
    if (m_mode == Mode::Live) {
        endLive(false);
        m_mode = Mode::Spilled; // with nothing kept
        m_after = QSqlError(QStringLiteral("The connection of a result was closed before all its rows were read"), {},
                            QSqlError::ConnectionError);
    }
}

bool StreamedResult::fetchNext()
{
    bool ok = false;
    switch (m_mode) {
    case Mode::Live:
        ok = m_live->fetch(m_row);
        if (!ok) {
            const bool failed = m_live->error().isValid();
            if (failed)
                setLastError(m_live->error());
            endLive(!failed);
            m_mode = Mode::Ended;
        }
        break;
    case Mode::Spilled: ok = readSpilled(); break;
    case Mode::Ended: break;
    }
    if (ok)
        setAt(at() < 0 ? 0 : at() + 1);
    return ok;
}

bool StreamedResult::fetchFirst()
{
    return at() == QSql::BeforeFirstRow && fetchNext();
}

bool StreamedResult::fetch(int i)
{
    // Forward only, one row at a time.
    if (i == (at() < 0 ? 0 : at() + 1))
        return fetchNext();
    return false;
}

QVariant StreamedResult::data(int i)
{
    if (i < 0 || i >= m_columns)
        return {};
    return m_row.value(i);
}

bool StreamedResult::isNull(int i)
{
    return data(i).isNull();
}

void StreamedResult::detachFromResultSet()
{
    endLive(false);
    m_mode = Mode::Ended;
    m_file.reset();
    m_memory = QByteArray();
}

} // namespace fw
