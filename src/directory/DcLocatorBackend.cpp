#include "directory/DcLocatorBackend.h"

#include "directory/NetTools.h"

namespace fw {

bool lookupFlagsConflict(quint32 f)
{
    using namespace dcreq;
    auto both = [f](quint32 a, quint32 b) { return (f & a) && (f & b); };
    const int exclusive = !!(f & GcServerRequired) + !!(f & PdcRequired) + !!(f & KdcRequired);
    return both(IsFlatName, IsDnsName) || both(ReturnDnsName, ReturnFlatName) ||
           both(DirectoryServiceRequired, DirectoryServicePreferred) || both(ForceRediscovery, BackgroundOnly) || exclusive > 1;
}

std::optional<DcLookupResult> refusedLookup(const DcLookupRequest& request)
{
    if (lookupFlagsConflict(request.flags))
        return DcLookupResult{
            dcerr::InvalidFlags, {}, QStringLiteral("conflicting request flags 0x%1").arg(request.flags, 0, 16)};
    if (!request.domainName.isEmpty() && !net::isValidDnsName(request.domainName))
        return DcLookupResult{
            dcerr::InvalidDomainName, {}, QStringLiteral("'%1' is not a valid domain name").arg(request.domainName)};
    return std::nullopt;
}

} // namespace fw
