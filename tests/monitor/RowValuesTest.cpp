#include "monitor/RowValues.h"

#include <gtest/gtest.h>

#include <limits>

using namespace fw;

namespace {
// The number read, or "error N".
template <typename T>
QString shown(const Result<T>& r)
{
    return r ? QString::number(*r) : QStringLiteral("error %1").arg(r.error().number);
}

QString integerOf(const QVariant& v)
{
    return shown(rowvalue::integer(v));
}

QString numberOf(const QVariant& v)
{
    return shown(rowvalue::number(v));
}
} // namespace

// Values as drivers hand them over (integers, doubles, texts): what is no number is a type mismatch, what does not
// fit an overflow; never a made-up number.
TEST(RowValues, StoredNumbersAreReadOrRefusedNeverMadeUp)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        QVariant stored;
        const char* integer;
        const char* number;
    } cases[] = {
        {QVariant(qint64(42)), "42", "42"},
        {QVariant(std::numeric_limits<qint64>::max()), "9223372036854775807", "9.22337e+18"},
        {QVariant(std::numeric_limits<qint64>::min()), "-9223372036854775808", "-9.22337e+18"},
        {QVariant(QStringLiteral("4294967306")), "4294967306", "4.29497e+09"},
        {QVariant(2.5), "3", "2.5"},
        {QVariant(-2.5), "-3", "-2.5"},
        {QVariant(9.2e18), "9200000000000000000", "9.2e+18"},
        {QVariant(-9223372036854775808.0), "-9223372036854775808", "-9.22337e+18"},
        {QVariant(9223372036854775808.0), "error 6", "9.22337e+18"},
        {QVariant(1e300), "error 6", "1e+300"},
        {QVariant(-1e300), "error 6", "-1e+300"},
        {QVariant(inf), "error 6", "error 6"},
        {QVariant(-inf), "error 6", "error 6"},
        {QVariant(nan), "error 13", "error 13"},
        {QVariant(float(nan)), "error 13", "error 13"},
        {QVariant(QStringLiteral("1e300")), "error 6", "1e+300"},
        {QVariant(QStringLiteral("inf")), "error 6", "error 6"},
        {QVariant(QStringLiteral("NaN")), "error 13", "error 13"},
        {QVariant(QStringLiteral("ten")), "error 13", "error 13"},
        {QVariant(), "error 94", "error 94"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(integerOf(c.stored), c.integer) << c.stored.toString().toStdString();
        EXPECT_EQ(numberOf(c.stored), c.number) << c.stored.toString().toStdString();
    }
}
