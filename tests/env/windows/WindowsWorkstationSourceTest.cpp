#include "platform/windows/WindowsWorkstationSource.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace fw;

// The workstation service's records describe this computer and the user running the test.
TEST(WindowsWorkstationSource, AnswersForThisComputerAndUser)
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    wchar_t user[257];
    DWORD userSize = 257;
    ASSERT_TRUE(GetUserNameW(user, &userSize));

    const WindowsWorkstationSource source;
    EXPECT_TRUE(source.isSupportedPlatform());
    const auto c = source.queryComputer();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->computerName.toUpper(), QString::fromWCharArray(name, size).toUpper());
    EXPECT_FALSE(c->domain.isEmpty());
    EXPECT_EQ(c->platformId, 500);
    const auto u = source.queryUser();
    ASSERT_TRUE(u);
    EXPECT_EQ(u->userName.toLower(), QString::fromWCharArray(user).toLower());
}
