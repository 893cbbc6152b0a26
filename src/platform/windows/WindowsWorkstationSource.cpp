#include "platform/windows/WindowsWorkstationSource.h"

#include <windows.h>
#include <lm.h>

namespace fw {

namespace {
QString text(const wchar_t* w)
{
    return w ? QString::fromWCharArray(w) : QString();
}
} // namespace

bool WindowsWorkstationSource::isSupportedPlatform() const
{
    // Every Windows this program runs on is of the NT family.
    return true;
}

std::optional<ComputerFacts> WindowsWorkstationSource::queryComputer() const
{
    WKSTA_INFO_102* info = nullptr;
    if (NetWkstaGetInfo(nullptr, 102, reinterpret_cast<BYTE**>(&info)) != NERR_Success || !info)
        return std::nullopt;
    ComputerFacts c;
    c.computerName = text(info->wki102_computername);
    c.domain = text(info->wki102_langroup);
    c.lanRoot = text(info->wki102_lanroot);
    c.loggedOnUsers = static_cast<qint32>(info->wki102_logged_on_users);
    c.platformId = static_cast<qint32>(info->wki102_platform_id);
    c.verMajor = static_cast<qint32>(info->wki102_ver_major);
    c.verMinor = static_cast<qint32>(info->wki102_ver_minor);
    NetApiBufferFree(info);
    return c;
}

std::optional<UserFacts> WindowsWorkstationSource::queryUser() const
{
    WKSTA_USER_INFO_1* info = nullptr;
    if (NetWkstaUserGetInfo(nullptr, 1, reinterpret_cast<BYTE**>(&info)) != NERR_Success || !info)
        return std::nullopt;
    UserFacts u;
    u.userName = text(info->wkui1_username);
    u.logonDomain = text(info->wkui1_logon_domain);
    u.otherDomains = text(info->wkui1_oth_domains);
    u.logonServer = text(info->wkui1_logon_server);
    NetApiBufferFree(info);
    return u;
}

} // namespace fw
