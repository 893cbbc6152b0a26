#pragma once
#include "directory/DcLocatorBackend.h"

namespace fw {

// The system's own locator: DsGetDcNameW (netapi32) with the flags as the caller gives them. The call cannot be
// cancelled; it runs on a thread of its own that is left to finish when the lookup's deadline comes first.
class WindowsDcLocator final : public DcLocatorBackend {
public:
    DcLookupResult locate(const DcLookupRequest& request) override;
};

} // namespace fw
