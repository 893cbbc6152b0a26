#include "db/StoredValue.h"

#include <gtest/gtest.h>

#include <limits>

using namespace fw;

namespace {
// The value read, or the failure's number and text.
template <typename T>
QString shown(const Result<T>& r)
{
    if (!r)
        return QStringLiteral("%1 %2").arg(r.error().number).arg(r.error().description);
    if constexpr (std::is_same_v<T, QDateTime>)
        return r->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    else if constexpr (std::is_same_v<T, QString>)
        return *r;
    else
        return QString::number(*r);
}

constexpr StoredColumn kInterval = column::integer("T.SyncInterval", 0, 2147483647);
constexpr StoredColumn kId = column::integer("T.SyncId", -9223372036854775807LL - 1, 9223372036854775807LL);
constexpr StoredColumn kFlags = column::integer("T.EventFlags", -32768, 32767);
constexpr StoredColumn kFlag = column::bit("T.IsActive");
constexpr StoredColumn kReal = column::number("T.Minutes");
constexpr StoredColumn kWhen = column::dateTime("T.syncEnd");
constexpr StoredColumn kText = column::text("T.Server");
} // namespace

// The values a hostile hand can leave in a SQLite column, as the drivers hand them over: each is read as what it is,
// or refused with the column named; never a made-up value.
TEST(StoredValue, EachKindReadsItsValuesAndRefusesTheRestNamingTheColumn)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const QVariant blob(QByteArray("\x00\xff", 2));
    const struct {
        QVariant stored;
        const char* interval; // int, 0 .. 2^31-1
        const char* id;       // bigint
        const char* flags;    // smallint
        const char* flag;     // bit
        const char* real;     // float
    } cases[] = {
        {qint64(42), "42", "42", "42", "6 Overflow in T.IsActive", "42"},
        {qint64(1), "1", "1", "1", "1", "1"},
        {QVariant(true), "1", "1", "1", "1", "1"},
        {qint64(-1), "6 Overflow in T.SyncInterval", "-1", "-1", "6 Overflow in T.IsActive", "-1"},
        {qint64(2147483648LL), "6 Overflow in T.SyncInterval", "2147483648", "6 Overflow in T.EventFlags",
         "6 Overflow in T.IsActive", "2.14748e+09"},
        {qint64(4294967306LL), "6 Overflow in T.SyncInterval", "4294967306", "6 Overflow in T.EventFlags",
         "6 Overflow in T.IsActive", "4.29497e+09"},
        {std::numeric_limits<qint64>::min(), "6 Overflow in T.SyncInterval", "-9223372036854775808", "6 Overflow in T.EventFlags",
         "6 Overflow in T.IsActive", "-9.22337e+18"},
        {QVariant(qulonglong(9223372036854775808ULL)), "6 Overflow in T.SyncInterval", "6 Overflow in T.SyncId",
         "6 Overflow in T.EventFlags", "6 Overflow in T.IsActive", "9.22337e+18"},
        {QVariant(-0.0), "0", "0", "0", "0", "0"},
        {QVariant(5.0), "5", "5", "5", "6 Overflow in T.IsActive", "5"},
        {QVariant(1.5), "13 Type mismatch in T.SyncInterval", "13 Type mismatch in T.SyncId", "13 Type mismatch in T.EventFlags",
         "13 Type mismatch in T.IsActive", "1.5"},
        {QVariant(9223372036854775808.0), "6 Overflow in T.SyncInterval", "6 Overflow in T.SyncId", "6 Overflow in T.EventFlags",
         "6 Overflow in T.IsActive", "9.22337e+18"},
        {QVariant(1e300), "6 Overflow in T.SyncInterval", "6 Overflow in T.SyncId", "6 Overflow in T.EventFlags",
         "6 Overflow in T.IsActive", "1e+300"},
        {QVariant(-inf), "6 Overflow in T.SyncInterval", "6 Overflow in T.SyncId", "6 Overflow in T.EventFlags",
         "6 Overflow in T.IsActive", "6 Overflow in T.Minutes"},
        {QVariant(nan), "13 Type mismatch in T.SyncInterval", "13 Type mismatch in T.SyncId", "13 Type mismatch in T.EventFlags",
         "13 Type mismatch in T.IsActive", "13 Type mismatch in T.Minutes"},
        {QVariant(float(nan)), "13 Type mismatch in T.SyncInterval", "13 Type mismatch in T.SyncId",
         "13 Type mismatch in T.EventFlags", "13 Type mismatch in T.IsActive", "13 Type mismatch in T.Minutes"},
        // Texts: how the SQLite ODBC driver hands every value over, and what SQLite keeps of a text in any column.
        {QStringLiteral(" 15 "), "15", "15", "15", "6 Overflow in T.IsActive", "15"},
        {QStringLiteral("+7"), "7", "7", "7", "6 Overflow in T.IsActive", "7"},
        {QStringLiteral("9223372036854775808"), "6 Overflow in T.SyncInterval", "6 Overflow in T.SyncId",
         "6 Overflow in T.EventFlags", "6 Overflow in T.IsActive", "9.22337e+18"},
        {QStringLiteral("1e300"), "6 Overflow in T.SyncInterval", "6 Overflow in T.SyncId", "6 Overflow in T.EventFlags",
         "6 Overflow in T.IsActive", "1e+300"},
        {QStringLiteral("1e400"), "6 Overflow in T.SyncInterval", "6 Overflow in T.SyncId", "6 Overflow in T.EventFlags",
         "6 Overflow in T.IsActive", "6 Overflow in T.Minutes"},
        {QStringLiteral("1e-400"), "13 Type mismatch in T.SyncInterval", "13 Type mismatch in T.SyncId",
         "13 Type mismatch in T.EventFlags", "13 Type mismatch in T.IsActive", "0"},
        {QStringLiteral("NaN"), "13 Type mismatch in T.SyncInterval", "13 Type mismatch in T.SyncId",
         "13 Type mismatch in T.EventFlags", "13 Type mismatch in T.IsActive", "13 Type mismatch in T.Minutes"},
        {QStringLiteral("inf"), "6 Overflow in T.SyncInterval", "6 Overflow in T.SyncId", "6 Overflow in T.EventFlags",
         "6 Overflow in T.IsActive", "6 Overflow in T.Minutes"},
        {QStringLiteral("12abc"), "13 Type mismatch in T.SyncInterval", "13 Type mismatch in T.SyncId",
         "13 Type mismatch in T.EventFlags", "13 Type mismatch in T.IsActive", "13 Type mismatch in T.Minutes"},
        {QStringLiteral(""), "13 Type mismatch in T.SyncInterval", "13 Type mismatch in T.SyncId",
         "13 Type mismatch in T.EventFlags", "13 Type mismatch in T.IsActive", "13 Type mismatch in T.Minutes"},
        {QStringLiteral("True"), "13 Type mismatch in T.SyncInterval", "13 Type mismatch in T.SyncId",
         "13 Type mismatch in T.EventFlags", "1", "13 Type mismatch in T.Minutes"},
        {blob, "13 Type mismatch in T.SyncInterval", "13 Type mismatch in T.SyncId", "13 Type mismatch in T.EventFlags",
         "13 Type mismatch in T.IsActive", "13 Type mismatch in T.Minutes"},
        {QVariant(), "94 Invalid use of Null in T.SyncInterval", "94 Invalid use of Null in T.SyncId",
         "94 Invalid use of Null in T.EventFlags", "94 Invalid use of Null in T.IsActive", "94 Invalid use of Null in T.Minutes"},
    };
    for (const auto& c : cases) {
        const std::string what = c.stored.toString().toStdString() + " (" +
                                 (c.stored.isValid() ? c.stored.typeName() : "invalid") + ")";
        EXPECT_EQ(shown(stored::integer(c.stored, kInterval)), c.interval) << what;
        EXPECT_EQ(shown(stored::integer(c.stored, kId)), c.id) << what;
        EXPECT_EQ(shown(stored::integer(c.stored, kFlags)), c.flags) << what;
        EXPECT_EQ(shown(stored::bit(c.stored, kFlag)), c.flag) << what;
        EXPECT_EQ(shown(stored::number(c.stored, kReal)), c.real) << what;
    }
}

