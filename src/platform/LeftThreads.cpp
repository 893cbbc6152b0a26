#include "platform/LeftThreads.h"

#include <cstdio>
#include <cstdlib>
#include <list>
#include <mutex>

namespace fw {
namespace {

struct Registry {
    std::mutex mutex;
    std::list<std::function<bool()>> left;
};

// Never destroyed: the threads it holds may outlive every destructor.
Registry& registry()
{
    static auto* r = new Registry;
    return *r;
}

} // namespace

void LeftThreads::leave(std::thread thread, std::shared_ptr<const std::atomic_bool> ended)
{
    // Joined only once it has ended, so that the join cannot wait.
    leave([thread = std::make_shared<std::thread>(std::move(thread)), ended = std::move(ended)] {
        if (!ended->load())
            return false;
        if (thread->joinable())
            thread->join();
        return true;
    });
}

void LeftThreads::leave(std::function<bool()> ended)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    // Those that ended meanwhile go, so that a long-running server does not collect them.
    r.left.remove_if([](const std::function<bool()>& e) { return e(); });
    r.left.push_back(std::move(ended));
}

bool LeftThreads::anyRunning()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.left.remove_if([](const std::function<bool()>& e) { return e(); });
    return !r.left.empty();
}

int endProgram(int status)
{
    if (!LeftThreads::anyRunning())
        return status;
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

} // namespace fw
