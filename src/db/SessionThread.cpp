#include "db/SessionThread.h"

#include "platform/LeftThreads.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace fw {

struct SessionThread::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    bool stop = false;
};

SessionThread::SessionThread() : m_shared(std::make_shared<Shared>())
{
    auto ended = std::make_shared<std::atomic_bool>(false);
    std::thread worker([shared = m_shared, ended] {
        {
            DatabaseSession session; // opened, used and closed on this thread only
            for (;;) {
                Job job;
                {
                    std::unique_lock lock(shared->mutex);
                    shared->wake.wait(lock, [&] { return shared->stop || !shared->jobs.empty(); });
                    if (shared->stop)
                        break;
                    job = std::move(shared->jobs.front());
                    shared->jobs.pop_front();
                }
                session.startOperation();
                job(session);
            }
        }
        ended->store(true);
    });
    // Never waited for: a job stalled on a server must not hold up the window or the program's end (endProgram).
    LeftThreads::leave(std::move(worker), ended);
}

SessionThread::~SessionThread()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stop = true;
        m_shared->jobs.clear();
    }
    m_shared->wake.notify_one();
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
