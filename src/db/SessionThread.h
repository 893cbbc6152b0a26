#pragma once
#include "db/DatabaseSession.h"

#include <functional>
#include <memory>
#include <thread>

namespace fw {

// A thread of its own that keeps one database connection (DatabaseSession) between the jobs it runs, one after the
// other: a window's reads off its GUI thread cost one login for the window's life, not one per refresh. Each job is
// one operation of the session (its own wait budget). A connection is bound to the thread that opened it, so the
// session is only ever touched on this thread.
class SessionThread {
public:
    using Job = std::function<void(DatabaseSession&)>;
    SessionThread();
    // Runs no further job. An idle thread is waited for while it closes its connection; one still in a job is left
    // to end on its own (LeftThreads), its connection with it.
    ~SessionThread();
    SessionThread(const SessionThread&) = delete;
    SessionThread& operator=(const SessionThread&) = delete;

    // Queues `job`, to run after the jobs queued before it.
    void post(Job job);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::thread m_worker;
};

} // namespace fw
