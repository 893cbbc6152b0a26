#include "platform/RegistryFileExposure.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <windows.h>

#include <aclapi.h>

using namespace fw;

namespace {

// Gives the file an access list of its own (not inherited) with these entries for Everyone, in this order, after
// one that lets its owner in; no list at all when `none`.
bool setEveryone(const QString& path, const std::vector<ACCESS_MODE>& modes, bool none = false)
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return false;
    const std::unique_ptr<void, decltype(&FreeSid)> freedSid(everyone, &FreeSid);
    std::vector<EXPLICIT_ACCESS_W> entries;
    for (ACCESS_MODE mode : modes) {
        EXPLICIT_ACCESS_W e{};
        e.grfAccessPermissions = FILE_GENERIC_READ;
        e.grfAccessMode = mode;
        e.grfInheritance = NO_INHERITANCE;
        e.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        e.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        e.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
        entries.push_back(e);
    }
    PACL acl = nullptr;
    if (!none && entries.empty()) {
        // SetEntriesInAclW makes no list of no entries: an empty one lets nobody in.
        acl = static_cast<PACL>(LocalAlloc(LPTR, sizeof(ACL)));
        if (!acl || !InitializeAcl(acl, sizeof(ACL), ACL_REVISION))
            return false;
    } else if (!none && SetEntriesInAclW(static_cast<ULONG>(entries.size()), entries.data(), nullptr, &acl) != ERROR_SUCCESS) {
        return false;
    }
    const std::unique_ptr<ACL, decltype(&LocalFree)> freedAcl(acl, &LocalFree);
    return SetNamedSecurityInfoW(const_cast<wchar_t*>(QDir::toNativeSeparators(path).toStdWString().c_str()), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
                                 nullptr) == ERROR_SUCCESS;
}

} // namespace

// Everyone's right to read as the access list gives it, entry by entry: an allowing entry, a denying one before it,
// none at all, and no list; a file made its owner's alone.
TEST(FileExposureWindows, EveryoneReadsWhatTheAccessListLetsEveryoneRead)
{
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "Wine keeps no access list of a file: it shows one made from the host file's mode, and one that "
                        "is set turns into a mode that does not say the same";
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("Zo\u00eb velmora.reg"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\"ConnectionString\"=\"Driver={SQL Server};PWD=x\"\r\n");
    }
    const struct {
        const char* name;
        std::vector<ACCESS_MODE> modes;
        bool none;
        bool readable;
    } cases[] = {
        {"allowed", {GRANT_ACCESS}, false, true},
        {"denied first", {DENY_ACCESS, GRANT_ACCESS}, false, false},
        {"not named", {}, false, false},
        {"no list", {}, true, true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(setEveryone(path, c.modes, c.none)) << c.name;
        EXPECT_EQ(everyoneCanRead(path), c.readable) << c.name;
    }
    ASSERT_TRUE(setEveryone(path, {GRANT_ACCESS}));
    EXPECT_TRUE(passwordExposureWarning(path).endsWith(
        QStringLiteral("make it unreadable to others (icacls \"%1\" /remove:g *S-1-1-0)").arg(QDir::toNativeSeparators(path))))
        << passwordExposureWarning(path).toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(keepToOwner(f));
    f.close();
    EXPECT_FALSE(everyoneCanRead(path));
    EXPECT_EQ(passwordExposureWarning(path), QString());
}
