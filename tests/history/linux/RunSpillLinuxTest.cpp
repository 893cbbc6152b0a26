// What a history walk keeps for later (the runs, for forming other group sizes; the per-run lines, for every
// pass that writes them): read back whole and in order, from memory, from the temporary file, and without
// temporary space.
#include "history/HistoryWalk.h"
#include "history/RunSpill.h"
#include "support/linux/FileSizeLimitLinux.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <limits>
#include <optional>
#include <random>

using namespace fw;
using fw::test::FileSizeLimit;

namespace {

// Digests with the awkward values too: extreme and negative numbers, missing times, events with and without times.
QList<RunDigest> digests(int n)
{
    std::mt19937 rnd(7);
    QList<RunDigest> out;
    qint64 id = 1000;
    qint64 t = 1'100'000'000;
    for (int i = 0; i < n; ++i) {
        RunDigest d;
        id += 1 + static_cast<qint64>(rnd() % 5);
        t += 900 + static_cast<qint64>(rnd() % 60);
        d.syncId = i == 7 ? std::numeric_limits<qint64>::min() : i == 8 ? std::numeric_limits<qint64>::max() : id;
        d.increment = i % 500 < 250 ? 500 : -3;
        d.interval = i % 300 < 200 ? 15 : std::numeric_limits<qint32>::max();
        d.lag = static_cast<qint64>(rnd() % 100000) - (i % 11 == 0 ? 5000000000LL : 0);
        d.secs = static_cast<qint64>(rnd() % 600);
        d.objects = i == 9 ? std::numeric_limits<qint64>::min() : static_cast<qint64>(rnd() % 3000);
        if (i % 13 != 5)
            d.start = {i == 10 ? -62135596800LL : t, true};
        if (i % 17 == 0) {
            d.events = {3, 0, 1};
            d.eventTimes[0] = {t + 30, true};
            d.eventTimes[2] = d.start;
        }
        if (i % 19 == 0)
            d.events[1] = 2; // its time unreadable
        out.append(d);
    }
    return out;
}

// Reads the spill back: exactly `want`, in order.
void expectReadBack(RunSpill& spill, const QList<RunDigest>& want)
{
    QList<RunDigest> got;
    const Result<void> read = spill.forEach([&](const RunDigest& d) {
        got.append(d);
        return true;
    });
    EXPECT_TRUE(read.ok()) << read.error().description.toStdString();
    ASSERT_EQ(got.size(), want.size());
    for (qsizetype i = 0; i < want.size(); ++i)
        ASSERT_TRUE(got[i] == want[i]) << "digest " << i;
}

// `n` lines numbered from 0, every seventh an error.
void fill(WalkLineSpool& spool, qint64 n)
{
    for (qint64 i = 0; i < n; ++i)
        spool.append({i, i % 7 ? WalkLine::Kind::Log : WalkLine::Kind::Error, QStringLiteral("line %1").arg(i), 94, 230});
}

// Reads the spool back: exactly the lines of fill(n), in order.
void expectFilled(WalkLineSpool& spool, qint64 n)
{
    qint64 next = 0;
    bool inOrder = true;
    const Result<void> read = spool.forEach([&](const WalkLine& l) {
        inOrder = inOrder && l.ordinal == next && l.text == QStringLiteral("line %1").arg(next) &&
                  (l.kind == WalkLine::Kind::Error) == (next % 7 == 0) && l.number == 94 && l.line == 230;
        ++next;
    });
    EXPECT_TRUE(read.ok()) << read.error().description.toStdString();
    EXPECT_EQ(next, n);
    EXPECT_TRUE(inOrder);
}

} // namespace

// Whole and in order wherever the runs are kept: in memory, in the file, in both when the disk fills part way (and is
// still full when they are read back), and in memory without temporary space rather than lost.
TEST(RunSpill, ReadsBackWholeWhereverTheyAreKept)
{
    const QList<RunDigest> want = digests(5000);
    QTemporaryDir dir;
    const struct {
        const char* name;
        qsizetype block;
        QString fileTemplate; // empty: the default one
        rlim_t fileSizeLimit; // 0: none
        bool spilled;
    } cases[] = {
        {"in memory", qsizetype(1) << 20, {}, 0, false},
        {"in the file", 512, {}, 0, true},
        {"disk full part way", 4096, {}, 3 * 4096, true},
        {"no temporary space", 300, dir.filePath(QStringLiteral("missing/runs-XXXXXX")), 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<FileSizeLimit> full;
        if (c.fileSizeLimit)
            full.emplace(c.fileSizeLimit);
        RunSpill spill(c.fileTemplate);
        spill.setBlockBytes(c.block);
        for (const RunDigest& d : want)
            spill.append(d);
        EXPECT_EQ(spill.spilled(), c.spilled);
        expectReadBack(spill, want);
        // Read again after more were added: still whole.
        spill.append(want.first());
        expectReadBack(spill, want + QList<RunDigest>{want.first()});
    }
}

TEST(RunSpill, StopsWhenAskedTo)
{
    RunSpill spill;
    spill.setBlockBytes(256);
    for (const RunDigest& d : digests(3000))
        spill.append(d);
    int seen = 0;
    const Result<void> read = spill.forEach([&](const RunDigest&) { return ++seen < 1200; });
    EXPECT_TRUE(read.ok());
    EXPECT_EQ(seen, 1200);
    EXPECT_FALSE(read.error().isError());
}

// Past a few thousand lines the spool moves them to its file; when the disk fills part way (the first few thousand
// fit), what came after stays in memory. Every pass reads them all back, in order.
TEST(WalkLineSpool, ManyLinesReadBackInOrderEveryTime)
{
    for (const rlim_t fileSizeLimit : {rlim_t(0), rlim_t(256 * 1024)}) {
        SCOPED_TRACE(fileSizeLimit);
        std::optional<FileSizeLimit> full;
        if (fileSizeLimit)
            full.emplace(fileSizeLimit);
        WalkLineSpool spool;
        fill(spool, 12000);
        expectFilled(spool, 12000);
        expectFilled(spool, 12000);
    }
}

// A file that lost its end (the disk, another program) is a failure to say, never a shorter list of lines.
TEST(WalkLineSpool, ATruncatedFileIsReportedNotReadShort)
{
    QTemporaryDir dir;
    WalkLineSpool spool(dir.filePath("spool-XXXXXX"));
    fill(spool, 10000);
    // The file may have no name in the folder (Linux's unnamed temporary files): reach it through its descriptor.
    QString spoolFile;
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget().startsWith(dir.path()))
            spoolFile = fd.filePath();
    ASSERT_FALSE(spoolFile.isEmpty());
    QFile f(spoolFile);
    ASSERT_TRUE(f.resize(f.size() / 2)) << f.errorString().toStdString();
    qint64 seen = 0;
    const Result<void> read = spool.forEach([&](const WalkLine&) { ++seen; });
    EXPECT_FALSE(read.ok());
    const QString error = read.error().description;
    EXPECT_TRUE(error.startsWith("The lines kept in " + dir.path())) << error.toStdString();
    EXPECT_LT(seen, 10000);
}
