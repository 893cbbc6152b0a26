#include "directory/NetTools.h"

#include "directory/Deadline.h"
#include "platform/windows/Win32Text.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windns.h>

namespace fw::net {

Result<QList<SrvTarget>> lookupSrv(const QString& name, const Deadline& deadline, bool* notFound, const NameServer& server)
{
    if (notFound)
        *notFound = false;
    bool v4 = false;
    const quint32 serverV4 = server.address.toIPv4Address(&v4);
    if (!server.address.isNull() && !v4)
        return FwError{0, QStringLiteral("DNS server %1 is not an IPv4 address").arg(server.address.toString())};
    // DnsQuery_W asks a named server on port 53 only.
    if (v4 && server.port != 53)
        return FwError{0, QStringLiteral("DNS server %1 on port %2: Windows asks DNS servers on port 53 only")
                              .arg(server.address.toString())
                              .arg(server.port)};
    struct Answer {
        DNS_STATUS status = 0;
        QList<SrvTarget> records;
    };
    const std::wstring wname = name.toStdWString();
    const auto answer = runWithin<Answer>(deadline, [wname, v4, serverV4] {
        Answer a;
        IP4_ARRAY servers{};
        servers.AddrCount = 1;
        servers.AddrArray[0] = htonl(serverV4);
        PDNS_RECORD records = nullptr;
        a.status = DnsQuery_W(wname.c_str(), DNS_TYPE_SRV, DNS_QUERY_STANDARD, v4 ? &servers : nullptr, &records, nullptr);
        for (PDNS_RECORD r = records; a.status == 0 && r; r = r->pNext) {
            if (r->wType != DNS_TYPE_SRV || r->Flags.S.Section != DnsSectionAnswer)
                continue;
            SrvTarget t;
            t.host = QString::fromWCharArray(r->Data.SRV.pNameTarget);
            t.port = r->Data.SRV.wPort;
            t.priority = r->Data.SRV.wPriority;
            t.weight = r->Data.SRV.wWeight;
            a.records.append(t);
        }
        if (records)
            DnsRecordListFree(records, DnsFreeRecordList);
        return a;
    });
    if (!answer)
        return FwError{0, Deadline::cutShort(QStringLiteral("DNS SRV lookup"), name)};
    if (answer->status != 0) {
        if (notFound)
            *notFound = answer->status == DNS_ERROR_RCODE_NAME_ERROR || answer->status == DNS_INFO_NO_RECORDS;
        return FwError{0, QStringLiteral("DNS lookup of %1: %2").arg(name, win::win32Text(answer->status))};
    }
    return usableSrvTargets(answer->records, name);
}

Result<QList<QHostAddress>> resolveHost(const QString& host, const Deadline& deadline)
{
    const QHostAddress literal(host);
    if (!literal.isNull())
        return QList<QHostAddress>{literal};
    if (host.isEmpty())
        return FwError{0, QStringLiteral("no server name")};
    struct Answer {
        int rc = 0;
        QList<QHostAddress> addresses;
    };
    const std::wstring wname = host.toStdWString();
    const auto answer = runWithin<Answer>(deadline, [wname] {
        Answer a;
        WSADATA wsa;
        if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
            a.rc = WSANOTINITIALISED;
            return a;
        }
        ADDRINFOW hints{};
        hints.ai_socktype = SOCK_STREAM;
        ADDRINFOW* res = nullptr;
        a.rc = GetAddrInfoW(wname.c_str(), nullptr, &hints, &res);
        for (ADDRINFOW* i = res; a.rc == 0 && i; i = i->ai_next) {
            QHostAddress addr(i->ai_addr);
            if (!addr.isNull() && !a.addresses.contains(addr))
                a.addresses.append(addr);
        }
        if (res)
            FreeAddrInfoW(res);
        WSACleanup();
        return a;
    });
    if (!answer)
        return FwError{0, Deadline::cutShort(QStringLiteral("address lookup"), host)};
    if (answer->rc != 0 || answer->addresses.isEmpty())
        return FwError{0, QStringLiteral("%1 does not resolve: %2").arg(host, win::win32Text(static_cast<DWORD>(answer->rc)))};
    QList<QHostAddress> v4, v6;
    for (const QHostAddress& a : answer->addresses)
        (a.protocol() == QAbstractSocket::IPv4Protocol ? v4 : v6).append(a);
    return v4 + v6;
}

} // namespace fw::net