TEST(StoredValue, DatesAreValidDatesAndTextIsText)
{
    const struct {
        QVariant stored;
        const char* when;
        const char* text;
    } cases[] = {
        {QStringLiteral("2026-11-30 23:59:59"), "2026-11-30 23:59:59", "2026-11-30 23:59:59"},
        {QStringLiteral("2099-01-01 00:00:00"), "2099-01-01 00:00:00", "2099-01-01 00:00:00"},
        {QDateTime(QDate(2024, 2, 29), QTime(12, 0)), "2024-02-29 12:00:00", "2024-02-29T12:00:00.000"},
        {QStringLiteral("2026-02-30 10:00:00"), "13 Type mismatch in T.syncEnd", "2026-02-30 10:00:00"},
        {QStringLiteral("0000-00-00 00:00:00"), "13 Type mismatch in T.syncEnd", "0000-00-00 00:00:00"},
        {QStringLiteral("garbage"), "13 Type mismatch in T.syncEnd", "garbage"},
        {QStringLiteral(""), "13 Type mismatch in T.syncEnd", ""},
        {QVariant(1e300), "13 Type mismatch in T.syncEnd", "1e+300"},
        {QVariant(qint64(20260101)), "13 Type mismatch in T.syncEnd", "20260101"},
        {QVariant(QByteArray("\x00\xff", 2)), "13 Type mismatch in T.syncEnd", "13 Type mismatch in T.Server"},
        {QVariant(), "94 Invalid use of Null in T.syncEnd", "94 Invalid use of Null in T.Server"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shown(stored::dateTime(c.stored, kWhen)), c.when) << c.stored.toString().toStdString();
        EXPECT_EQ(shown(stored::text(c.stored, kText)), c.text) << c.stored.toString().toStdString();
    }
}

TEST(StoredValue, AFailedColumnReadIsHandedOnUnchanged)
{
    const Result<QVariant> missing = FwError::noCurrentRecord();
    EXPECT_EQ(stored::integer(missing, kId).error().number, 3021);
    EXPECT_EQ(stored::text(missing, kText).error().description, FwError::noCurrentRecord().description);
}
