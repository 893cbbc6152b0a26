#pragma once
#include "history/HistorySource.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace fw {

// Reads a cursor's result sets ahead, on the thread that owns its connection, for a walk that forms the points on
// another thread: reading the rows (the driver's values, the times) and forming the points then take about as
// long as the reading alone. The walk's side, cursor(), hands the rows over in the order the source gives them.
//
//   CursorPump pump(source);
//   std::thread walk([&] { walker.run(pump.cursor()); pump.finished(); });
//   pump.run(); // until the walk has finished or every result set has ended
//   walk.join();
class CursorPump {
public:
    explicit CursorPump(HistoryCursor& source);
    CursorPump(const CursorPump&) = delete;
    CursorPump& operator=(const CursorPump&) = delete;

    // The walk's side. Its failures() are the source's, to be read once run() has returned.
    HistoryCursor& cursor() { return m_front; }
    // Reads ahead on this thread; returns when the walk has finished or the source has no rows left.
    void run();
    // Called by the walk's thread when it reads no more.
    void finished();

private:
    enum Stream { Runs, Totals, Domains, StreamCount };

    template <typename Row>
    struct Queue {
        std::deque<std::vector<Row>> batches; // read, not yet handed over
        bool ended = false;                   // the source has no more rows of this kind
    };

    // The walk's side: the rows of the batch taken last, then the next batch from the queue.
    class Front final : public HistoryCursor {
    public:
        explicit Front(CursorPump& pump) : m_pump(pump) {}
        bool nextRun(HistoryRunRow& row) override;
        bool nextTotal(HistoryTotalRow& row) override;
        bool nextDomain(HistoryDomainRow& row) override;
        QList<HistoryQueryFailure> failures() const override;

    private:
        CursorPump& m_pump;
        std::vector<HistoryRunRow> m_runs;
        std::vector<HistoryTotalRow> m_totals;
        std::vector<HistoryDomainRow> m_domains;
        size_t m_runAt = 0, m_totalAt = 0, m_domainAt = 0;
    };

    template <typename Row>
    bool take(Queue<Row>& queue, std::vector<Row>& batch, size_t& at, Stream stream, Row& row);
    template <typename Row, typename Read>
    void fill(Queue<Row>& queue, Read read);
    bool wanted(Stream s) const;

    HistoryCursor& m_source;
    Front m_front{*this};
    std::mutex m_mutex;
    std::condition_variable m_readMore; // the pump waits here for room or for the walk to want a stream
    std::condition_variable m_rowsIn;   // the walk waits here for rows
    Queue<HistoryRunRow> m_runs;
    Queue<HistoryTotalRow> m_totals;
    Queue<HistoryDomainRow> m_domains;
    int m_waitingFor = -1; // the stream the walk waits for, -1: none
    bool m_walkDone = false;
};

} // namespace fw
