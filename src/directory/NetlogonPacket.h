#pragma once
#include "log/Result.h"

#include <QByteArray>
#include <QString>

namespace fw {

// Flags a domain controller reports about itself in its netlogon reply (and DsGetDcName's result flags).
namespace dsflag {
constexpr quint32 Pdc = 0x1;
constexpr quint32 Gc = 0x4;
constexpr quint32 Ldap = 0x8;
constexpr quint32 Ds = 0x10;
constexpr quint32 Kdc = 0x20;
constexpr quint32 Timeserv = 0x40;
constexpr quint32 Closest = 0x80;
constexpr quint32 Writable = 0x100;
constexpr quint32 GoodTimeserv = 0x200;
constexpr quint32 Ndnc = 0x400;
constexpr quint32 SelectSecretDomain6 = 0x800; // read-only DC
constexpr quint32 FullSecretDomain6 = 0x1000;
constexpr quint32 Ws = 0x2000;
constexpr quint32 DnsController = 0x20000000;
constexpr quint32 DnsDomain = 0x40000000;
constexpr quint32 DnsForest = 0x80000000;
} // namespace dsflag

// Version bits of the netlogon ping (NtVer) that ask for the extended reply.
namespace ntver {
constexpr quint32 V5 = 0x2;
constexpr quint32 V5Ex = 0x4;
constexpr quint32 V5ExWithIp = 0x8;
constexpr quint32 WithClosestSite = 0x10;
} // namespace ntver

// A NETLOGON_SAM_LOGON_RESPONSE_EX: what a domain controller says about itself and the client.
struct NetlogonReply {
    quint16 opcode = 0; // 23 logon response, 25 user unknown (both carry the same fields)
    quint32 flags = 0;
    QByteArray domainGuid; // 16 bytes as sent (little-endian first three fields)
    QString dnsForestName;
    QString dnsDomainName;
    QString dnsHostName;
    QString netbiosDomainName;
    QString netbiosComputerName;
    QString userName;
    QString dcSiteName;
    QString clientSiteName;
    QString dcAddress; // from DcSockAddr when the reply carries one
    QString nextClosestSiteName;
    quint32 ntVersion = 0;
};

namespace netlogon {

constexpr quint16 kOpLogonResponseEx = 23;
constexpr quint16 kOpUserUnknownEx = 25;

// Parses the value of the rootDSE "Netlogon" attribute. Every read is bounds-checked; compressed
// names may point anywhere in the message but a name is at most 255 bytes and a chain at most 16 jumps.
// On failure the error says why.
Result<NetlogonReply> parseResponseEx(const QByteArray& data);

// Reads one possibly compressed DNS name starting at `offset`; advances offset past it in the
// original stream. Exposed for tests.
Result<QString> readCompressedName(const QByteArray& data, int& offset);

// The connectionless LDAP search for the rootDSE Netlogon attribute (this and decodePingReply are built on Linux
// only, in directory/linux: on Windows the system pings):
// (&(DnsDomain=domain)(NtVer=...)), or only (NtVer=...) when domain is empty.
QByteArray encodePingRequest(int messageId, const QString& dnsDomain, quint32 ntVersion);

// The search filter of the same request in string form, for the TCP search through libldap.
QByteArray pingFilter(const QString& dnsDomain, quint32 ntVersion);
// The NtVer value of the ping: the version bits, 4 bytes little-endian.
QByteArray ntVerBytes(quint32 ntVersion);

// Pulls the Netlogon value out of a connectionless LDAP reply datagram (a search entry followed by the
// search result). An error when the datagram is malformed, answers another message id or holds no entry.
// `declined` is set when the server answered with a result but no entry (it serves no such domain).
Result<QByteArray> decodePingReply(const QByteArray& datagram, int expectedMessageId, bool* declined = nullptr);

// The GUID as 38 characters with braces, upper case; empty for anything that is not 16 bytes.
QString guidText(const QByteArray& guid);

} // namespace netlogon
} // namespace fw
