#include "platform/RegistryFileExposure.h"

#include "platform/windows/Win32Text.h"

#include <QDir>
#include <QFileDevice>

#include <memory>
#include <vector>

#include <io.h>
#include <windows.h>

#include <aclapi.h>

namespace fw {
namespace {

// The user this process runs as (its token's user), as the SID an access list names.
std::vector<BYTE> processUser()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    const bool got = size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    return got ? user : std::vector<BYTE>();
}

// Wine's ntdll has wine_get_version; Windows' does not.
bool underWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

} // namespace

bool everyoneCanRead(const QString& path)
{
    // The access list read as the system checks it, entry by entry in order, for Everyone's right to read the data
    // (not through GetEffectiveRightsFromAclW, which Wine answers with every right whatever the list says).
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetNamedSecurityInfoW(win::widePath(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &sd) != ERROR_SUCCESS)
        return false;
    const std::unique_ptr<void, decltype(&LocalFree)> freed(sd, &LocalFree);
    if (!dacl)
        return true; // no list at all: everyone may do anything
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return false;
    const std::unique_ptr<void, decltype(&FreeSid)> everyoneFreed(everyone, &FreeSid);
    constexpr ACCESS_MASK kRead = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            return false;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceFlags & INHERIT_ONLY_ACE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE)
            continue;
        // Allowed and denied entries have the same layout: the mask, then the SID.
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        if ((ace->Mask & kRead) && EqualSid(const_cast<DWORD*>(&ace->SidStart), everyone))
            return header->AceType == ACCESS_ALLOWED_ACE_TYPE;
    }
    return false;
}

QString unreadableToOthersCommand(const QString& path)
{
    // *S-1-1-0 is Everyone in every language of Windows.
    return QStringLiteral("icacls \"%1\" /remove:g *S-1-1-0").arg(QDir::toNativeSeparators(path));
}

bool keepToOwner(QFileDevice& file)
{
    // The file as it is open (a QSaveFile writes a temporary one first): its name from its handle, since its own
    // handle was not opened to change the access list.
    const intptr_t os = file.handle() >= 0 ? _get_osfhandle(file.handle()) : -1;
    if (os == -1)
        return false;
    wchar_t name[32768];
    const DWORD length = GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(os), name, DWORD(std::size(name)),
                                                   FILE_NAME_NORMALIZED);
    if (length == 0 || length >= std::size(name))
        return false;
    // Wine keeps no access list of a file: it shows one made from the host file's mode, and one that is set turns
    // into a mode that does not say the same (Wine 8.0 makes an owner-only list rwxrwxr-x). There the file keeps the
    // mode it was made with, and is its owner's alone only when that mode says so.
    if (underWine())
        return !everyoneCanRead(QString::fromWCharArray(name, length));
    std::vector<BYTE> user = processUser();
    if (user.empty())
        return false;
    EXPLICIT_ACCESS_W owner{};
    owner.grfAccessPermissions = GENERIC_ALL;
    owner.grfAccessMode = SET_ACCESS;
    owner.grfInheritance = NO_INHERITANCE;
    owner.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    owner.Trustee.TrusteeType = TRUSTEE_IS_USER;
    owner.Trustee.ptstrName = static_cast<LPWSTR>(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
    PACL acl = nullptr;
    if (SetEntriesInAclW(1, &owner, nullptr, &acl) != ERROR_SUCCESS)
        return false;
    const std::unique_ptr<ACL, decltype(&LocalFree)> freed(acl, &LocalFree);
    return SetNamedSecurityInfoW(name, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, acl, nullptr) == ERROR_SUCCESS;
}

} // namespace fw
