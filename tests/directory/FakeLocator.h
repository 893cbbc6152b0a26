#pragma once
#include "directory/DcLocatorBackend.h"

#include <QList>
#include <deque>

namespace fw::test {

// Answers lookups from a script (the last answer repeats) and records what was asked.
class FakeLocator final : public DcLocatorBackend {
public:
    bool isAvailable = true;
    std::deque<DcLookupResult> answers;
    DcLookupResult fallback{dcerr::NoSuchDomain, {}, QStringLiteral("no answer scripted")};
    QList<DcLookupRequest> requests;

    bool available() const override { return isAvailable; }
    DcLookupResult locate(const DcLookupRequest& r) override
    {
        requests.append(r);
        if (answers.empty())
            return fallback;
        DcLookupResult a = answers.front();
        if (answers.size() > 1)
            answers.pop_front();
        return a;
    }

    static DcLookupResult found(const QString& dc, const QString& domain, quint32 flags,
                                const QString& site = QStringLiteral("Site-A"),
                                const QString& clientSite = QStringLiteral("Site-A"))
    {
        DcLookupResult r;
        r.error = 0;
        r.info.domainControllerName = QStringLiteral("\\\\") + dc;
        r.info.domainControllerAddress = QStringLiteral("\\\\10.0.0.1");
        r.info.domainControllerAddressType = kDsInetAddress;
        r.info.domainGuid = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        r.info.domainName = domain;
        r.info.dnsForestName = domain;
        r.info.flags = flags;
        r.info.dcSiteName = site;
        r.info.clientSiteName = clientSite;
        return r;
    }
    static DcLookupResult failed(qint32 code) { return {code, {}, QStringLiteral("scripted failure")}; }
};

} // namespace fw::test
