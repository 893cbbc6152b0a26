#include "directory/NetlogonPacket.h"

#include <QStringList>
#include <QUuid>
#include <QtEndian>

#include <cstring>
#include <memory>
#include <optional>
#include <utility>

namespace fw::netlogon {
namespace {

constexpr int kMaxNameLength = 255;
constexpr int kMaxPointerJumps = 16;

// A little cursor that refuses to read past the end.
class Reader {
public:
    explicit Reader(const QByteArray& d) : m_d(d) {}
    bool u8(quint8& v)
    {
        if (m_pos + 1 > m_d.size())
            return false;
        v = static_cast<quint8>(m_d[m_pos]);
        m_pos += 1;
        return true;
    }
    bool u16le(quint16& v)
    {
        if (m_pos + 2 > m_d.size())
            return false;
        v = qFromLittleEndian<quint16>(m_d.constData() + m_pos);
        m_pos += 2;
        return true;
    }
    bool u32le(quint32& v)
    {
        if (m_pos + 4 > m_d.size())
            return false;
        v = qFromLittleEndian<quint32>(m_d.constData() + m_pos);
        m_pos += 4;
        return true;
    }
    bool bytes(int n, QByteArray& out)
    {
        if (n < 0 || m_pos + n > m_d.size())
            return false;
        out = m_d.mid(m_pos, n);
        m_pos += n;
        return true;
    }
    Result<void> name(QString& out, const char* field)
    {
        auto n = readCompressedName(m_d, m_pos);
        if (!n)
            return FwError{0, QStringLiteral("%1: %2").arg(QLatin1String(field), n.error().description)};
        out = std::move(n).value();
        return Result<void>::success();
    }
    int pos() const { return m_pos; }
    int remaining() const { return static_cast<int>(m_d.size()) - m_pos; }

private:
    const QByteArray& m_d;
    int m_pos = 0;
};

QByteArray escapeFilterBytes(const QByteArray& raw)
{
    QByteArray out;
    for (const char c : raw)
        out += '\\' + QByteArray::number(static_cast<quint8>(c), 16).rightJustified(2, '0');
    return out;
}

QByteArray escapeFilterValue(const QByteArray& v)
{
    QByteArray out;
    for (const char c : v) {
        if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0')
            out += '\\' + QByteArray::number(static_cast<quint8>(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

} // namespace

Result<QString> readCompressedName(const QByteArray& data, int& offset)
{
    const int size = static_cast<int>(data.size());
    int pos = offset;
    int resumeAt = -1; // where the caller's stream goes on after the first pointer
    int jumps = 0;
    int total = 0;
    QStringList labels;
    for (;;) {
        if (pos < 0 || pos >= size)
            return FwError{0, QStringLiteral("name runs past the end at offset %1").arg(pos)};
        const quint8 len = static_cast<quint8>(data[pos]);
        if (len == 0) {
            if (resumeAt < 0)
                resumeAt = pos + 1;
            break;
        }
        if ((len & 0xC0) == 0xC0) {
            if (pos + 1 >= size)
                return FwError{0, QStringLiteral("truncated compression pointer at offset %1").arg(pos)};
            const int target = ((len & 0x3F) << 8) | static_cast<quint8>(data[pos + 1]);
            if (resumeAt < 0)
                resumeAt = pos + 2;
            if (++jumps > kMaxPointerJumps)
                return FwError{0, QStringLiteral("compression pointers loop")};
            if (target >= size)
                return FwError{0, QStringLiteral("compression pointer to offset %1 outside the message").arg(target)};
            pos = target;
            continue;
        }
        if ((len & 0xC0) != 0)
            return FwError{0,
                           QStringLiteral("bad label length byte 0x%1 at offset %2").arg(len, 2, 16, QLatin1Char('0')).arg(pos)};
        if (pos + 1 + len > size)
            return FwError{0, QStringLiteral("label at offset %1 runs past the end").arg(pos)};
        total += len + 1;
        if (total > kMaxNameLength)
            return FwError{0, QStringLiteral("name longer than %1 bytes").arg(kMaxNameLength)};
        labels.append(QString::fromUtf8(data.constData() + pos + 1, len));
        pos += 1 + len;
    }
    offset = resumeAt;
    return labels.join(QLatin1Char('.'));
}

Result<NetlogonReply> parseResponseEx(const QByteArray& data)
{
    NetlogonReply r;
    Reader in(data);
    quint16 sbz = 0;
    if (!in.u16le(r.opcode) || !in.u16le(sbz) || !in.u32le(r.flags))
        return FwError{0, QStringLiteral("reply shorter than its fixed header")};
    if (r.opcode != kOpLogonResponseEx && r.opcode != kOpUserUnknownEx)
        return FwError{0, QStringLiteral("opcode %1 is not an extended logon response").arg(r.opcode)};
    if (!in.bytes(16, r.domainGuid))
        return FwError{0, QStringLiteral("reply ends inside the domain GUID")};
    const std::pair<QString*, const char*> names[] = {
        {&r.dnsForestName, "DnsForestName"},
        {&r.dnsDomainName, "DnsDomainName"},
        {&r.dnsHostName, "DnsHostName"},
        {&r.netbiosDomainName, "NetbiosDomainName"},
        {&r.netbiosComputerName, "NetbiosComputerName"},
        {&r.userName, "UserName"},
        {&r.dcSiteName, "DcSiteName"},
        {&r.clientSiteName, "ClientSiteName"},
    };
    for (const auto& [field, label] : names) {
        if (const Result<void> read = in.name(*field, label); !read)
            return read.error();
    }

    // What follows depends on the version bits, which come last: LmNtToken and Lm20Token are the final
    // 4 bytes, NtVersion the 4 before them.
    if (in.remaining() < 8)
        return FwError{0, QStringLiteral("reply ends before its version field")};
    r.ntVersion = qFromLittleEndian<quint32>(data.constData() + data.size() - 8);
    const quint32 tokens = qFromLittleEndian<quint32>(data.constData() + data.size() - 4);
    if (!(r.ntVersion & ntver::V5Ex) || tokens != 0xFFFFFFFFu)
        return FwError{0, QStringLiteral("reply does not end with an extended version field and its two tokens")};
    if (r.ntVersion & ntver::V5ExWithIp) {
        quint8 sockSize = 0;
        QByteArray sock;
        if (!in.u8(sockSize) || !in.bytes(sockSize, sock))
            return FwError{0, QStringLiteral("reply ends inside the DC address")};
        if (sockSize >= 8 && qFromLittleEndian<quint16>(sock.constData()) == 2 /* AF_INET */) {
            const auto* a = reinterpret_cast<const quint8*>(sock.constData() + 4);
            r.dcAddress = QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]);
        }
    }
    if (r.ntVersion & ntver::WithClosestSite) {
        if (const Result<void> read = in.name(r.nextClosestSiteName, "NextClosestSiteName"); !read)
            return read.error();
    }
    // The fields must use up the reply exactly: a cut or padded reply is not trusted.
    if (in.remaining() != 8)
        return FwError{0, QStringLiteral("reply length does not match its version bits (%1 bytes left)").arg(in.remaining() - 8)};
    return r;
}

QByteArray ntVerBytes(quint32 ntVersion)
{
    QByteArray v(4, '\0');
    qToLittleEndian<quint32>(ntVersion, v.data());
    return v;
}

QByteArray pingFilter(const QString& dnsDomain, quint32 ntVersion)
{
    const QByteArray nt = "(NtVer=" + escapeFilterBytes(ntVerBytes(ntVersion)) + ")";
    if (dnsDomain.isEmpty())
        return nt;
    return "(&(DnsDomain=" + escapeFilterValue(dnsDomain.toUtf8()) + ")" + nt + ")";
}

QString guidText(const QByteArray& guid)
{
    if (guid.size() != 16)
        return {};
    const auto* b = reinterpret_cast<const uchar*>(guid.constData());
    const QUuid u(qFromLittleEndian<quint32>(b), qFromLittleEndian<quint16>(b + 4), qFromLittleEndian<quint16>(b + 6), b[8], b[9],
                  b[10], b[11], b[12], b[13], b[14], b[15]);
    return u.toString(QUuid::WithBraces).toUpper();
}

} // namespace fw::netlogon
