#include "env/WorkStationInfo.h"
#include "support/doubles/TestDoubles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

TEST(WorkStationInfo, AFailingQueryLeavesOnlyItsMembersEmpty)
{
    FakeWorkstationSource src;
    src.computer = ComputerFacts{"VELMORA01", "CORP", "", 1, 500, 6, 1};
    WorkStationInfo ws(src);
    EXPECT_EQ(ws.ComputerName(), "VELMORA01");
    EXPECT_TRUE(ws.UserName().isEmpty());

    // A later refresh whose computer query fails keeps the facts already known.
    src.computer.reset();
    src.user = UserFacts{"admin", "CORP", "", ""};
    ws.Refresh();
    EXPECT_EQ(ws.ComputerName(), "VELMORA01");
    EXPECT_EQ(ws.UserName(), "admin");
}

TEST(WorkStationInfo, UnsupportedPlatformStaysEmpty)
{
    FakeWorkstationSource src;
    src.supported = false;
    src.computer = ComputerFacts{"X", "Y", "", 1, 1, 1, 1};
    WorkStationInfo ws(src);
    ws.Refresh();
    EXPECT_TRUE(ws.ComputerName().isEmpty());
    EXPECT_EQ(ws.PlatformId(), 0);
}
