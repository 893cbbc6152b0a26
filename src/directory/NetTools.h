#pragma once
#include "log/Result.h"

#include <QHostAddress>
#include <QList>
#include <QString>

namespace fw {
class Deadline;
}

namespace fw::net {

// One SRV answer.
struct SrvTarget {
    QString host;
    quint16 port = 0;
    quint16 priority = 0;
    quint16 weight = 0;
};

// The DNS server to ask instead of the ones the system is configured with (IPv4 only); a null address
// means the system's.
struct NameServer {
    QHostAddress address;
    quint16 port = 53;
};

// DNS SRV lookup through the system's resolver, abandoned at the deadline. Sorted by priority, then
// by weight (heavier first). No record is an error too; `notFound` is set for a name that does not exist
// (as opposed to a server that did not answer).
Result<QList<SrvTarget>> lookupSrv(const QString& name, const Deadline& deadline, bool* notFound = nullptr,
                                   const NameServer& server = {});

// The answers of an SRV lookup of `name` as they are tried: a trailing dot dropped, "." (the service is not offered
// there) left out, by priority, then by weight (heavier first), in the answer's order otherwise. None left is an error.
Result<QList<SrvTarget>> usableSrvTargets(QList<SrvTarget> records, const QString& name);

// Addresses of a host name (or the address itself when `host` is one), abandoned at the deadline.
Result<QList<QHostAddress>> resolveHost(const QString& host, const Deadline& deadline);

// Whether the text is a DNS host name: labels of letters, digits and hyphens with dots between them,
// at most 253 characters (a single trailing dot allowed). Checked before any network step.
bool isValidHostName(const QString& name);

// Whether the text is a plausible DNS domain name: labels of 1 to 63 letters, digits, '-' or '_',
// at most 255 characters, no empty label except a single trailing dot.
bool isValidDnsName(const QString& name);

} // namespace fw::net
