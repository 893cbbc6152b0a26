#include "directory/LocateEach.h"

#include <thread>
#include <vector>

namespace fw {

QList<DcLookupResult> locateEach(const std::shared_ptr<DcLocatorBackend>& locator, const QStringList& domains, const Deadline& deadline)
{
    std::vector<DcLookupResult> results(static_cast<size_t>(domains.size()));
    std::vector<std::thread> lookups;
    // Each lookup ends by the deadline (the steps that cannot be bounded from outside are abandoned there),
    // so waiting for all of them is waiting for the deadline at most.
    for (size_t i = 0; i < results.size(); ++i) {
        DcLookupRequest request;
        request.domainName = domains[static_cast<qsizetype>(i)].trimmed();
        request.deadline = deadline;
        if (request.domainName.isEmpty()) // would mean this computer's own domain
            results[i] = {dcerr::NoSuchDomain, {}, QStringLiteral("no domain name")};
        else
            lookups.emplace_back([&locator, &result = results[i], request] { result = locator->locate(request); });
    }
    for (std::thread& t : lookups)
        t.join();
    return QList<DcLookupResult>(results.begin(), results.end());
}

} // namespace fw
