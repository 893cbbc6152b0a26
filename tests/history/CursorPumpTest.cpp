// The rows a walk reads on its own thread while the connection's thread reads ahead: whole, in order, whatever
// the walk's order of asking; a walk that stops early stops the reading.
#include "history/CursorPump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace fw;

namespace {

// Rows numbered 1..n of each kind; a run's server names its number. Counts what was read of it.
class NumberedCursor final : public HistoryCursor {
public:
    NumberedCursor(qint64 runs, qint64 totals, qint64 domains) : m_n{runs, totals, domains} {}
    bool nextRun(HistoryRunRow& r) override
    {
        if (m_read[0] == m_n[0])
            return false;
        r.syncId = ++m_read[0];
        r.server = QStringLiteral("gc%1").arg(r.syncId);
        return true;
    }
    bool nextTotal(HistoryTotalRow& r) override { return next(1, r.syncId); }
    bool nextDomain(HistoryDomainRow& r) override { return next(2, r.syncId); }
    qint64 read(int kind) const { return m_read[kind]; }

private:
    bool next(int kind, qint64& id)
    {
        if (m_read[kind] == m_n[kind])
            return false;
        id = ++m_read[kind];
        return true;
    }
    qint64 m_n[3];
    std::atomic<qint64> m_read[3]{0, 0, 0};
};

} // namespace

TEST(CursorPump, EveryRowArrivesInOrderWhateverTheWalkAsksFor)
{
    // Around the batch size, and a walk that reads the three kinds at different paces.
    for (const qint64 n : {0, 1, 1023, 1024, 1025, 9000}) {
        NumberedCursor source(n, n / 3, n * 2);
        CursorPump pump(source);
        qint64 runs = 0, totals = 0, domains = 0;
        bool inOrder = true;
        std::thread walk([&] {
            HistoryCursor& c = pump.cursor();
            HistoryRunRow run;
            HistoryTotalRow total;
            HistoryDomainRow domain;
            while (c.nextRun(run)) {
                inOrder = inOrder && run.syncId == ++runs && run.server == QStringLiteral("gc%1").arg(runs);
                if (runs % 3 == 0 && c.nextTotal(total))
                    inOrder = inOrder && total.syncId == ++totals;
                for (int i = 0; i < 2 && c.nextDomain(domain); ++i)
                    inOrder = inOrder && domain.syncId == ++domains;
            }
            while (c.nextDomain(domain))
                inOrder = inOrder && domain.syncId == ++domains;
            pump.finished();
        });
        pump.run();
        walk.join();
        EXPECT_TRUE(inOrder) << n;
        EXPECT_EQ(runs, n);
        EXPECT_EQ(totals, n / 3);
        EXPECT_EQ(domains, n * 2);
    }
}

// A walk that stops (Cancel) ends the reading too, and the reading never runs far ahead of the walk.
TEST(CursorPump, AWalkThatStopsEndsTheReading)
{
    NumberedCursor source(1'000'000, 1'000'000, 0);
    CursorPump pump(source);
    std::thread walk([&] {
        HistoryRunRow run;
        for (int i = 0; i < 5000 && pump.cursor().nextRun(run); ++i) {
        }
        pump.finished();
    });
    pump.run();
    walk.join();
    EXPECT_LT(source.read(0), 5000 + 6 * 1024);
    EXPECT_LE(source.read(1), 6 * 1024); // asked for by no one: read ahead a little, then left
}
