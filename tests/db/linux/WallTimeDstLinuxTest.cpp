#include "db/WallTime.h"
#include "db/StoredValue.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>

// The zone comes from TZ, which Linux's C library reads and Windows' ignores (Qt asks Windows for its zone).
using namespace fw;

namespace {

// Central European time as a rule, so that no time-zone database is needed: clocks go forward from 02:00 to
// 03:00 on the last Sunday of March and back from 03:00 to 02:00 on the last Sunday of October.
class WallTimeInDstZone : public ::testing::Test {
protected:
    void SetUp() override { setZone("CET-1CEST,M3.5.0,M10.5.0/3"); }
    void TearDown() override { setZone(m_saved); }

private:
    static void setZone(const std::optional<QByteArray>& tz)
    {
        if (tz)
            qputenv("TZ", *tz);
        else
            qunsetenv("TZ");
        tzset();
    }
    const std::optional<QByteArray> m_saved = qEnvironmentVariableIsSet("TZ") ? std::optional(qgetenv("TZ")) : std::nullopt;
};

QString shown(const WallTime& t)
{
    return t.toDateTime().toString("yyyy-MM-dd HH:mm:ss");
}

WallTime at(const char* text)
{
    return WallTime::fromVariant(QString::fromLatin1(text));
}

} // namespace

// 02:30 on 2024-03-31 never shows on a local clock here, but a database keeps it like any other time.
TEST_F(WallTimeInDstZone, SpringForwardGapHourReadsAsStored)
{
    ASSERT_FALSE(QDateTime(QDate(2024, 3, 31), QTime(2, 30)).isValid()); // the zone is in force

    const WallTime text = at("2024-03-31 02:30:00");
    ASSERT_TRUE(text.valid);
    EXPECT_EQ(shown(text), "2024-03-31 02:30:00");
    // A driver that hands over a local date-time in the gap.
    const WallTime driver = WallTime::fromVariant(QDateTime(QDate(2024, 3, 31), QTime(2, 30)));
    ASSERT_TRUE(driver.valid);
    EXPECT_EQ(driver.secs, text.secs);
    EXPECT_EQ(stored::dateTime(QVariant("2024-03-31 02:30:00"), column::dcSyncStart).valueOr({}).toString("yyyy-MM-dd HH:mm:ss"),
              "2024-03-31 02:30:00");

    // A run from 01:50 to 03:10 counts the wall-clock seconds between the two readings.
    EXPECT_EQ(at("2024-03-31 03:10:00").secs - at("2024-03-31 01:50:00").secs, 4800);
}

// 02:30 on 2024-10-27 shows twice on a local clock; as stored it has one reading.
TEST_F(WallTimeInDstZone, FallBackRepeatedHourHasOneReading)
{
    const WallTime stored = at("2024-10-27 02:30:00");
    ASSERT_TRUE(stored.valid);
    EXPECT_EQ(shown(stored), "2024-10-27 02:30:00");
    EXPECT_EQ(at("2024-10-27 03:10:00").secs - at("2024-10-27 01:50:00").secs, 4800);

    // The clock at 02:40 in either pass of the hour (00:40 and 01:40 UTC) reads as its wall time.
    const QDateTime firstPass = QDateTime::fromSecsSinceEpoch(1729989600);
    const QDateTime secondPass = QDateTime::fromSecsSinceEpoch(1729989600 + 3600);
    ASSERT_NE(firstPass.offsetFromUtc(), secondPass.offsetFromUtc());
    EXPECT_EQ(wallSecondsBetween(stored.toDateTime(), firstPass), 600);
    EXPECT_EQ(wallSecondsBetween(stored.toDateTime(), secondPass), 600);
}
