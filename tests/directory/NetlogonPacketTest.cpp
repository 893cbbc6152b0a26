#include "directory/NetlogonPacket.h"

#include <gtest/gtest.h>

#include <QtEndian>

using namespace fw;
using namespace fw::netlogon;

namespace {

// Replies captured from Samba 4.17 domain controllers (NtVer 0x0E asked, so the DC address is included).
const QByteArray kWritableDc = QByteArray::fromHex(
    "17000000fd130000cce7aa860200424d9b38a2f0de7b8f1a04636f7270076578616d706c6503636f6d00c01803646331c01804434f5250"
    "000344433100001744656661756c742d46697273742d536974652d4e616d6500c03e10020000000a4d010100000000000000000d000000ffffffff");
const QByteArray kReadOnlyDc = QByteArray::fromHex(
    "17000000fc0a0000cce7aa860200424d9b38a2f0de7b8f1a04636f7270076578616d706c6503636f6d00c01803646332c01804434f5250"
    "00034443320000064272616e636800c03e10020000000a4d020100000000000000000d000000ffffffff");

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray label(const char* s)
{
    return QByteArray(1, static_cast<char>(strlen(s))) + QByteArray(s);
}

// A reply built by hand: names written out once and then pointed at, with the closest-site field.
QByteArray handBuiltReply()
{
    QByteArray m;
    m += QByteArray::fromHex("1900");     // opcode 25, user unknown
    m += QByteArray::fromHex("0000");     // Sbz
    m += le32(0x00000105);                // pdc, ldap... (0x1|0x4|0x100)
    m += QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const int forestAt = static_cast<int>(m.size()); // 24
    m += label("ad") + label("test") + QByteArray(1, '\0');        // ad.test
    m += QByteArray::fromHex("c0") + QByteArray(1, static_cast<char>(forestAt)); // domain = forest
    m += label("srv") + QByteArray::fromHex("c0") + QByteArray(1, static_cast<char>(forestAt)); // srv.ad.test
    m += label("AD") + QByteArray(1, '\0');
    m += label("SRV") + QByteArray(1, '\0');
    m += QByteArray(1, '\0');                                        // user: empty
    const int siteAt = static_cast<int>(m.size());
    m += label("Site-A") + QByteArray(1, '\0');
    m += label("site-b") + QByteArray(1, '\0');
    m += QByteArray::fromHex("c0") + QByteArray(1, static_cast<char>(siteAt)); // next closest = Site-A
    m += le32(ntver::V5Ex | ntver::WithClosestSite);
    m += QByteArray::fromHex("ffffffff");
    return m;
}

} // namespace

TEST(NetlogonReply, CapturedRepliesOfWritableAndReadOnlyDc)
{
    QString why;
    const auto w = parseResponseEx(kWritableDc, &why);
    ASSERT_TRUE(w) << why.toStdString();
    EXPECT_EQ(w->opcode, kOpLogonResponseEx);
    EXPECT_EQ(w->flags, 0x13fdu); // writable, PDC
    EXPECT_EQ(guidText(w->domainGuid), "{86AAE7CC-0002-4D42-9B38-A2F0DE7B8F1A}");
    EXPECT_EQ(w->dnsForestName, "corp.example.com");
    EXPECT_EQ(w->dnsDomainName, "corp.example.com");
    EXPECT_EQ(w->dnsHostName, "dc1.corp.example.com");
    EXPECT_EQ(w->netbiosDomainName, "CORP");
    EXPECT_EQ(w->netbiosComputerName, "DC1");
    EXPECT_EQ(w->userName, "");
    EXPECT_EQ(w->dcSiteName, "Default-First-Site-Name");
    EXPECT_EQ(w->clientSiteName, "Default-First-Site-Name");
    EXPECT_EQ(w->dcAddress, "10.77.1.1");
    EXPECT_EQ(w->ntVersion, 0x0du);

    const auto r = parseResponseEx(kReadOnlyDc, &why);
    ASSERT_TRUE(r) << why.toStdString();
    EXPECT_EQ(r->flags, 0x0afcu); // read-only: not writable, SelectSecretDomain6
    EXPECT_EQ(r->dnsHostName, "dc2.corp.example.com");
    EXPECT_EQ(r->dcSiteName, "Branch");
    EXPECT_EQ(r->clientSiteName, "Branch");
    EXPECT_EQ(r->dcAddress, "10.77.2.1");
}

