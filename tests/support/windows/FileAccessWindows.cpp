#include "support/FileAccess.h"

#include <QDir>

#include <memory>
#include <vector>

#include <windows.h>

#include <aclapi.h>

namespace fw::test {

// Any entry of the access list that lets in someone else than the user running the tests or the system itself (as
// root on Linux, which the mode bits do not hold back either), or no list at all.
bool othersMayAccess(const QString& path)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetNamedSecurityInfoW(QDir::toNativeSeparators(path).toStdWString().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS)
        return true;
    const std::unique_ptr<void, decltype(&LocalFree)> freed(sd, &LocalFree);
    if (!dacl)
        return true;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return true;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    const bool known = size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    if (!known)
        return true;
    const PSID self = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            return true;
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && !(ace->Header.AceFlags & INHERIT_ONLY_ACE) &&
            !EqualSid(const_cast<DWORD*>(&ace->SidStart), self) &&
            !IsWellKnownSid(const_cast<DWORD*>(&ace->SidStart), WinLocalSystemSid))
            return true;
    }
    return false;
}

} // namespace fw::test
