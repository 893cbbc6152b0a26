#include "db/SessionThread.h"

#include "platform/LeftThreads.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace fw {

struct SessionThread::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    bool stop = false;
    bool busy = false; // a job is running
    std::atomic_bool ended{false};
};

SessionThread::SessionThread() : m_shared(std::make_shared<Shared>())
{
    m_worker = std::thread([shared = m_shared] {
        {
            DatabaseSession session; // opened, used and closed on this thread only
            for (;;) {
                Job job;
                {
                    std::unique_lock lock(shared->mutex);
                    shared->busy = false;
                    shared->wake.wait(lock, [&] { return shared->stop || !shared->jobs.empty(); });
                    if (shared->stop)
                        break;
                    job = std::move(shared->jobs.front());
                    shared->jobs.pop_front();
                    shared->busy = true;
                }
                session.startOperation();
                job(session);
            }
        }
        shared->ended.store(true);
    });
}

SessionThread::~SessionThread()
{
    bool busy = false;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stop = true;
        m_shared->jobs.clear();
        busy = m_shared->busy;
    }
    m_shared->wake.notify_one();
    if (!busy) {
        m_worker.join(); // it only closes its connection, and nothing may outlive what it uses
        return;
    }
    // A job stalled on a server must not hold up the window or the program's end (endProgram).
    LeftThreads::leave(std::move(m_worker), std::shared_ptr<const std::atomic_bool>(m_shared, &m_shared->ended));
}

void SessionThread::post(Job job)
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->jobs.push_back(std::move(job));
    }
    m_shared->wake.notify_one();
}

} // namespace fw
