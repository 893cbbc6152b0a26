#pragma once
#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include "directory/Deadline.h"

#include <optional>

namespace fw {

// Windows error codes the locator answers with.
namespace dcerr {
constexpr qint32 Ok = 0;
constexpr qint32 NotEnoughMemory = 8;
constexpr qint32 InvalidFlags = 1004;
constexpr qint32 InvalidDomainName = 1212;
constexpr qint32 NoSuchDomain = 1355;
constexpr qint32 ServerUnavailable = 1722; // the computer asked to run the lookup cannot be reached
} // namespace dcerr

// Request flags of the locator (DS_... of DsGetDcName).
namespace dcreq {
constexpr quint32 ForceRediscovery = 0x1;
constexpr quint32 DirectoryServiceRequired = 0x10;
constexpr quint32 DirectoryServicePreferred = 0x20;
constexpr quint32 GcServerRequired = 0x40;
constexpr quint32 PdcRequired = 0x80;
constexpr quint32 BackgroundOnly = 0x100;
constexpr quint32 IpRequired = 0x200;
constexpr quint32 KdcRequired = 0x400;
constexpr quint32 TimeservRequired = 0x800;
constexpr quint32 WritableRequired = 0x1000;
constexpr quint32 GoodTimeservPreferred = 0x2000;
constexpr quint32 AvoidSelf = 0x4000;
constexpr quint32 OnlyLdapNeeded = 0x8000;
constexpr quint32 IsFlatName = 0x10000;
constexpr quint32 IsDnsName = 0x20000;
constexpr quint32 TryNextClosestSite = 0x40000;
constexpr quint32 DirectoryService6Required = 0x80000;
constexpr quint32 WebServiceRequired = 0x100000;
constexpr quint32 ReturnDnsName = 0x40000000;
constexpr quint32 ReturnFlatName = 0x80000000;
} // namespace dcreq

// DS_INET_ADDRESS and DS_NETBIOS_ADDRESS.
constexpr qint32 kDsInetAddress = 1;
constexpr qint32 kDsNetbiosAddress = 2;

// What one lookup asks for.
struct DcLookupRequest {
    QString computerName; // empty: the local computer runs the lookup
    QString domainName;   // empty: the primary domain of the computer that runs it
    quint32 flags = 0;
    // Every network step of the lookup draws from it; by default the lookup is a verdict of its own.
    Deadline deadline = Deadline::forVerdict();
};

// DOMAIN_CONTROLLER_INFO.
struct DomainControllerInfo {
    QString domainControllerName;    // "\\dc1.corp.example.com"
    QString domainControllerAddress; // "\\10.77.1.1"
    qint32 domainControllerAddressType = 0;
    QByteArray domainGuid; // 16 bytes
    QString domainName;
    QString dnsForestName;
    quint32 flags = 0;
    QString dcSiteName;
    QString clientSiteName;
};

struct DcLookupResult {
    qint32 error = dcerr::NoSuchDomain;
    DomainControllerInfo info; // valid when error is 0
    QString detail;            // what went wrong, for logs and the command line
};

// Whether the request flags ask for things that exclude each other (flat and DNS name, two roles...).
bool lookupFlagsConflict(quint32 flags);
// A request no locator takes, refused before any lookup so that every platform answers it the same way:
// conflicting flags (1004) or a domain name that is not a DNS name (1212).
std::optional<DcLookupResult> refusedLookup(const DcLookupRequest& request);

// The domain controller locator: DsGetDcName on Windows, DNS and netlogon pings elsewhere.
class DcLocatorBackend {
public:
    virtual ~DcLocatorBackend() = default;
    // False when the platform has no locator at all; CGetDcName then never looks anything up.
    virtual bool available() const { return true; }
    virtual DcLookupResult locate(const DcLookupRequest& request) = 0;
    // Makes the lookups' packets leave from `source`; false when this locator cannot choose (DsGetDcName).
    virtual bool setSourceAddress(const QHostAddress&) { return false; }
};

} // namespace fw
