#include "history/RunSpill.h"

#include <QtEndian>

namespace fw {

namespace {

enum : quint8 { NewValues = 1, StartValid = 2, HasEvents = 4 };

// Differences and sums that wrap instead of overflowing: any two 64-bit values have a difference that adds back.
qint64 minus(qint64 a, qint64 b)
{
    return static_cast<qint64>(static_cast<quint64>(a) - static_cast<quint64>(b));
}
qint64 plus(qint64 a, qint64 b)
{
    return static_cast<qint64>(static_cast<quint64>(a) + static_cast<quint64>(b));
}

// A record is encoded into a small buffer first and appended whole: appending byte by byte costs more than the
// encoding itself. 10 bytes per number at most, 16 numbers: well within kRecordMax.
constexpr int kRecordMax = 192;

char* putVarint(char* out, quint64 v)
{
    while (v >= 0x80) {
        *out++ = static_cast<char>(static_cast<quint8>(v) | 0x80);
        v >>= 7;
    }
    *out++ = static_cast<char>(v);
    return out;
}

char* putSigned(char* out, qint64 v)
{
    return putVarint(out, (static_cast<quint64>(v) << 1) ^ static_cast<quint64>(v >> 63));
}

// Reads what putVarint and putSigned wrote; a read past the end marks the reader bad.
class Reader {
public:
    Reader(const char* p, const char* end) : m_p(p), m_end(end) {}
    bool atEnd() const { return m_p == m_end; }
    bool bad() const { return m_bad; }
    quint8 byte()
    {
        if (m_p == m_end) {
            m_bad = true;
            return 0;
        }
        return static_cast<quint8>(*m_p++);
    }
    quint64 varint()
    {
        quint64 v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const quint8 b = byte();
            v |= static_cast<quint64>(b & 0x7f) << shift;
            if (!(b & 0x80))
                return v;
        }
        m_bad = true;
        return 0;
    }
    qint64 signedValue()
    {
        const quint64 z = varint();
        return static_cast<qint64>((z >> 1) ^ (~(z & 1) + 1));
    }

private:
    const char* m_p;
    const char* m_end;
    bool m_bad = false;
};

// The decoding side of the deltas; one per read-back.
struct DecodeState {
    qint64 syncId = 0;
    qint64 start = 0;
    qint32 increment = 0;
    qint32 interval = 0;
};

bool decode(Reader& in, DecodeState& s, RunDigest& d)
{
    const quint8 h = in.byte();
    if (h & NewValues) {
        s.increment = static_cast<qint32>(in.signedValue());
        s.interval = static_cast<qint32>(in.signedValue());
    }
    d.increment = s.increment;
    d.interval = s.interval;
    s.syncId = plus(s.syncId, in.signedValue());
    d.syncId = s.syncId;
    d.lag = in.signedValue();
    d.secs = in.signedValue();
    d.objects = in.signedValue();
    d.start = {};
    if (h & StartValid) {
        s.start = plus(s.start, in.signedValue());
        d.start = {s.start, true};
    }
    d.events = {};
    d.eventTimes = {};
    if (h & HasEvents) {
        for (int k = 0; k < 3; ++k) {
            d.events[k] = static_cast<qint32>(in.varint());
            if (d.events[k] > 0 && in.byte())
                d.eventTimes[k] = {plus(s.start, in.signedValue()), true};
        }
    }
    return !in.bad();
}

} // namespace

bool RunDigest::operator==(const RunDigest& o) const
{
    auto same = [](const WallTime& a, const WallTime& b) { return a.valid == b.valid && (!a.valid || a.secs == b.secs); };
    for (int k = 0; k < 3; ++k)
        if (events[k] != o.events[k] || !same(eventTimes[k], o.eventTimes[k]))
            return false;
    return syncId == o.syncId && increment == o.increment && interval == o.interval && lag == o.lag && secs == o.secs &&
           objects == o.objects && same(start, o.start);
}

RunSpill::RunSpill(QString fileTemplate) : m_template(std::move(fileTemplate))
{
    m_block.resize(static_cast<size_t>(m_blockBytes + kRecordMax));
}

void RunSpill::setBlockBytes(qsizetype bytes)
{
    flush();
    m_blockBytes = bytes;
    m_block.resize(static_cast<size_t>(m_blockBytes + kRecordMax));
}

RunSpill::~RunSpill() = default;

