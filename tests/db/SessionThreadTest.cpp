// A window's reads off its GUI thread: one connection kept between them, on a thread of their own.
#include "db/SessionThread.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace fw;

namespace {

// Waits for a job's answer within a budget of its own; a job that never answers stops the case with the reason.
template <typename T>
T answer(std::future<T>& f)
{
    if (f.wait_for(std::chrono::seconds(60)) != std::future_status::ready)
        ADD_FAILURE() << "the job did not answer within 60 s";
    return f.get();
}

TEST(SessionThread, JobsRunInOrderOnOneThreadAndKeepTheirConnection)
{
    test::TestContext t;
    const QString cs = t.createEmptyDatabase();
    SessionThread reader;
    struct Seen {
        Database* db = nullptr;
        std::thread::id thread;
    };
    std::promise<Seen> first, second;
    std::future<Seen> firstSeen = first.get_future(), secondSeen = second.get_future();
    std::atomic_int order{0};
    reader.post([&](DatabaseSession& s) {
        EXPECT_EQ(order.fetch_add(1), 0);
        const Result<Database*> db = s.open(cs, Database::Access::ReadOnly);
        first.set_value({db ? *db : nullptr, std::this_thread::get_id()});
    });
    reader.post([&](DatabaseSession& s) {
        EXPECT_EQ(order.fetch_add(1), 1);
        const Result<Database*> db = s.open(cs, Database::Access::ReadOnly);
        second.set_value({db ? *db : nullptr, std::this_thread::get_id()});
    });
    const Seen a = answer(firstSeen);
    const Seen b = answer(secondSeen);
    ASSERT_NE(a.db, nullptr);
    EXPECT_EQ(a.db, b.db) << "the second read reuses the first one's connection";
    EXPECT_EQ(a.thread, b.thread);
    EXPECT_NE(a.thread, std::this_thread::get_id());
}

// A read stalled on its server holds up neither the window that goes nor the jobs it queued: they never run.
TEST(SessionThread, GoingDoesNotWaitForAStalledJobAndDropsTheQueuedOnes)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> started;
    std::future<void> isStarted = started.get_future();
    auto queuedRan = std::make_shared<std::atomic_bool>(false);
    auto reader = std::make_unique<SessionThread>();
    reader->post([&started, released](DatabaseSession&) {
        started.set_value();
        released.wait();
    });
    reader->post([queuedRan](DatabaseSession&) { queuedRan->store(true); });
    answer(isStarted);
    std::future<bool> gone = std::async(std::launch::async, [&reader] {
        reader.reset();
        return true;
    });
    const bool wentAtOnce = gone.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    release.set_value(); // lets a destructor that waited go, so that a failure ends the case
    EXPECT_TRUE(wentAtOnce) << "the destructor waited for the stalled job";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(queuedRan->load());
}

} // namespace
