#include "app/DemoEnvironment.h"
#include "db/Database.h"
#include "db/DemoData.h"
#include "env/RegistryApi.h"
#include "env/VelmoraVersion.h"
#include "platform/DebugChannel.h"
#include "platform/RegistryStore.h"
#include "support/Must.h"
#include "support/TestContext.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

TEST(DemoEnvironment, CreatesADatabaseAndARegistryFileThatDescribeIt)
{
    QTemporaryDir dir;
    DemoDataOptions o;
    o.dcRuns = 200;
    o.gcRuns = 150;
    ASSERT_TRUE(DemoEnvironment::create(dir.path(), o).ok());

    RecordingDebugChannel debug;
    RegFileStore reg(DemoEnvironment::registryPath(dir.path()), &debug);
    EXPECT_TRUE(debug.lines.isEmpty());
    EXPECT_EQ(getVersion(reg).Text, QStringLiteral("8.0(0.85)"));
    const QString cs = GetRegistryValue(reg, HKEY_LOCAL_MACHINE_HIVE, "Software\\Kestrelon\\FerrowindSettingsTool",
                                        "ConnectionString", RegTypeText, "")
                           .toString();
    EXPECT_EQ(cs, "sqlite:" + DemoEnvironment::databasePath(dir.path()));

    // The database opens through the connection string.
    auto scalar = [&](const QString& sql) { return test::sqlValue(cs, sql).toLongLong(); };
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM vw_ADDomain"), 3);
    EXPECT_EQ(
        scalar(
            "SELECT COUNT(*) FROM vw_Configuration WHERE FullNodeName LIKE 'System.DirectoryConnectors.ActiveDirectory.DSGC.%'"),
        12);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM SyncHistoryDC WHERE IsActive = 0"), 200);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM SyncHistoryDC WHERE IsActive = 1"), 1);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM SyncHistoryGC"), 150);
    EXPECT_GT(scalar("SELECT COUNT(DISTINCT USNIncrement) FROM SyncHistoryDC"), 1);
    EXPECT_GT(scalar("SELECT COUNT(DISTINCT SyncInterval) FROM SyncHistoryGC"), 1);
    EXPECT_EQ(scalar("SELECT COUNT(DISTINCT ObjectType) FROM SyncHistoryObject WHERE Domain = 'GC'"), 5);
    EXPECT_EQ(scalar("SELECT COUNT(DISTINCT ObjectType) FROM SyncHistoryObject WHERE Domain <> 'GC'"), 3);
    // The newest DC run is still going on, and it is the one with the highest id.
    EXPECT_EQ(scalar("SELECT IsActive FROM SyncHistoryDC WHERE SyncId = (SELECT MAX(SyncId) FROM SyncHistoryDC)"), 1);
    // Identifiers match without regard to case, as on the product's database.
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ADDomain WHERE AdDomainObjectID = '{6b1f0c2a-4d1e-4a8b-9c3d-1e2f3a4b5c6d}'"), 1);
}

TEST(Database, OpeningAMissingFileFailsWithoutCreatingIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("absent.sqlite");
    FwError err;
    err = Database::open("sqlite:" + path).error();
    EXPECT_TRUE(err.isError());
    EXPECT_TRUE(err.description.contains(path));
    EXPECT_FALSE(QFileInfo::exists(path));
    err = Database::open("").error();
    EXPECT_TRUE(err.isError());
    EXPECT_TRUE(err);
}

// A count the generator does not take is refused before anything is made: INT_MAX runs would overflow the count of
// runs with the one in progress.
TEST(DemoData, CountsOutsideTheBoundAreRefusedAndNothingIsWritten)
{
    test::TestContext t;
    const QString cs = t.createEmptyDatabase();
    ASSERT_FALSE(cs.isEmpty());
    const struct {
        int DemoDataOptions::*count;
        int value;
    } cases[] = {
        {&DemoDataOptions::dcRuns, 2147483647},
        {&DemoDataOptions::dcRuns, 10000001},
        {&DemoDataOptions::gcRuns, -1},
        {&DemoDataOptions::incrementChanges, 2147483647},
    };
    for (const auto& c : cases) {
        DemoDataOptions o;
        o.*c.count = c.value;
        const std::unique_ptr<Database> db = test::must(Database::open(cs));
        ASSERT_TRUE(db);
        const Result<void> made = DemoData::populate(*db, o);
        ASSERT_FALSE(made) << c.value;
        EXPECT_EQ(made.error().number, 5);
        EXPECT_EQ(made.error().description,
                  "The demo history takes 0 to 10000000 runs of each side and changes, not " + QString::number(c.value));
    }
    EXPECT_EQ(t.sql("SELECT COUNT(*) FROM ADDomain").toInt(), 0);
    EXPECT_EQ(t.sql("SELECT COUNT(*) FROM SyncHistoryDC").toInt(), 0);
}