void RunSpill::append(const RunDigest& d)
{
    char* const record = m_block.data() + m_used; // a block keeps room for one record past its size
    char* p = record;
    const bool events = d.events[0] != 0 || d.events[1] != 0 || d.events[2] != 0;
    const bool newValues = m_count == 0 || d.increment != m_lastIncrement || d.interval != m_lastInterval;
    *p++ = static_cast<char>((newValues ? NewValues : 0) | (d.start.valid ? StartValid : 0) | (events ? HasEvents : 0));
    if (newValues) {
        p = putSigned(p, d.increment);
        p = putSigned(p, d.interval);
        m_lastIncrement = d.increment;
        m_lastInterval = d.interval;
    }
    p = putSigned(p, minus(d.syncId, m_lastSyncId));
    m_lastSyncId = d.syncId;
    p = putSigned(p, d.lag);
    p = putSigned(p, d.secs);
    p = putSigned(p, d.objects);
    if (d.start.valid) {
        p = putSigned(p, minus(d.start.secs, m_lastStart));
        m_lastStart = d.start.secs;
    }
    if (events) {
        for (int k = 0; k < 3; ++k) {
            p = putVarint(p, static_cast<quint32>(d.events[k]));
            if (d.events[k] > 0) {
                *p++ = static_cast<char>(d.eventTimes[k].valid ? 1 : 0);
                if (d.eventTimes[k].valid)
                    p = putSigned(p, minus(d.eventTimes[k].secs, m_lastStart));
            }
        }
    }
    m_used += p - record;
    ++m_count;
    if (m_used >= m_blockBytes)
        flush();
}

void RunSpill::flush()
{
    if (m_used == 0)
        return;
    if (!writeToFile(m_block.data(), m_used))
        m_memoryBlocks.append(QByteArray(m_block.data(), m_used)); // no temporary space: kept in memory, still whole
    m_used = 0;
}

bool RunSpill::writeToFile(const char* data, qsizetype blockSize)
{
    // Once a block could not be written, every later one stays in memory so that the order is kept.
    if (m_fileFailed)
        return false;
    if (!m_file) {
        m_file = m_template.isEmpty() ? std::make_unique<QTemporaryFile>() : std::make_unique<QTemporaryFile>(m_template);
        if (!m_file->open()) {
            m_fileFailed = true;
            m_file.reset();
            return false;
        }
    }
    const quint32 size = qToLittleEndian(static_cast<quint32>(blockSize));
    if (m_file->write(reinterpret_cast<const char*>(&size), sizeof size) != sizeof size ||
        m_file->write(data, blockSize) != blockSize || !m_file->flush()) {
        m_file->resize(m_fileBytes); // drop a partly written block
        m_file->seek(m_fileBytes);
        m_fileFailed = true;
        return false;
    }
    m_fileBytes += static_cast<qint64>(sizeof size) + blockSize;
    ++m_fileBlocks;
    return true;
}

Result<void> RunSpill::forEach(const std::function<bool(const RunDigest&)>& f)
{
    DecodeState state;
    RunDigest d;
    qint64 seen = 0;
    auto fail = [](const QString& why) { return Result<void>(FwError{75, why}); };
    // False: f asked to stop, or the block is unreadable (`bad` says which).
    auto readBytes = [&](const char* begin, const char* end, bool& bad) {
        Reader in(begin, end);
        while (!in.atEnd()) {
            if (!decode(in, state, d)) {
                bad = true;
                return false;
            }
            ++seen;
            if (!f(d))
                return false;
        }
        return true;
    };
    auto readBlock = [&](const QByteArray& block, bool& bad) {
        return readBytes(block.constData(), block.constData() + block.size(), bad);
    };

    bool bad = false;
    if (m_fileBlocks > 0) {
        QFile& in = *m_file;
        if (!in.seek(0))
            return fail(QStringLiteral("The runs read could not be read back from %1: %2").arg(in.fileName(), in.errorString()));
        QByteArray block;
        for (qint64 b = 0; b < m_fileBlocks; ++b) {
            quint32 size = 0;
            if (in.read(reinterpret_cast<char*>(&size), sizeof size) != sizeof size)
                return fail(QStringLiteral("The runs read could not be read back from %1: it ends early").arg(in.fileName()));
            size = qFromLittleEndian(size);
            block = in.read(size);
            if (block.size() != static_cast<qsizetype>(size))
                return fail(QStringLiteral("The runs read could not be read back from %1: it ends early").arg(in.fileName()));
            if (!readBlock(block, bad))
                return bad ? fail(
                                 QStringLiteral("The runs read could not be read back from %1: it is damaged").arg(in.fileName()))
                           : Result<void>::success();
        }
        in.seek(m_fileBytes);
    }
    for (const QByteArray& block : m_memoryBlocks)
        if (!readBlock(block, bad))
            return bad ? fail(QStringLiteral("The runs read could not be read back: the kept copy is damaged"))
                       : Result<void>::success();
    if (!readBytes(m_block.data(), m_block.data() + m_used, bad))
        return bad ? fail(QStringLiteral("The runs read could not be read back: the kept copy is damaged"))
                   : Result<void>::success();
    if (seen != m_count)
        return fail(QStringLiteral("The runs read could not be read back whole: %1 of %2").arg(seen).arg(m_count));
    return Result<void>::success();
}

} // namespace fw
