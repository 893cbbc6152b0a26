
#include "platform/DebugChannel.h"
#include "support/FocusOrder.h"
#include "support/doubles/TestDoubles.h"

#include <gtest/gtest.h>

using namespace fw;

namespace {

TEST(GetTabState, ReadsTabAndEitherShiftFromTheHighByte)
{
    RecordingDebugChannel debug;
    EXPECT_EQ(GetTabState(KeyStates::none(), debug), 0);
    EXPECT_EQ(GetTabState(KeyStates::tabDown(), debug), 1);
    EXPECT_EQ(GetTabState(KeyStates::shiftTabDown(), debug), 2);
    EXPECT_EQ(GetTabState({-127, 0, -128}, debug), 2); // right Shift, Tab with its toggle bit
    EXPECT_EQ(GetTabState({1, -128, 0}, debug), 0);    // only the toggle bit of Tab: not down
    EXPECT_EQ(GetTabState({-128, 1, 1}, debug), 1);    // Shift toggled but not down
    EXPECT_EQ(debug.lines, (QStringList{"GetTabState() - nIsTab=0, nMask = -256, Result=0, Shift=0",
                                        "GetTabState() - nIsTab=-128, nMask = -256, Result=-256, Shift=0",
                                        "GetTabState() - nIsTab=-128, nMask = -256, Result=-256, Shift=-128",
                                        "GetTabState() - nIsTab=-127, nMask = -256, Result=-256, Shift=-128",
                                        "GetTabState() - nIsTab=1, nMask = -256, Result=0, Shift=-128",
                                        "GetTabState() - nIsTab=-128, nMask = -256, Result=-256, Shift=1"}));
}

TEST(StatusFocusMove, TheOrderOfTheStatusPage)
{
    // Control, key state (1 Tab, 2 Shift+Tab), Status page shown, tab index: the line, the new index and the target.
    const std::tuple<const char*, int, bool, int, const char*> cases[] = {
        {"cmdExit", 1, true, 0, "You just tabbed out of cmdExit; 1 tabMain"},
        {"cmdExit", 2, true, 0, "You just back tabbed out of cmdExit; 68 cmdGCViewHistory"},
        {"tabMain", 1, true, 1, "You just tabbed out of tabMain; 61 txtDCSynchronizationStatus"},
        {"tabMain", 2, true, 1, "You just back tabbed out of tabMain; 0 cmdExit"},
        {"txtDCSynchronizationStatus", 1, false, 5,
         "You just tabbed out of txtDCSynchronizationStatus; 62 txtDCSynchronizationStatus2"},
        {"txtDCSynchronizationStatus", 2, true, 5, "You just back tabbed out of txtDCSynchronizationStatus; 1 tabMain"},
        {"txtDCSynchronizationStatus2", 1, true, 0,
         "You just tabbed out of txtDCSynchronizationStatus2; 63 cmdDCSynchronizationDetails"},
        {"txtDCSynchronizationStatus2", 2, true, 0,
         "You just back tabbed out of txtDCSynchronizationStatus2; 61 txtDCSynchronizationStatus"},
    };
    for (const auto& [control, state, shown, index, expected] : cases) {
        const auto m = statusFocusMove(QString::fromLatin1(control), state, shown, index);
        ASSERT_TRUE(m.has_value()) << expected;
        EXPECT_EQ(m->debugLine + "; " + QString::number(m->tabMainIndex) + ' ' + m->target, QString::fromLatin1(expected));
    }
}

TEST(StatusFocusMove, NoMoveWithoutTheKeyThePageOrTheIndex)
{
    EXPECT_FALSE(statusFocusMove("txtDCSynchronizationStatus", 0, true, 1));
    EXPECT_FALSE(statusFocusMove("cmdExit", 2, false, 1)); // another page is shown
    EXPECT_FALSE(statusFocusMove("tabMain", 1, true, 61)); // tabMain not at position 1
    EXPECT_FALSE(statusFocusMove("tabMain", 1, false, 1));
    EXPECT_FALSE(statusFocusMove("cmdDCSynchronizationDetails", 1, true, 1)); // ordinary order
    EXPECT_EQ(statusPageTabOrder().size(), 12);
}

} // namespace
