#include "log/Result.h"

#include <gtest/gtest.h>

#include <memory>

using namespace fw;

// A failure reported without a number or a text must still read as a failure, never as a value or a success.
TEST(Result, AnEmptyErrorIsStillAFailure)
{
    const Result<int> value = FwError{};
    EXPECT_FALSE(value);
    EXPECT_EQ(value.error().number, 51);
    EXPECT_EQ(value.error().description, "Internal error");
    EXPECT_EQ(value.valueOr(7), 7);

    const Result<void> step = FwError{};
    EXPECT_FALSE(step);
    EXPECT_EQ(step.error().number, 51);

    // Only a driver's report, where empty means success, is read the other way.
    EXPECT_TRUE(Result<void>::of(FwError{}));
    EXPECT_EQ(Result<void>::of({3021, "gone"}).error().description, "gone");
}

TEST(Result, CarriesAMoveOnlyValueOrTheError)
{
    Result<std::unique_ptr<int>> made = std::make_unique<int>(5);
    ASSERT_TRUE(made);
    EXPECT_TRUE(made.error().description.isEmpty());
    const std::unique_ptr<int> taken = std::move(made).value();
    EXPECT_EQ(*taken, 5);

    const Result<std::unique_ptr<int>> failed = FwError{6, "Overflow"};
    EXPECT_FALSE(failed);
    EXPECT_EQ(failed.error().number, 6);
}
