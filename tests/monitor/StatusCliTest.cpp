#include "db/Database.h"
#include "support/CliProcess.h"
#include "support/TestContext.h"
#include "support/Must.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using fw::test::cli;
using fw::test::CliRun;

class StatusCli : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        const CliRun r = cli({"demo-env", dir->filePath("demo"), "--runs", "30"});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
    }
    static void TearDownTestSuite() { delete dir; }
    static QString reg() { return dir->filePath("demo/velmora.reg"); }
    static QTemporaryDir* dir;
};
QTemporaryDir* StatusCli::dir = nullptr;

QJsonObject json(const CliRun& r)
{
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

// The parts a reply's "failures" name, in order.
QStringList parts(const QJsonValue& failures)
{
    QStringList out;
    for (const QJsonValue& f : failures.toArray())
        out.append(f["part"].toString());
    return out;
}

} // namespace

TEST_F(StatusCli, ExitStatusFollowsTheAgeOfTheLatestFinishedRuns)
{
    CliRun r = cli({"status", "--json"}, reg());
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    const QJsonObject o = json(r);
    EXPECT_EQ(o["dc"]["state"].toString(), "In progress");
    EXPECT_EQ(o["dc"]["syncId"].toInt(), 31);
    EXPECT_EQ(o["dc"]["latestFinished"]["syncId"].toInt(), 30);
    EXPECT_EQ(o["gc"]["state"].toString(), "Idle");
    EXPECT_TRUE(o["ok"].toBool());

    r = cli({"status", "--max-age", "1"}, reg());
    EXPECT_EQ(r.code, 1) << "the newest finished runs are minutes old";
    EXPECT_TRUE(r.out.contains("STALE"));
}

TEST_F(StatusCli, APartNotReadIsExitTwoAndNamedInTheJson)
{
    const QString demo = dir->filePath("broken");
    ASSERT_EQ(cli({"demo-env", demo, "--runs", "3"}).code, 0);
    fw::test::sqlValue("sqlite:" + demo + "/VelmoraDb.sqlite", "DROP TABLE SyncHistoryObject");
    CliRun r = cli({"status", "--json"}, demo + "/velmora.reg");
    EXPECT_EQ(r.code, 2) << r.err.toStdString();
    const QJsonObject o = json(r);
    EXPECT_FALSE(o["complete"].toBool());
    EXPECT_FALSE(o["ok"].toBool());
    EXPECT_EQ(parts(o["failures"]), (QStringList{"dc.objectTotal", "gc.objectTotal"}));
    EXPECT_EQ(o["failures"][0]["number"].toInt(), 1);

    r = cli({"status"}, demo + "/velmora.reg");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("ferrowind status: not read: dc.objectTotal (no such table: SyncHistoryObject Unable to execute "
                               "statement), gc.objectTotal (no such table: SyncHistoryObject Unable to execute statement)"))
        << r.err.toStdString();

    // The detail rows too: shown with their holes, but never with exit 0.
    r = cli({"status", "--details", "gc", "--json"}, demo + "/velmora.reg");
    EXPECT_EQ(r.code, 2) << r.err.toStdString();
    const QJsonObject details = json(r);
    EXPECT_EQ(details["rows"].toArray().size(), 10);
    EXPECT_FALSE(details["complete"].toBool());
    EXPECT_EQ(parts(details["failures"]), (QStringList{"dc.objectTotal", "gc.objectTotal", "gc.objects"}));
    r = cli({"status", "--details", "dc"}, demo + "/velmora.reg");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("), dc.overview (no such table: SyncHistoryObject Unable to execute statement)\n"))
        << r.err.toStdString();

    // Nothing read at all: a script asking for JSON still gets JSON naming the part.
    QFile::remove(demo + "/VelmoraDb.sqlite");
    r = cli({"status", "--json"}, demo + "/velmora.reg");
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(json(r)["ok"].toBool(true)) << r.out.toStdString();
    EXPECT_EQ(parts(json(r)["failures"]), QStringList{"database"});
    EXPECT_TRUE(r.err.startsWith("ferrowind status: The database file ")) << r.err.toStdString();
}