TEST(NetlogonReply, HandBuiltReplyWithPointersAndClosestSite)
{
    QString why;
    const auto r = parseResponseEx(handBuiltReply(), &why);
    ASSERT_TRUE(r) << why.toStdString();
    EXPECT_EQ(r->opcode, kOpUserUnknownEx);
    EXPECT_EQ(r->flags, 0x105u);
    EXPECT_EQ(guidText(r->domainGuid), "{33221100-5544-7766-8899-AABBCCDDEEFF}");
    EXPECT_EQ(r->dnsForestName, "ad.test");
    EXPECT_EQ(r->dnsDomainName, "ad.test");
    EXPECT_EQ(r->dnsHostName, "srv.ad.test");
    EXPECT_EQ(r->netbiosDomainName, "AD");
    EXPECT_EQ(r->netbiosComputerName, "SRV");
    EXPECT_EQ(r->dcSiteName, "Site-A");
    EXPECT_EQ(r->clientSiteName, "site-b");
    EXPECT_EQ(r->nextClosestSiteName, "Site-A");
    EXPECT_TRUE(r->dcAddress.isEmpty()); // not asked for, not present
}

TEST(NetlogonReply, EveryTruncationIsRefusedWithoutOverRead)
{
    for (const QByteArray& full : {kWritableDc, kReadOnlyDc, handBuiltReply()}) {
        for (int n = 0; n < full.size(); ++n) {
            // A detached copy of exactly n bytes, so that a read past the end would be caught by ASan.
            const QByteArray cut(full.constData(), n);
            QString why;
            const auto r = parseResponseEx(cut, &why);
            EXPECT_FALSE(r) << "accepted a reply cut to " << n << " bytes";
            EXPECT_FALSE(why.isEmpty()) << n;
        }
    }
}

TEST(NetlogonReply, BadCompressionPointersAndLoopsAreRefused)
{
    QString why;
    struct Case {
        const char* hex;
        const char* why;
    };
    const Case cases[] = {
        {"c000", "loop"},            // pointer to itself
        {"c002c000", "loop"},        // two pointers pointing at each other
        {"03616263c0ff", "outside"}, // pointer past the end of the message
        {"03616263c0", ""},          // pointer cut in half
        {"4161", ""},                // reserved label type bits 0x40
        {"8161", ""},                // and 0x80
        {"0a6162", ""},              // label longer than what is left
    };
    for (const Case& c : cases) {
        int off = 0;
        EXPECT_FALSE(readCompressedName(QByteArray::fromHex(c.hex), off, &why)) << c.hex;
        EXPECT_TRUE(why.contains(QLatin1String(c.why))) << c.hex << ": " << why.toStdString();
    }
    // A name of more than 255 bytes built from a chain of pointers to long labels.
    {
        QByteArray d;
        d += QByteArray(1, 63) + QByteArray(63, 'a') + QByteArray(1, '\0');      // offset 0
        QByteArray chain;
        for (int i = 0; i < 5; ++i)
            chain += QByteArray(1, 63) + QByteArray(63, 'b');
        d += chain + QByteArray::fromHex("c000");
        int off = 65;
        EXPECT_FALSE(readCompressedName(d, off, &why));
        EXPECT_TRUE(why.contains("longer"));
    }
    // A pointer resumes the stream after itself.
    {
        QByteArray d = QByteArray::fromHex("0161000162c00000");
        int off = 3;
        const auto n = readCompressedName(d, off, &why);
        ASSERT_TRUE(n);
        EXPECT_EQ(*n, "b.a");
        EXPECT_EQ(off, 7);
    }
}

TEST(NetlogonReply, PaddedMislabelledOrOldStyleRepliesAreRefused)
{
    QString why;
    EXPECT_FALSE(parseResponseEx(kWritableDc + QByteArray(4, '\0'), &why));
    QByteArray m = kWritableDc;
    m[m.size() - 8] = 0x09; // V1 | WITH_IP, no extended-response bit
    EXPECT_FALSE(parseResponseEx(m, &why));
    m = kWritableDc;
    m[m.size() - 1] = 0x00; // bad tokens
    EXPECT_FALSE(parseResponseEx(m, &why));
    m = kWritableDc;
    m[0] = 0x13; // 19: the old-style response
    EXPECT_FALSE(parseResponseEx(m, &why));
    EXPECT_TRUE(why.contains("opcode")) << why.toStdString();
}

