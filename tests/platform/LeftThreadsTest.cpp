#include "platform/LeftThreads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

using fw::LeftThreads;

// A program that gave up on a thread still running ends at once with its status, its output flushed, and runs no
// exit handler or destructor under that thread; once every thread left behind has ended, it ends the ordinary way.
// An exit handler that runs turns the status into 7.
TEST(LeftThreads, TheProgramEndsAtOnceOnlyWhileAThreadLeftBehindStillRuns)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atexit([] { std::_Exit(7); });
            LeftThreads::leave(std::thread([] { std::this_thread::sleep_for(std::chrono::hours(1)); }),
                               std::make_shared<std::atomic_bool>(false));
            static char buffer[256];
            std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
            std::fputs("the answer\n", stderr);
            std::exit(fw::endProgram(3));
        },
        testing::ExitedWithCode(3), "the answer");
    EXPECT_EXIT(
        {
            std::atexit([] { std::_Exit(7); });
            auto ended = std::make_shared<std::atomic_bool>(false);
            std::thread done([ended] { ended->store(true); });
            while (!ended->load())
                std::this_thread::yield();
            LeftThreads::leave(std::move(done), ended);
            std::exit(fw::endProgram(3));
        },
        testing::ExitedWithCode(7), "");
}
