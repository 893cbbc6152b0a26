#include "app/DemoEnvironment.h"
#include "db/Database.h"
#include "env/RegistryApi.h"
#include "env/VelmoraVersion.h"
#include "platform/DebugChannel.h"
#include "platform/RegistryStore.h"
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
