#pragma once
#include "db/WallTime.h"
#include "log/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryFile>
#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace fw {

// What one finished run adds to the point it falls in, once its object totals and domain rows are merged in.
// The point forming needs nothing else of the run, so a group size can be formed again from these alone.
struct RunDigest {
    qint64 syncId = 0;
    qint32 increment = 0;
    qint32 interval = 0;
    qint64 lag = 0;     // 0 where the lag was null
    qint64 secs = 0;    // 0 where a time was null
    qint64 objects = 0; // 0 without totals
    WallTime start;
    std::array<qint32, 3> events{};       // errors, total resynchronisations, server changes
    std::array<WallTime, 3> eventTimes{}; // the first of each kind in the run

    bool operator==(const RunDigest& o) const;
};

// The digests of one walk in read order, so that group sizes the walk did not form can be formed afterwards
// without reading the database again. Compactly encoded (about 15 bytes a run); past a block they go to a
// temporary file, so memory stays flat however many runs are read.
class RunSpill {
public:
    // `fileTemplate`: where the temporary file goes (QTemporaryFile's template); empty: the system's temporary folder.
    explicit RunSpill(QString fileTemplate = {});
    ~RunSpill();
    RunSpill(const RunSpill&) = delete;
    RunSpill& operator=(const RunSpill&) = delete;

    void append(const RunDigest& d);
    qint64 size() const { return m_count; }

    // Hands every digest to `f` in order; stops early (a success) when `f` returns false. Fails with 75 and the
    // file's own reason when the kept digests cannot be read back whole.
    Result<void> forEach(const std::function<bool(const RunDigest&)>& f);

    // The block size past which digests leave memory (tests lower it).
    void setBlockBytes(qsizetype bytes);
    bool spilled() const { return m_fileBlocks > 0; }

private:
    void flush();
    bool writeToFile(const char* data, qsizetype size);

    QString m_template;
    std::vector<char> m_block; // the block being filled, with room for one more record past m_blockBytes
    qsizetype m_used = 0;
    QList<QByteArray> m_memoryBlocks; // full blocks kept in memory where the temporary file failed
    std::unique_ptr<QTemporaryFile> m_file;
    bool m_fileFailed = false;
    qint64 m_fileBlocks = 0;
    qint64 m_fileBytes = 0;
    qint64 m_count = 0;
    qsizetype m_blockBytes = 1 << 18;
    // The previous digest written, for the deltas.
    qint64 m_lastSyncId = 0;
    qint64 m_lastStart = 0;
    qint32 m_lastIncrement = 0;
    qint32 m_lastInterval = 0;
};

} // namespace fw