TEST_F(StatusCli, DetailsPrintTheWindowsRows)
{
    CliRun r = cli({"status", "--details", "gc", "--json"}, reg());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonObject o = json(r);
    EXPECT_EQ(o["title"].toString(), "GC Synchronization Status (SyncId 30)");
    EXPECT_EQ(o["isActive"].toString(), "No");
    EXPECT_EQ(o["rows"].toArray().size(), 10);
    EXPECT_TRUE(o["complete"].toBool());
    EXPECT_TRUE(o["failures"].toArray().isEmpty());

    r = cli({"status", "--details", "dc", "--json"}, reg());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(json(r)["rows"].toArray().size(), 3);

    r = cli({"status", "--details", "dc", "--domain", "CORP.EXAMPLE.COM"}, reg());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("DC Synchronization Status - corp.example.com (SyncId 31)"));
    EXPECT_TRUE(r.out.contains("IsActive: Yes"));
}

TEST_F(StatusCli, BadInputIsAUsageErrorWithAMessage)
{
    for (const QStringList& args :
         {QStringList{"status", "--details", "xx"}, QStringList{"status", "--domain", "corp.example.com"},
          QStringList{"status", "--max-age", "0"}, QStringList{"status", "--max-age", "ten"},
          QStringList{"status", "--details", "dc", "--domain", "nowhere.example"}}) {
        const CliRun r = cli(args, reg());
        EXPECT_EQ(r.code, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith("ferrowind status: ")) << r.err.toStdString();
    }
    for (const char* minutes : {"9223372036854775807", "5256001", "-1"}) {
        const CliRun r = cli({"status", "--max-age", minutes}, reg());
        EXPECT_EQ(r.code, 2) << minutes;
        EXPECT_EQ(r.err, QStringLiteral("ferrowind status: --max-age takes a whole number of minutes from 1 to 5256000 "
                                        "(ten years), not '%1'\n")
                             .arg(minutes));
    }
    EXPECT_EQ(cli({"status", "--max-age", "5256000"}, reg()).code, 0);
}

// A stored number out of range is a part not read (overflow), never a number made up for it.
TEST_F(StatusCli, AStoredNumberOutOfRangeIsNotRead)
{
    const QString demo = dir->filePath("huge");
    ASSERT_EQ(cli({"demo-env", demo, "--runs", "3"}).code, 0);
    const QString db = "sqlite:" + demo + "/VelmoraDb.sqlite";
    fw::test::sqlValue(db, "UPDATE SyncHistoryObject SET Count = 1e300 WHERE Domain <> 'GC'");
    CliRun r = cli({"status", "--json"}, demo + "/velmora.reg");
    EXPECT_EQ(r.code, 2) << r.err.toStdString();
    QJsonObject o = json(r);
    EXPECT_FALSE(o["complete"].toBool(true));
    EXPECT_EQ(parts(o["failures"]), QStringList{"dc.objectTotal"});
    EXPECT_EQ(o["failures"][0]["number"].toInt(), 6);
    EXPECT_TRUE(o["dc"].toObject()["objects"].isNull()) << r.out.toStdString();

    fw::test::sqlValue(db, "UPDATE SyncHistoryObject SET Count = 1");
    fw::test::sqlValue(db, "UPDATE SyncHistoryDC SET SyncInterval = 4294967306");
    r = cli({"status", "--json"}, demo + "/velmora.reg");
    EXPECT_EQ(r.code, 2) << r.err.toStdString();
    o = json(r);
    EXPECT_EQ(parts(o["failures"]), QStringList{"dc.history"});
    EXPECT_EQ(o["failures"][0]["number"].toInt(), 6);
    EXPECT_EQ(r.err, "ferrowind status: cannot read the synchronisation history: Overflow in SyncHistoryDC.SyncInterval\n");
}

// Another writer holds the database: the command waits for it once, 5 s in all, whatever it reads after that.
TEST_F(StatusCli, ALockedDatabaseCostsTheCommandOneWait)
{
    const QString demo = dir->filePath("locked");
    ASSERT_EQ(cli({"demo-env", demo, "--runs", "3"}).code, 0);
    const std::unique_ptr<fw::Database> writer = fw::test::must(fw::Database::open("sqlite:" + demo + "/VelmoraDb.sqlite"));
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->run("BEGIN EXCLUSIVE"));
    for (const QStringList& args : {QStringList{"status", "--json"}, QStringList{"status", "--details", "dc", "--json"}}) {
        QElapsedTimer clock;
        clock.start();
        const CliRun r = cli(args, demo + "/velmora.reg");
        EXPECT_LT(clock.elapsed(), 7500) << args.join(' ').toStdString() << ": one wait per connection";
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.err.contains("database is locked")) << r.err.toStdString();
        EXPECT_FALSE(json(r)["complete"].toBool(true));
    }
}
