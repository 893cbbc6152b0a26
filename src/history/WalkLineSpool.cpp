#include "history/WalkLineSpool.h"

#include "platform/WriteAll.h"

#include <QDataStream>

namespace fw {

namespace {
constexpr int kSpoolMemory = 4096;

bool writeAt(int fd, qint64 offset, const QByteArray& bytes)
{
    return writeAllAt(fd, bytes.constData(), bytes.size(), offset) == 0;
}
} // namespace

WalkLineSpool::WalkLineSpool(QString fileTemplate) : m_template(std::move(fileTemplate)) {}
WalkLineSpool::~WalkLineSpool() = default;

void WalkLineSpool::append(WalkLine line)
{
    m_memory.append(std::move(line));
    ++m_count;
    if (m_memory.size() >= kSpoolMemory)
        spill();
}

void WalkLineSpool::spill()
{
    // No temporary space, or it ran out: the lines stay in memory rather than being lost.
    if (m_fileFailed)
        return;
    if (!m_file) {
        m_file = m_template.isEmpty() ? std::make_unique<QTemporaryFile>() : std::make_unique<QTemporaryFile>(m_template);
        if (!m_file->open()) {
            m_file.reset();
            m_fileFailed = true;
            return;
        }
    }
    QByteArray batch;
    {
        QDataStream out(&batch, QIODevice::WriteOnly);
        for (const WalkLine& l : m_memory)
            out << l.ordinal << static_cast<quint8>(l.kind) << l.text << l.number << l.line;
    }
    // Written past the file's buffer: a write that fails leaves nothing behind to fail again when the lines
    // are read back (the disk may still be full then). What it wrote in part lies past the lines kept and is
    // never read.
    if (!writeAt(m_file->handle(), m_fileBytes, batch)) {
        m_fileFailed = true;
        return;
    }
    m_fileBytes += batch.size();
    m_inFile += m_memory.size();
    m_memory.clear();
}

Result<void> WalkLineSpool::forEach(const std::function<void(const WalkLine&)>& f)
{
    if (m_file) {
        auto unreadable = [&] {
            return Result<void>(FwError{75, QStringLiteral("The lines kept in %1 could not be read back: %2")
                                                .arg(m_file->fileName(), m_file->errorString())});
        };
        if (!m_file->flush() || !m_file->seek(0))
            return unreadable();
        QDataStream in(m_file.get());
        WalkLine l;
        for (qint64 i = 0; i < m_inFile; ++i) {
            quint8 kind = 0;
            in >> l.ordinal >> kind >> l.text >> l.number >> l.line;
            if (in.status() != QDataStream::Ok)
                return unreadable();
            l.kind = static_cast<WalkLine::Kind>(kind);
            f(l);
        }
    }
    for (const WalkLine& l : m_memory)
        f(l);
    return Result<void>::success();
}

} // namespace fw
