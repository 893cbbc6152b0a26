#pragma once
#include "directory/DcLocatorBackend.h"

#include <QList>
#include <QStringList>
#include <memory>

namespace fw {

// Locates a domain controller of each domain, all at the same time, every lookup drawing from the one
// deadline: the answer for many domains comes as soon as the slowest, never later than the deadline.
// The results are in the order of `domains`. At most `kMostLookupsAtOnce` lookups run at the same time.
inline constexpr size_t kMostLookupsAtOnce = 16;
QList<DcLookupResult> locateEach(const std::shared_ptr<DcLocatorBackend>& locator, const QStringList& domains,
                                 const Deadline& deadline);

} // namespace fw
