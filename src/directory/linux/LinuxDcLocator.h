#pragma once
#include "directory/DcLocatorBackend.h"
#include "directory/NetTools.h"
#include "directory/NetlogonPacket.h"

#include <QHash>
#include <QHostAddress>
#include <functional>
#include <mutex>

namespace fw {

// Pacing and addressing of the locator. How long a lookup may take is its request's deadline; these only
// share it out between candidates.
struct LocatorOptions {
    QHostAddress sourceAddress; // local address the pings leave from; null: the system's choice
    net::NameServer nameServer; // where the SRV records are asked for; null address: the system's resolver
    quint16 ldapPort = 389;     // where domain controllers answer netlogon pings (UDP) and searches (TCP)
    int pingTimeoutMs = 1000;   // one candidate's UDP ping, at most
    int pingStaggerMs = 100;    // pause before pinging the next candidate
    int maxPingsInFlight = 5;
    int tcpShareMs = 1500; // the TCP search for one candidate, when UDP found nobody, at most
};

// One candidate's answer to a netlogon ping.
struct PingAnswer {
    QString host;
    QHostAddress address;
    NetlogonReply reply;
};

// Sends netlogon pings over UDP (connectionless LDAP, encoded by hand) and, for candidates that
// stay silent, the same search over TCP through libldap.
class NetlogonPinger {
public:
    struct Target {
        QString host;
        QHostAddress address;
    };
    using Accept = std::function<bool(const NetlogonReply&)>;

    explicit NetlogonPinger(const LocatorOptions& options) : m_options(options) {}

    // Pings the targets, a few at a time with staggered starts; the first answer `accept` takes wins.
    // Nothing waits past the deadline. `declined` counts targets that answered but serve no such domain
    // or do not fit the request.
    std::optional<PingAnswer> ping(const QList<Target>& targets, const QString& domain, const Accept& accept,
                                   const Deadline& deadline, QString* detail, int* declined = nullptr);

private:
    std::optional<PingAnswer> pingUdp(const QList<Target>& targets, const QString& domain, const Accept& accept,
                                      const Deadline& deadline, QList<int>& silent, QString* detail, int* declined);
    // `declined` is set when the server answered but serves no such domain.
    Result<NetlogonReply> pingTcp(const Target& t, const QString& domain, const Deadline& deadline, bool* declined);

    LocatorOptions m_options;
    int m_nextMessageId = 1;
};

// The locator as Windows clients do it: DNS SRV records of the domain (the client's site first when it is
// known), then netlogon pings to the candidates; with a computer name, that computer is pinged directly.
// Lookups may run on several threads at once; the options are set before the first one.
class LinuxDcLocator final : public DcLocatorBackend {
public:
    // `primaryDomain` gives the local computer's domain for lookups without a domain name.
    LinuxDcLocator(LocatorOptions options, std::function<QString()> primaryDomain);
    DcLookupResult locate(const DcLookupRequest& request) override;

    LocatorOptions& options() { return m_options; }
    bool setSourceAddress(const QHostAddress& source) override
    {
        m_options.sourceAddress = source;
        return true;
    }

    // Request flags that do not go together (1004).
    // Whether a DC's reply satisfies the request flags.
    static bool meetsRequirements(const NetlogonReply& r, quint32 flags);
    // DOMAIN_CONTROLLER_INFO from a reply.
    static DomainControllerInfo infoFromReply(const PingAnswer& a, quint32 flags);

private:
    DcLookupResult locateByName(const DcLookupRequest& request);
    DcLookupResult locateInDomain(const QString& domain, quint32 flags, const Deadline& deadline);
    QString clientSite(const QString& domain);
    QList<NetlogonPinger::Target> candidates(const QString& srvName, QString* detail, bool* notFound, const Deadline& deadline);

    LocatorOptions m_options;
    std::function<QString()> m_primaryDomain;
    std::mutex m_siteMutex;
    QHash<QString, QString> m_clientSite; // domain (lower case) -> the site the DCs last placed us in; under m_siteMutex
};

} // namespace fw
