#include "history/HistoryFormat.h"
#include "history/HistoryPlan.h"
#include "history/WheelSteps.h"
#include "log/NumberFormat.h"

#include <gtest/gtest.h>

using namespace fw;
namespace hf = fw::history_format;

TEST(HistoryFormat, RoundingHalvesToEven)
{
    EXPECT_EQ(hf::roundHalfEven(5, 2), 2);
    EXPECT_EQ(hf::roundHalfEven(7, 2), 4);
    EXPECT_EQ(hf::roundHalfEven(-5, 2), -2);
    EXPECT_EQ(hf::roundHalfEven(10, 3), 3);
    EXPECT_EQ(hf::roundHalfEven(1, 0), 0);
    EXPECT_DOUBLE_EQ(hf::roundHalfEvenTenths(1, 4), 0.2);   // 0.25
    EXPECT_DOUBLE_EQ(hf::roundHalfEvenTenths(7, 20), 0.4);  // 0.35
    EXPECT_DOUBLE_EQ(hf::roundHalfEvenTenths(29, 20), 1.4); // 1.45
    EXPECT_DOUBLE_EQ(hf::roundHalfEvenTenths(3, 2), 1.5);
}

TEST(HistoryFormat, PlainNumbersAndTimes)
{
    EXPECT_EQ(plainNumber(1994.0), QStringLiteral("1994"));
    EXPECT_EQ(plainNumber(1000000.0f), QStringLiteral("1000000"));
    EXPECT_EQ(plainNumber(0.2f), QStringLiteral("0.2"));
    EXPECT_EQ(plainNumber(1.5), QStringLiteral("1.5"));
    const QDateTime t(QDate(2005, 3, 14), QTime(9, 15, 0), Qt::UTC);
    EXPECT_EQ(hf::pointLabel(t), QStringLiteral("03/14/05 09:15"));
    EXPECT_EQ(hf::detailTime(t), QStringLiteral("2005-03-14 09:15:00"));
}

// The details table: counts alone when 0, with their first time (or old, new and time) otherwise.
TEST(HistoryFormat, DetailsTableTexts)
{
    HistoryPoint p;
    p.Label = QStringLiteral("03/14/05 09:15");
    p.ObjectsProcessed = 120;
    p.ElapsedSeconds = 33;
    p.LatencyMinutes = 1.5f;
    const auto c = hf::detailsFor(p, 4);
    EXPECT_EQ(c.rowOneCaption, QStringLiteral("03/14/05 09:15"));
    EXPECT_EQ(c.values, (QStringList{"5", "120", "33", "2", "0", "0", "0", "0", "0", "0"}));
    EXPECT_EQ(hf::detailsFor(p, 4, true).values[0], QStringLiteral("(5)"));

    const QDateTime t(QDate(2005, 3, 14), QTime(9, 15, 0), Qt::UTC);
    p.ErrorCount = 2;
    p.FirstErrorTime = t;
    p.NewIntervalCount = 1;
    p.OldInterval = 400;
    p.NewInterval = 500;
    p.IntervalChangeTime = t;
    EXPECT_EQ(hf::detailsFor(p, 0).values,
              (QStringList{"1", "120", "33", "2", "3", "2,2005-03-14 09:15:00", "0", "0", "0", "1,400,500,2005-03-14 09:15:00"}));
    EXPECT_EQ(hf::detailsCaptions().size(), 11);
    EXPECT_EQ(hf::detailsCaptions()[3], QStringLiteral("Elaped Time"));
}

// The loop's decisions from counts alone.
TEST(HistoryPlanFromCounts, RetriesAndFallback)
{
    HistoryPass p;
    ASSERT_TRUE(passFor(1993, 4, 2, p));
    EXPECT_EQ(p.budget, 1992);
    EXPECT_EQ(p.groupSize, 2);
    ASSERT_TRUE(passFor(1992, 4, 2, p));
    EXPECT_EQ(p.groupSize, 1);
    EXPECT_FALSE(passFor(10, 2, 1000, p)); // budget 0
    EXPECT_FALSE(passFor(1e7, 2, 999, p)); // group size past 16 bits

    SegmentCounts c;
    for (int i = 0; i < 16; ++i)
        c.add(6);
    c.add(4);
    EXPECT_EQ(c.pointsFor(5), 33);
    const HistoryPlan plan = planHistory(100, 3, 660, c);
    EXPECT_EQ(plan.outcome, HistoryPlan::Outcome::Accepted);
    EXPECT_EQ(plan.rejected, (QList<HistoryPass>{{660, 20, 5}}));
    EXPECT_EQ(plan.final, (HistoryPass{661, 17, 6}));

    // Never fits by raising: the smallest size under the starting budget, found from the counts.
    SegmentCounts many;
    for (int i = 0; i < 401; ++i)
        many.add(2493);
    const HistoryPlan big = planHistory(2493.0 * 401, 8, 2, many);
    EXPECT_EQ(big.outcome, HistoryPlan::Outcome::FittedAtStart);
    EXPECT_LE(many.pointsFor(big.final.groupSize), 1984);
    EXPECT_GT(many.pointsFor(big.final.groupSize - 1), 1984);
    EXPECT_EQ(big.final.factor, 2);
    EXPECT_TRUE(big.rejected.isEmpty());
    // And when even one point per stretch is too many, nothing fits.
    SegmentCounts tooMany;
    for (int i = 0; i < 1990; ++i)
        tooMany.add(3);
    EXPECT_EQ(planHistory(5970, 8, 2, tooMany).outcome, HistoryPlan::Outcome::Impossible);
}

// Touchpads and fine wheels send deltas far below a notch (120): they add up to the same steps a notch gives,
// either way and sideways; turning back drops what was left over.
TEST(HistoryWheel, SmallDeltasAddUpToSteps)
{
    WheelSteps w(10);
    int steps = 0;
    for (int i = 0; i < 8; ++i)
        steps += w.add(QPoint(0, 15));
    EXPECT_EQ(steps, 10);
    EXPECT_EQ(w.add(QPoint(0, 5)), 0);
    EXPECT_EQ(w.add(QPoint(0, -12)), -1);   // the 5 left over is dropped
    EXPECT_EQ(w.add(QPoint(-120, 0)), -10); // horizontal only
    EXPECT_EQ(w.add(QPoint(40, 360)), 30);  // vertical wins
}
