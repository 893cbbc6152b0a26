#include "db/WallTime.h"
#include "db/StoredValue.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>

using namespace fw;

namespace {

QString shown(const WallTime& t)
{
    return t.toDateTime().toString("yyyy-MM-dd HH:mm:ss");
}

WallTime at(const char* text)
{
    return WallTime::fromVariant(QString::fromLatin1(text));
}

} // namespace

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
