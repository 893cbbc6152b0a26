#include "directory/windows/WindowsDcLocator.h"

#include "platform/windows/Win32Text.h"

#include <windows.h>
#include <dsgetdc.h>
#include <lm.h>

namespace fw {

namespace {

QString text(const wchar_t* w)
{
    return w ? QString::fromWCharArray(w) : QString();
}

const wchar_t* optional(const std::wstring& s)
{
    return s.empty() ? nullptr : s.c_str();
}

} // namespace

DcLookupResult WindowsDcLocator::locate(const DcLookupRequest& request)
{
    // Windows refuses these itself, but not in the same way everywhere (Wine asks DNS first).
    if (const std::optional<DcLookupResult> refused = refusedLookup(request))
        return *refused;
    const std::wstring computer = request.computerName.toStdWString();
    const std::wstring domain = request.domainName.toStdWString();
    const quint32 flags = request.flags;
    const auto answer = runWithin<DcLookupResult>(request.deadline, [computer, domain, flags] {
        DcLookupResult r;
        DOMAIN_CONTROLLER_INFOW* info = nullptr;
        const DWORD rc = DsGetDcNameW(optional(computer), optional(domain), nullptr, nullptr, flags, &info);
        r.error = static_cast<qint32>(rc);
        if (rc != ERROR_SUCCESS || !info) {
            r.detail = QStringLiteral("DsGetDcName: %1").arg(win::win32Text(rc));
            if (info)
                NetApiBufferFree(info);
            if (rc == ERROR_SUCCESS)
                r.error = dcerr::NoSuchDomain;
            return r;
        }
        DomainControllerInfo& i = r.info;
        i.domainControllerName = text(info->DomainControllerName);
        i.domainControllerAddress = text(info->DomainControllerAddress);
        i.domainControllerAddressType = static_cast<qint32>(info->DomainControllerAddressType);
        i.domainGuid = QByteArray(reinterpret_cast<const char*>(&info->DomainGuid), sizeof(GUID));
        i.domainName = text(info->DomainName);
        i.dnsForestName = text(info->DnsForestName);
        i.flags = info->Flags;
        i.dcSiteName = text(info->DcSiteName);
        i.clientSiteName = text(info->ClientSiteName);
        NetApiBufferFree(info);
        return r;
    });
    if (answer)
        return *answer;
    const QString what = request.domainName.isEmpty() ? QStringLiteral("the computer's domain") : request.domainName;
    return {request.computerName.isEmpty() ? dcerr::NoSuchDomain : dcerr::ServerUnavailable,
            {},
            Deadline::cutShort(QStringLiteral("DsGetDcName"), what)};
}

} // namespace fw
