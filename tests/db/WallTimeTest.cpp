#include "db/WallTime.h"
#include "db/StoredValue.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>

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
    EXPECT_EQ(stored::dateTime(QVariant("2024-03-31 02:30:00"), column::dcSyncStart).valueOr({}).toString("yyyy-MM-dd HH:mm:ss"), "2024-03-31 02:30:00");

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

// Ages by the rules of Europe/Berlin, across both changes of 2026 (29 March 02:00 -> 03:00, 25 October
// 03:00 -> 02:00): the real seconds, and for a time shown twice or never the reading that gives the larger age.
TEST(WallTime, AgesAcrossDaylightSavingChangesFollowTheZonesRules)
{
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    const struct {
        const char* stored;
        QDateTime nowUtc;
        qint64 age;
    } cases[] = {
        {"2026-10-25 02:16:00", QDateTime(QDate(2026, 10, 25), QTime(1, 30), Qt::UTC), 74 * 60}, // 02:16 shown twice
        {"2026-10-25 01:50:00", QDateTime(QDate(2026, 10, 25), QTime(1, 10), Qt::UTC), 80 * 60},
        {"2026-10-25 02:50:00", QDateTime(QDate(2026, 10, 25), QTime(0, 55), Qt::UTC), 5 * 60}, // first pass still
        {"2026-03-29 01:44:00", QDateTime(QDate(2026, 3, 29), QTime(1, 10), Qt::UTC), 26 * 60},
        {"2026-03-29 02:30:00", QDateTime(QDate(2026, 3, 29), QTime(1, 40), Qt::UTC), 70 * 60}, // never shown
        {"2026-12-05 18:14:43", QDateTime(QDate(2026, 12, 5), QTime(17, 44, 43), Qt::UTC), 30 * 60},
        {"2026-12-05 19:00:00", QDateTime(QDate(2026, 12, 5), QTime(17, 44, 43), Qt::UTC), -917},
    };
    for (const auto& c : cases) {
        const QDateTime now = c.nowUtc.toTimeZone(berlin);
        EXPECT_EQ(secondsSinceWallTime(at(c.stored).toDateTime(), now), c.age) << c.stored;
    }
}

TEST(WallTime, TextFormsAndUnreadableValues)
{
    const qint64 ten = at("2024-05-06 10:00:00").secs;
    EXPECT_EQ(at("2024-05-06T10:00:00").secs, ten);
    EXPECT_EQ(at("2024-05-06 10:00:00.900").secs, ten); // a fraction is dropped
    EXPECT_EQ(at(" 2024-05-06 10:00 ").secs, ten);
    EXPECT_EQ(at("2024-05-06").secs, ten - 10 * 3600);
    EXPECT_EQ(WallTime::fromVariant(QDate(2024, 5, 6)).secs, ten - 10 * 3600);
    EXPECT_EQ(shown(at("1969-12-31 23:59:59")), "1969-12-31 23:59:59");

    EXPECT_FALSE(WallTime::fromVariant(QVariant()).valid);
    EXPECT_FALSE(at("2024-02-30 10:00:00").valid);
    EXPECT_FALSE(at("2024-05-06 10:61:00").valid);
    EXPECT_FALSE(at("yesterday").valid);
    EXPECT_EQ(wallSecondsBetween(QDateTime(), at("2024-05-06").toDateTime()), 0);
}
