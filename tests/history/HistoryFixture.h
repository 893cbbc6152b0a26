#pragma once
// A history database filled with exactly the given runs, and a context to build its points in, with the walks counted.
#include "ReferenceHistory.h"
#include "support/TestContext.h"
#include "support/TestEngine.h"

#include "db/Database.h"
#include "history/HistoryBuilder.h"

#include <QDateTime>
#include <QDir>
#include <atomic>
#include <functional>
#include <optional>

namespace fw::test {

struct DomainRowSpec {
    QString domain;
    QString server;
    qint64 lag = 0;
    int flags = 0;
};

// One run as the history tables hold it. DC runs carry domain rows, GC runs their own server, lag and flags.
struct RunSpec {
    qint64 id = 0;
    qint32 increment = 500;
    qint32 interval = 15;
    QDateTime start{};
    int seconds = 60;
    bool active = false;
    bool nullEnd = false;
    QList<DomainRowSpec> domains{}; // DC
    std::optional<qint64> objects;  // one object row with this count (Domain of the first domain, or 'GC')
    bool nullObjects = false;       // an object row whose Count is null
    QString server{};               // GC
    qint64 lag = 0;                 // GC
    int flags = 0;                  // GC
};

// A VelmoraDb made from the schema (SQLite: DIR/VelmoraDb.sqlite) and filled with exactly the given history rows.
class HistoryDb {
public:
    HistoryDb(const QString& dir, Engine engine);
    // False when the database could not be made (the case has failed, saying why): a case then stops before db().
    bool ready() const { return m_db != nullptr; }
    Database& db() { return *m_db; }
    QString connectionString() const { return m_fresh.connectionString(); }

    void add(SyncSide side, const QList<RunSpec>& runs);
    void addObjectRow(qint64 syncId, const QString& domain, qint64 count);
    void addDomainRow(qint64 syncId, const DomainRowSpec& d, const QDateTime& start);

private:
    EngineDatabase m_fresh;
    std::unique_ptr<Database> m_db;
};

// A DC run with one domain ("corp.example.com" on dc01) and the given lag, started minutes after a fixed time.
RunSpec dcRun(qint64 id, qint64 lag = 100, qint32 increment = 500, qint32 interval = 15);
RunSpec gcRun(qint64 id, const QString& server = QStringLiteral("gc01"), qint64 lag = 100, qint32 increment = 500,
              qint32 interval = 15);
QDateTime baseTime();
// Runs 1 to n, run i made by make(i).
QList<RunSpec> numberedRuns(int n, const std::function<RunSpec(int)>& make);

// Random histories for comparing the streaming walk with the written loop.
struct GeneratorSpec {
    quint32 seed = 1;
    int runs = 500;
    int changes = 5;
    int distinctIncrements = 3;
    int distinctIntervals = 2;
    bool oddities = true; // mismatched object and domain rows, runs without domain rows, null ends and totals
};
void generateHistory(const GeneratorSpec& spec, SyncSide side, HistoryDb& db);

// What a load did with its result sets.
struct WalkTally {
    int opened = 0;            // how often they were opened: one walk
    qint64 readsElsewhere = 0; // rows read on a thread other than the one that opened them (the connection's)
};

// Counts the openings of the result sets and the rows read off the connection's thread, where only the cursor
// pump may read them.
class CountingSource final : public HistorySource {
public:
    explicit CountingSource(HistorySource& inner) : m_inner(inner) {}
    SyncSide side() const override { return m_inner.side(); }
    Result<void> beginSnapshot() override { return m_inner.beginSnapshot(); }
    void endSnapshot() override { m_inner.endSnapshot(); }
    QList<CountFailure> counts(Counts& out) override
    {
        auto failures = m_inner.counts(out);
        if (afterCounts)
            afterCounts();
        return failures;
    }
    std::unique_ptr<HistoryCursor> open(QList<CountFailure>& f) override;
    WalkTally tally() const { return {m_opened, m_readsElsewhere}; }
    std::function<void()> afterCounts; // what happens in the database between the counts and the walk

private:
    HistorySource& m_inner;
    int m_opened = 0;
    std::atomic<qint64> m_readsElsewhere{0};
};

struct BuilderHarness {
    explicit BuilderHarness(Engine engine = Engine::Sqlite) : db(tc.dir(), engine) {}
    TestContext tc;
    HistoryDb db;

    HistoryResult build(SyncSide side, qint16 factor, WalkTally* tally = nullptr, int retries = 16, int window = 32)
    {
        (side == SyncSide::DC ? tc.ctx().dcSafetyFactor : tc.ctx().gcSafetyFactor) = factor;
        SqlHistorySource sql(db.db(), side);
        CountingSource counting(sql);
        HistoryBuilder b(tc.ctx(), side);
        b.setTracking(retries, window);
        HistoryResult r = b.BuildHistoryPoints(counting);
        if (tally)
            *tally = counting.tally();
        return r;
    }
    ReferenceHistory reference(SyncSide side)
    {
        SqlHistorySource sql(db.db(), side);
        return ReferenceHistory(sql, tc.ctx().traceSetting > 0);
    }
};

} // namespace fw::test
