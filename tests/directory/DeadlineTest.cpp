#include "directory/Deadline.h"

#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

using namespace fw;

namespace {

bool noneLeftWithin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (LeftThreads::anyRunning() && t.elapsed() < ms)
        QThread::msleep(5);
    return !LeftThreads::anyRunning();
}

} // namespace

// Work past the deadline is given up on: nothing comes back, and the program does not end under it until it has
// ended. Work done in time gives its answer and leaves nothing behind.
TEST(RunWithin, WorkPastTheDeadlineIsLeftBehindUntilItEnds)
{
    if (!noneLeftWithin(10000))
        GTEST_SKIP() << "a case before this one left a thread running";
    auto release = std::make_shared<std::atomic_bool>(false);
    const std::optional<int> late = runWithin<int>(Deadline(50), [release] {
        while (!release->load())
            QThread::msleep(5);
        return 1;
    });
    EXPECT_FALSE(late.has_value());
    EXPECT_TRUE(LeftThreads::anyRunning());
    release->store(true);
    EXPECT_TRUE(noneLeftWithin(2000));

    EXPECT_EQ(runWithin<int>(Deadline(2000), [] { return 2; }).value_or(0), 2);
    EXPECT_FALSE(LeftThreads::anyRunning());
}