TEST(NetlogonPing, RequestIsEncodedByteForByte)
{
    const QByteArray expected = QByteArray::fromHex(
        "3045"               // LDAPMessage
        "020101"             // messageID 1
        "6340"               // SearchRequest
        "0400"               // base ""
        "0a0100" "0a0100"    // scope base, never deref
        "020100" "020100"    // size and time limits
        "010100"             // typesOnly FALSE
        "a021"               // and
        "a310" "0409" "446e73446f6d61696e" "0403" "612e62"   // DnsDomain=a.b
        "a30d" "0405" "4e74566572" "040406000000"           // NtVer=06 00 00 00
        "300a" "0408" "4e65746c6f676f6e");                  // attributes: Netlogon
    EXPECT_EQ(encodePingRequest(1, QStringLiteral("a.b"), 6).toHex(), expected.toHex());

    // Without a domain only the NtVer match remains, not wrapped in an and.
    const QByteArray bare = encodePingRequest(300, QString(), 0x16);
    EXPECT_TRUE(bare.startsWith(QByteArray::fromHex("3032" "0202012c" "632c")));
    EXPECT_TRUE(bare.contains(QByteArray::fromHex("a30d04054e74566572040416000000")));
    EXPECT_FALSE(bare.contains(QByteArray::fromHex("a0")));
}

TEST(NetlogonPing, FilterTextEscapesTheVersionAndSpecialCharacters)
{
    EXPECT_EQ(pingFilter(QStringLiteral("corp.example.com"), 0x16), QByteArray("(&(DnsDomain=corp.example.com)(NtVer=\\16\\00\\00\\00))"));
    EXPECT_EQ(pingFilter(QString(), 6), QByteArray("(NtVer=\\06\\00\\00\\00)"));
    EXPECT_EQ(pingFilter(QStringLiteral("a*(b)"), 6), QByteArray("(&(DnsDomain=a\\2a\\28b\\29)(NtVer=\\06\\00\\00\\00))"));
}

namespace {

QByteArray tlv(quint8 tag, const QByteArray& body)
{
    QByteArray out(1, static_cast<char>(tag));
    if (body.size() < 128) {
        out += static_cast<char>(body.size());
    } else {
        out += static_cast<char>(0x82);
        out += static_cast<char>(body.size() >> 8);
        out += static_cast<char>(body.size() & 0xff);
    }
    return out + body;
}

QByteArray replyDatagram(int id, const QByteArray& attrName, const QByteArray& value)
{
    const QByteArray attr = tlv(0x30, tlv(0x04, attrName) + tlv(0x31, tlv(0x04, value)));
    const QByteArray entry = tlv(0x30, tlv(0x02, QByteArray(1, static_cast<char>(id))) + tlv(0x64, tlv(0x04, "") + tlv(0x30, attr)));
    const QByteArray done = tlv(0x30, tlv(0x02, QByteArray(1, static_cast<char>(id))) + tlv(0x65, QByteArray::fromHex("0a01000400" "0400")));
    return entry + done;
}

} // namespace

TEST(NetlogonPing, ReplyDatagramIsDecoded)
{
    QString why;
    const auto v = decodePingReply(replyDatagram(7, "netlogon", kWritableDc), 7, &why);
    ASSERT_TRUE(v) << why.toStdString();
    EXPECT_EQ(*v, kWritableDc);

    EXPECT_FALSE(decodePingReply(replyDatagram(7, "netlogon", kWritableDc), 8, &why));
    EXPECT_TRUE(why.contains("expected 8"));
    EXPECT_FALSE(decodePingReply(replyDatagram(7, "other", kWritableDc), 7, &why));
    EXPECT_TRUE(why.contains("no Netlogon"));
    // Only the result, no entry (a DC that does not serve the domain asked for).
    const QByteArray onlyDone = tlv(0x30, tlv(0x02, QByteArray(1, 7)) + tlv(0x65, QByteArray::fromHex("0a01200400" "0400")));
    EXPECT_FALSE(decodePingReply(onlyDone, 7, &why));
    EXPECT_TRUE(why.contains("result 32"));
    // Garbage and every truncation of a good datagram.
    EXPECT_FALSE(decodePingReply(QByteArray::fromHex("ff00ff00"), 7, &why));
    const QByteArray good = replyDatagram(7, "Netlogon", kReadOnlyDc);
    for (int n = 0; n < good.size(); ++n) {
        const QByteArray cut(good.constData(), n);
        const auto r = decodePingReply(cut, 7, &why);
        if (r) {
            EXPECT_EQ(*r, kReadOnlyDc) << n; // only cuts inside the trailing result message keep the entry
        }
    }
}

TEST(NetlogonPing, GuidTextNeedsSixteenBytes)
{
    EXPECT_EQ(guidText(QByteArray(16, '\0')), "{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(guidText(QByteArray(15, '\0')), "");
}
