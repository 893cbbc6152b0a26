#include "db/Database.h"

#include <gtest/gtest.h>

using namespace fw;

// A statement waits for what is left of the operation's budget, less half a second for the driver's cancel, in the
// driver's whole seconds and never less than one; a time-out names the seconds waited.
TEST(StatementBudget, WhatIsLeftLessTheCancelsMarginInWholeSeconds)
{
    const struct {
        qint64 leftMs;
        int seconds;
    } cases[] = {{5000, 4}, {4600, 4}, {4499, 3}, {2600, 2}, {1500, 1}, {1499, 1}, {300, 1}, {0, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(Database::statementLimitSeconds(c.leftMs), c.seconds) << c.leftMs << " ms left";

    EXPECT_EQ(Database::noAnswerText(1), "The database server did not answer within 1 second");
    EXPECT_EQ(Database::noAnswerText(3), "The database server did not answer within 3 seconds");
}
