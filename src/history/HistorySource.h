#pragma once
#include "db/WallTime.h"
#include "history/HistoryPoint.h"
#include "log/Result.h"
#include "monitor/SyncSide.h"

#include <QString>
#include <QVariantList>
#include <memory>

namespace fw {

class Database;
class SqlDialect;

// A failed query of the load: the statement (the error report's "line") and the error.
struct HistoryQueryFailure {
    int line = 0;
    FwError error;
};

// One row of the run list.
struct HistoryRunRow {
    qint64 syncId = 0;
    qint32 increment = 0;
    qint32 interval = 0;
    qint64 lag = 0; // DC: the sum of the domains' USN lags; GC: the run's own USN lag
    bool lagNull = false;
    WallTime start;
    WallTime end;
    QString server;        // GC only
    qint16 eventFlags = 0; // GC only
    // Values of the row that could not be read, in column order, with the line the error report names; such a
    // value keeps what the row held before (lag: 0, times: invalid).
    QList<HistoryQueryFailure> faults;
    bool timeFaulted = false; // a time's failure is among the faults
};

// One row of the object totals.
struct HistoryTotalRow {
    qint64 syncId = 0;
    qint64 total = 0;
    bool totalNull = false;
    QList<HistoryQueryFailure> faults;
};

// One domain row of a DC run.
struct HistoryDomainRow {
    qint64 syncId = 0;
    QString domain;
    QString server;
    qint16 eventFlags = 0;
    QVariant start; // parsed only when an event needs it
    QList<HistoryQueryFailure> faults;
};

// The three result sets of one walk, read forward only.
class HistoryCursor {
public:
    virtual ~HistoryCursor() = default;
    virtual bool nextRun(HistoryRunRow& row) = 0;
    virtual bool nextTotal(HistoryTotalRow& row) = 0;
    virtual bool nextDomain(HistoryDomainRow& row) = 0; // always false on the GC side
    // Queries whose reading failed part way (each then reads as ended): what was read of them is not the history.
    virtual QList<HistoryQueryFailure> failures() const { return {}; }
};

// Where the history of one side comes from: the counts, and the result sets to walk.
class HistorySource {
public:
    struct Counts {
        double totalRows = 0; // finished runs
        qint64 distinctIncrements = 0;
        qint64 distinctIntervals = 0;
        qint64 lastSyncId = 0; // the highest SyncId of a finished run counted (0: none)
    };
    // A failure of one query of the counts or the walk.
    using CountFailure = HistoryQueryFailure;

    virtual ~HistorySource() = default;
    virtual SyncSide side() const = 0;
    // The walk read between these agrees with the counts, whatever is written meanwhile.
    virtual Result<void> beginSnapshot() { return Result<void>::success(); }
    virtual void endSnapshot() {}
    // Runs the three count queries; each failure is returned and leaves its value at 0.
    virtual QList<CountFailure> counts(Counts& out) = 0;
    // Runs the three walked queries, the run list ending at the last run counted. A failing query is returned in
    // `failures` and walks as empty.
    virtual std::unique_ptr<HistoryCursor> open(QList<CountFailure>& failures) = 0;
};

// The history tables of a Velmora database.
class SqlHistorySource final : public HistorySource {
public:
    SqlHistorySource(Database& db, SyncSide side) : m_db(db), m_side(side) {}
    SyncSide side() const override { return m_side; }
    Result<void> beginSnapshot() override;
    void endSnapshot() override;
    QList<CountFailure> counts(Counts& out) override;
    std::unique_ptr<HistoryCursor> open(QList<CountFailure>& failures) override;

    // The statements, for the benchmark that only steps through them.
    static QString countsSql(SyncSide side);
    static QString runListSql(SyncSide side, const SqlDialect& dialect);
    static QVariantList runListBinds(SyncSide side, qint64 lastSyncId);
    static QString totalsSql(SyncSide side, const SqlDialect& dialect);
    static QString domainSql();

private:
    Database& m_db;
    SyncSide m_side;
    qint64 m_lastSyncId = 0; // of the last counts
    bool m_inTransaction = false;
};

} // namespace fw
