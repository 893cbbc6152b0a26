#include "history/CursorPump.h"

namespace fw {

namespace {
constexpr size_t kBatchRows = 1024;
constexpr size_t kBatchesAhead = 4; // per result set: memory stays small however long the history
} // namespace

CursorPump::CursorPump(HistoryCursor& source) : m_source(source) {}

void CursorPump::finished()
{
    std::lock_guard lock(m_mutex);
    m_walkDone = true;
    m_readMore.notify_one();
}

bool CursorPump::wanted(Stream s) const
{
    switch (s) {
    case Runs: return !m_runs.ended && m_runs.batches.size() < kBatchesAhead;
    case Totals: return !m_totals.ended && m_totals.batches.size() < kBatchesAhead;
    case Domains: return !m_domains.ended && m_domains.batches.size() < kBatchesAhead;
    default: return false;
    }
}

template <typename Row>
bool CursorPump::take(Queue<Row>& queue, std::vector<Row>& batch, size_t& at, Stream stream, Row& row)
{
    if (at == batch.size()) {
        std::unique_lock lock(m_mutex);
        if (queue.batches.empty()) {
            m_waitingFor = stream;
            m_readMore.notify_one();
            m_rowsIn.wait(lock, [&] { return !queue.batches.empty() || queue.ended; });
            m_waitingFor = -1;
        }
        if (queue.batches.empty())
            return false;
        batch = std::move(queue.batches.front());
        queue.batches.pop_front();
        at = 0;
        m_readMore.notify_one(); // room for another batch
    }
    row = std::move(batch[at++]);
    return true;
}

template <typename Row, typename Read>
void CursorPump::fill(Queue<Row>& queue, Read read)
{
    // Read without the lock: the walk goes on with the batches it has meanwhile.
    std::vector<Row> batch(kBatchRows);
    size_t n = 0;
    while (n < kBatchRows && read(batch[n]))
        ++n;
    batch.resize(n);
    std::lock_guard lock(m_mutex);
    if (n > 0)
        queue.batches.push_back(std::move(batch));
    queue.ended = n < kBatchRows;
    m_rowsIn.notify_one();
}

bool CursorPump::Front::nextRun(HistoryRunRow& row)
{
    return m_pump.take(m_pump.m_runs, m_runs, m_runAt, Runs, row);
}

bool CursorPump::Front::nextTotal(HistoryTotalRow& row)
{
    return m_pump.take(m_pump.m_totals, m_totals, m_totalAt, Totals, row);
}

bool CursorPump::Front::nextDomain(HistoryDomainRow& row)
{
    return m_pump.take(m_pump.m_domains, m_domains, m_domainAt, Domains, row);
}

QList<HistoryQueryFailure> CursorPump::Front::failures() const
{
    return m_pump.m_source.failures();
}

void CursorPump::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_walkDone || (m_runs.ended && m_totals.ended && m_domains.ended))
            return;
        // The result set the walk waits for first, then any with room, in the order the walk reads them.
        int next = m_waitingFor >= 0 && wanted(static_cast<Stream>(m_waitingFor)) ? m_waitingFor : -1;
        for (int s = Runs; next < 0 && s < StreamCount; ++s)
            if (wanted(static_cast<Stream>(s)))
                next = s;
        if (next < 0) {
            m_readMore.wait(lock);
            continue;
        }
        lock.unlock();
        if (next == Runs)
            fill(m_runs, [this](HistoryRunRow& r) { return m_source.nextRun(r); });
        else if (next == Totals)
            fill(m_totals, [this](HistoryTotalRow& r) { return m_source.nextTotal(r); });
        else
            fill(m_domains, [this](HistoryDomainRow& r) { return m_source.nextDomain(r); });
        lock.lock();
    }
}

} // namespace fw
