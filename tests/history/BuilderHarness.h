#pragma once
// A history database and a context to build its points in, with the walks counted.
#include "HistoryFixture.h"
#include "ReferenceHistory.h"
#include "support/TestContext.h"

#include "history/HistoryBuilder.h"

#include <QDir>
#include <functional>

namespace fw::test {

// Counts how often the result sets are opened, to prove one walk.
class CountingSource final : public HistorySource {
public:
    explicit CountingSource(HistorySource& inner) : m_inner(inner) {}
    SyncSide side() const override { return m_inner.side(); }
    FwError beginSnapshot() override { return m_inner.beginSnapshot(); }
    void endSnapshot() override { m_inner.endSnapshot(); }
    QList<CountFailure> counts(Counts& out) override
    {
        auto failures = m_inner.counts(out);
        if (afterCounts)
            afterCounts();
        return failures;
    }
    std::unique_ptr<HistoryCursor> open(QList<CountFailure>& f) override { ++opened; return m_inner.open(f); }
    int opened = 0;
    std::function<void()> afterCounts; // what happens in the database between the counts and the walk

private:
    HistorySource& m_inner;
};

struct BuilderHarness {
    TestContext tc;
    std::unique_ptr<HistoryDb> db;
    BuilderHarness() { db = std::make_unique<HistoryDb>(QDir(tc.dir()).filePath(QStringLiteral("h.sqlite"))); }

    HistoryResult build(SyncSide side, qint16 factor, int* walks = nullptr, int retries = 16, int window = 32)
    {
        (side == SyncSide::DC ? tc.ctx().dcSafetyFactor : tc.ctx().gcSafetyFactor) = factor;
        SqlHistorySource sql(db->db(), side);
        CountingSource counting(sql);
        HistoryBuilder b(tc.ctx(), side);
        b.setTracking(retries, window);
        HistoryResult r = b.BuildHistoryPoints(counting);
        if (walks)
            *walks = counting.opened;
        return r;
    }
    void add(SyncSide side, const QList<RunSpec>& runs) { side == SyncSide::DC ? db->addDc(runs) : db->addGc(runs); }
    ReferenceHistory reference(SyncSide side)
    {
        SqlHistorySource sql(db->db(), side);
        return ReferenceHistory(sql, tc.ctx().traceSetting > 0);
    }
};

} // namespace fw::test
