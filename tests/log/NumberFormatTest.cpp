#include "log/NumberFormat.h"

#include <QLocale>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>

using fw::plainNumber;

namespace {

class NumberFormat : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }
};

QString zeros(int n)
{
    return QString(n, QLatin1Char('0'));
}

// The fewest significant digits that read back as `value`, found by rounding to 1, 2, 3... digits.
template <typename T>
int fewestDigits(T value)
{
    for (int digits = 1;; ++digits) {
        char buf[64];
        const auto written = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, digits - 1);
        T back{};
        std::from_chars(buf, written.ptr, back);
        if (back == value)
            return digits;
    }
}

// What a plain number must be: digits with at most one point, a sign only before a non-zero value, no zero
// after the point's last digit, the same value when read back, and no more digits than that value needs.
template <typename T>
void expectExact(T value)
{
    using Bits = std::conditional_t<sizeof(T) == 8, quint64, quint32>;
    static const QRegularExpression plain(QStringLiteral("^-?(0|[1-9][0-9]*)(\\.[0-9]*[1-9])?$"));
    const QString text = plainNumber(value);
    const std::string bits = std::to_string(std::bit_cast<Bits>(value));
    if (std::isnan(value)) {
        EXPECT_EQ(text, "nan") << bits;
        return;
    }
    if (std::isinf(value)) {
        EXPECT_EQ(text, value > 0 ? "inf" : "-inf") << bits;
        return;
    }
    ASSERT_TRUE(plain.match(text).hasMatch()) << bits << " gave " << text.toStdString();
    if (value == 0) {
        EXPECT_EQ(text, "0") << bits;
        return;
    }
    const QByteArray latin = text.toLatin1();
    T back{};
    const auto read = std::from_chars(latin.constData(), latin.constData() + latin.size(), back, std::chars_format::fixed);
    EXPECT_TRUE(read.ec == std::errc() && read.ptr == latin.constData() + latin.size()) << text.toStdString();
    EXPECT_EQ(std::bit_cast<Bits>(back), std::bit_cast<Bits>(value)) << bits << " gave " << text.toStdString();
    QString significant = text;
    significant.remove(QLatin1Char('-')).remove(QLatin1Char('.'));
    while (significant.startsWith(QLatin1Char('0')))
        significant.remove(0, 1);
    while (significant.endsWith(QLatin1Char('0')))
        significant.chop(1);
    EXPECT_EQ(significant.size(), fewestDigits(value)) << bits << " gave " << text.toStdString();
}

} // namespace

TEST_F(NumberFormat, ExtremeValuesAreWrittenOutInFull)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        QString text;
    } doubles[] = {
        {1994.0, "1994"},
        {0.1, "0.1"},
        {-1.5, "-1.5"},
        {-0.0, "0"},
        {123456789012345678.0, "123456789012345680"},
        {1e23, "1" + zeros(23)},
        {1e127, "1" + zeros(127)},
        {1e128, "1" + zeros(128)},
        {1e300, "1" + zeros(300)},
        {DBL_MAX, "17976931348623157" + zeros(292)},
        {-DBL_MAX, "-17976931348623157" + zeros(292)},
        {DBL_MIN, "0." + zeros(307) + "22250738585072014"},
        {DBL_TRUE_MIN, "0." + zeros(323) + "5"},
        {-DBL_TRUE_MIN, "-0." + zeros(323) + "5"},
        {nan, "nan"},
        {-nan, "nan"},
        {inf, "inf"},
        {-inf, "-inf"},
    };
    for (const auto& c : doubles)
        EXPECT_EQ(plainNumber(c.value), c.text) << c.value;

    const struct {
        float value;
        QString text;
    } floats[] = {
        {0.2f, "0.2"},
        {1000000.0f, "1000000"},
        {-0.0f, "0"},
        {FLT_MAX, "34028235" + zeros(31)},
        {FLT_TRUE_MIN, "0." + zeros(44) + "1"},
        {std::numeric_limits<float>::quiet_NaN(), "nan"},
        {-std::numeric_limits<float>::infinity(), "-inf"},
    };
    for (const auto& c : floats)
        EXPECT_EQ(plainNumber(c.value), c.text) << c.value;

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(plainNumber(-1.5), "-1,5");
    EXPECT_EQ(plainNumber(DBL_TRUE_MIN), "0," + zeros(323) + "5");
    EXPECT_EQ(plainNumber(1e300), "1" + zeros(300));
}

// Every power of ten a double holds, the edges of the ranges and random bit patterns (NaNs, denormals included).
TEST_F(NumberFormat, AnyDoubleOrFloatReadsBackAsItself)
{
    std::vector<double> doubles{0.0,
                                -0.0,
                                DBL_MIN,
                                -DBL_MIN,
                                DBL_TRUE_MIN,
                                DBL_MAX,
                                -DBL_MAX,
                                DBL_EPSILON,
                                std::nextafter(DBL_MIN, 0.0),
                                std::nextafter(DBL_MAX, 0.0),
                                9007199254740993.0,
                                std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity()};
    for (int e = -324; e <= 308; ++e) {
        doubles.push_back(std::pow(10.0, e));
        doubles.push_back(-std::nextafter(std::pow(10.0, e), 0.0));
    }
    std::mt19937_64 random(20261205);
    for (int i = 0; i < 20000; ++i)
        doubles.push_back(std::bit_cast<double>(random()));
    for (const double d : doubles)
        expectExact(d);

    std::vector<float> floats{0.0f, -0.0f, FLT_MIN, FLT_TRUE_MIN, FLT_MAX, -FLT_MAX, std::nextafter(FLT_MIN, 0.0f)};
    for (int i = 0; i < 20000; ++i)
        floats.push_back(std::bit_cast<float>(static_cast<quint32>(random())));
    for (const float f : floats)
        expectExact(f);
}
