#include "app/StartupGate.h"
#include "log/ActivityLog.h"
#include "support/TestContext.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace fw;

namespace {
const QString kSysParams = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\SystemParameters\\1.0";
const QString kNodeMgr = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\KsCsNodeMgr\\1.0\\Local Services\\KsCsMgr";
const QString kTool = "HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool";

class StartupGateTest : public ::testing::Test {
protected:
    test::TestContext t;
    StartupGate gate{t.ctx()};
};
} // namespace

TEST_F(StartupGateTest, ConnectorIdsCompareWithoutCase)
{
    for (const char* id : {"KSDSAD.KSDSAD.1", "ksdsad.ksdsad.1", "KsIdcAdSvr.KSIDCAD.1"}) {
        t.registry().setString(kSysParams, "IDCProgID", id);
        EXPECT_TRUE(gate.checkConnector()) << id;
    }
    for (const char* id : {"", "KSDSAD.KSDSAD.2", "KSDSAD.KSDSAD.1 ", "KsDomino.1"}) {
        t.registry().setString(kSysParams, "IDCProgID", id);
        EXPECT_FALSE(gate.checkConnector()) << id;
    }
    t.registry().removeValue(kSysParams, "IDCProgID");
    EXPECT_FALSE(gate.checkConnector());
}

TEST_F(StartupGateTest, MissingActiveStatusCountsAsActive)
{
    EXPECT_TRUE(gate.checkActive());
    for (const auto& [status, active] : {std::pair{0u, false}, {1u, true}, {0xFFFFFFFFu, true}}) {
        t.registry().setDword(kNodeMgr, "Active Status", status);
        EXPECT_EQ(gate.checkActive(), active) << status;
    }
}

TEST_F(StartupGateTest, RefusalNamesTheFirstCheckThatFails)
{
    EXPECT_EQ(gate.refusal(), QString());
    t.registry().setDword(kNodeMgr, "Active Status", 0);
    EXPECT_EQ(
        gate.refusal(),
        "The local Velmora is currently an inactvie server in a failover pair - this tool can only be run on an active server.");
    t.registry().setString(kSysParams, "IDCProgID", "KsDomino.1");
    EXPECT_EQ(gate.refusal(),
              "This utility only works with Velmora configured with Exchange 2000 or 2003.  It does not work with "
              "Exchange 5.5 or Domino systems.  Exiting.");
    t.setVersion(0x00040000, 0x00030063);
    EXPECT_EQ(gate.refusal(), "This tool only works with Velmora 4.0(4) versions and later.  Exiting...");
}

TEST_F(StartupGateTest, TraceMustFitSixteenBits)
{
    EXPECT_TRUE(gate.readTraceSetting().ok());
    EXPECT_EQ(t.ctx().traceSetting, 0);
    for (const qint16 fits : {qint16(32767), qint16(-32768)}) {
        t.registry().setDword(kTool, "Trace", static_cast<quint32>(fits));
        EXPECT_TRUE(gate.readTraceSetting().ok());
        EXPECT_EQ(t.ctx().traceSetting, fits);
    }

    t.ctx().traceSetting = 0;
    t.registry().setDword(kTool, "Trace", 32768);
    const FwError e = gate.readTraceSetting().error();
    EXPECT_EQ(e.number, 6);
    EXPECT_EQ(e.description, "Overflow");
    EXPECT_EQ(t.ctx().traceSetting, 0);
}

TEST_F(StartupGateTest, SafetyFactorsStartAtTwoAndKeepRaisedValues)
{
    gate.initSafetyFactors();
    EXPECT_EQ(t.ctx().dcSafetyFactor, 2);
    EXPECT_EQ(t.ctx().gcSafetyFactor, 2);
    t.ctx().dcSafetyFactor = 5;
    gate.initSafetyFactors();
    EXPECT_EQ(t.ctx().dcSafetyFactor, 5);
}

TEST_F(StartupGateTest, ConnectionStringDefaultsToTheProductsDatabase)
{
    EXPECT_EQ(gate.connectionString(), "Driver={SQL Server};server=;database=VelmoraDb");
    t.registry().setString(kTool, "ConnectionString", "  sqlite:/tmp/x.sqlite ");
    EXPECT_EQ(gate.connectionString(), "sqlite:/tmp/x.sqlite");
}

TEST_F(StartupGateTest, NewLogNamesTheInstalledVersionAndUser)
{
    t.setVersion(0x00040000, 0x00030064);
    ASSERT_TRUE(gate.checkVersion());
    gate.startNewLog();
    const QStringList lines = t.logLines();
    EXPECT_EQ(lines.value(3), "Local Velmora version=4.0(3.100)");
    EXPECT_EQ(lines.value(4), "Running under acciont: admin\\CORP");
}
