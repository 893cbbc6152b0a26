#include "directory/LocateEach.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace fw {

QList<DcLookupResult> locateEach(const std::shared_ptr<DcLocatorBackend>& locator, const QStringList& domains,
                                 const Deadline& deadline)
{
    std::vector<DcLookupResult> results(static_cast<size_t>(domains.size()));
    // Each lookup ends by the deadline (the steps that cannot be bounded from outside are abandoned there),
    // so waiting for all of them is waiting for the deadline at most. A few lookups at a time keep a
    // database with very many domains from starting a thread for each; the later ones get what is left.
    std::atomic_size_t next{0};
    auto work = [&] {
        for (size_t i = next++; i < results.size(); i = next++) {
            DcLookupRequest request;
            request.domainName = domains[static_cast<qsizetype>(i)].trimmed();
            request.deadline = deadline;
            if (request.domainName.isEmpty()) // would mean this computer's own domain
                results[i] = {dcerr::NoSuchDomain, {}, QStringLiteral("no domain name")};
            else
                results[i] = locator->locate(request);
        }
    };
    std::vector<std::thread> lookups;
    for (size_t n = std::min(results.size(), kMostLookupsAtOnce); n > 0; --n)
        lookups.emplace_back(work);
    for (std::thread& t : lookups)
        t.join();
    return QList<DcLookupResult>(results.begin(), results.end());
}

} // namespace fw
