#include "history/HistoryPlan.h"

#include <cmath>
#include <limits>

namespace fw {

namespace {
constexpr qint64 kMaxInt16 = std::numeric_limits<qint16>::max();
constexpr qint64 kTotalBudget = 2000; // 8000 chart values shared by 4 series
} // namespace

void SegmentCounts::add(qint64 runs)
{
    if (runs <= 0)
        return;
    ++m_lengths[runs];
    ++m_segments;
    m_runs += runs;
}

qint64 SegmentCounts::pointsFor(qint64 groupSize) const
{
    if (groupSize <= 0)
        return std::numeric_limits<qint64>::max();
    qint64 points = 0;
    for (const auto& [length, count] : m_lengths)
        points += count * ((length + groupSize - 1) / groupSize);
    return points;
}

bool passFor(double totalRows, qint64 distinctValues, qint64 factor, HistoryPass& out)
{
    if (factor > kMaxInt16)
        return false;
    const qint64 budget = kTotalBudget - distinctValues * factor;
    if (budget <= 0 || budget < std::numeric_limits<qint16>::min())
        return false;
    qint64 group = 1;
    if (totalRows >= static_cast<double>(budget)) {
        const double quotient = std::floor(totalRows / static_cast<double>(budget));
        const double remainder = totalRows - quotient * static_cast<double>(budget);
        const double g = quotient + (remainder != 0 ? 1 : 0);
        if (g > static_cast<double>(kMaxInt16))
            return false;
        group = static_cast<qint64>(g);
    }
    out = {static_cast<qint32>(factor), budget, group};
    return true;
}

HistoryPlan planHistory(double totalRows, qint64 distinctValues, qint16 startFactor, const SegmentCounts& counts)
{
    HistoryPlan plan;
    HistoryPass pass;
    for (qint64 factor = startFactor; passFor(totalRows, distinctValues, factor, pass); ++factor) {
        if (counts.pointsFor(pass.groupSize) <= pass.budget) {
            plan.outcome = HistoryPlan::Outcome::Accepted;
            plan.final = pass;
            return plan;
        }
        plan.rejected.append(pass);
    }
    plan.rejected.clear();

    // The loop never accepts a pass: keep the starting budget and find the smallest group size fitting it.
    HistoryPass start;
    if (!passFor(totalRows, distinctValues, startFactor, start) || counts.segments() > start.budget) {
        plan.outcome = HistoryPlan::Outcome::Impossible;
        plan.final = {startFactor, kTotalBudget - distinctValues * startFactor, 0};
        return plan;
    }
    qint64 lo = start.groupSize, hi = std::max<qint64>(counts.longest(), lo); // pointsFor(hi) == segments <= budget
    while (lo < hi) {
        const qint64 mid = lo + (hi - lo) / 2;
        if (counts.pointsFor(mid) <= start.budget)
            hi = mid;
        else
            lo = mid + 1;
    }
    if (lo > kMaxInt16) {
        plan.outcome = HistoryPlan::Outcome::Impossible;
        plan.final = {startFactor, start.budget, 0};
        return plan;
    }
    plan.outcome = HistoryPlan::Outcome::FittedAtStart;
    plan.final = {startFactor, start.budget, lo};
    return plan;
}

QList<qint64> retryGroupSizes(double totalRows, qint64 distinctValues, qint16 startFactor, int limit)
{
    QList<qint64> sizes;
    HistoryPass pass;
    for (qint64 factor = startFactor; sizes.size() < limit && passFor(totalRows, distinctValues, factor, pass); ++factor)
        if (sizes.isEmpty() || sizes.last() != pass.groupSize)
            sizes.append(pass.groupSize);
    return sizes;
}

} // namespace fw
