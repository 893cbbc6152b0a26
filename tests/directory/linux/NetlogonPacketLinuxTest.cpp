#include "directory/NetlogonPacket.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <tuple>

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

// A reply written by hand: names written out once and then pointed at, with the closest-site field.
const QByteArray kHandBuilt = QByteArray::fromHex("1900"
                                                  "0000"
                                                  "05010000"                         // opcode 25 (user unknown), Sbz, flags 0x105
                                                  "00112233445566778899aabbccddeeff" // domain GUID
                                                  "026164"
                                                  "0474657374"
                                                  "00"   // at 24: forest ad.test
                                                  "c018" // domain: the forest
                                                  "03737276"
                                                  "c018" // host srv.ad.test
                                                  "02414400"
                                                  "0353525600"
                                                  "00"               // AD, SRV, no user
                                                  "06536974652d4100" // at 51: DC site Site-A
                                                  "06736974652d6200" // client site site-b
                                                  "c033"             // next closest: Site-A
                                                  "14000000"
                                                  "ffffffff"); // NtVer V5Ex | WithClosestSite, tokens

// Every field, in the order of the reply.
QString describe(const NetlogonReply& r)
{
    // clang-format off
    return QStringList{QString::number(int(r.opcode)), QString::number(r.flags, 16), guidText(r.domainGuid), r.dnsForestName,
                       r.dnsDomainName, r.dnsHostName, r.netbiosDomainName, r.netbiosComputerName, r.userName, r.dcSiteName,
                       r.clientSiteName, r.nextClosestSiteName, r.dcAddress, QString::number(r.ntVersion, 16)}
        .join(QLatin1Char('|'));
    // clang-format on
}

} // namespace

TEST(NetlogonReply, CapturedAndHandBuiltRepliesAreReadWhole)
{
    const struct {
        QByteArray reply;
        const char* fields;
    } cases[] = {
        {kWritableDc, "23|13fd|{86AAE7CC-0002-4D42-9B38-A2F0DE7B8F1A}|corp.example.com|corp.example.com|"
                      "dc1.corp.example.com|CORP|DC1||Default-First-Site-Name|Default-First-Site-Name||10.77.1.1|d"},
        // Read-only: not writable, SelectSecretDomain6.
        {kReadOnlyDc, "23|afc|{86AAE7CC-0002-4D42-9B38-A2F0DE7B8F1A}|corp.example.com|corp.example.com|"
                      "dc2.corp.example.com|CORP|DC2||Branch|Branch||10.77.2.1|d"},
        // No DC address: not asked for, not present.
        {kHandBuilt,
         "25|105|{33221100-5544-7766-8899-AABBCCDDEEFF}|ad.test|ad.test|srv.ad.test|AD|SRV||Site-A|site-b|Site-A||14"},
    };
    for (const auto& c : cases) {
        const Result<NetlogonReply> r = parseResponseEx(c.reply);
        ASSERT_TRUE(r) << r.error().description.toStdString();
        EXPECT_EQ(describe(*r), c.fields);
    }
}

TEST(NetlogonReply, EveryTruncationIsRefusedWithoutOverRead)
{
    for (const QByteArray& full : {kWritableDc, kReadOnlyDc, kHandBuilt}) {
        for (int n = 0; n < full.size(); ++n) {
            // A detached copy of exactly n bytes, so that a read past the end would be caught by ASan.
            const QByteArray cut(full.constData(), n);
            const Result<NetlogonReply> r = parseResponseEx(cut);
            EXPECT_FALSE(r) << "accepted a reply cut to " << n << " bytes";
            EXPECT_FALSE(r.error().description.isEmpty()) << n;
        }
    }
}

TEST(NetlogonReply, BadCompressionPointersAndLoopsAreRefused)
{
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
        const Result<QString> n = readCompressedName(QByteArray::fromHex(c.hex), off);
        EXPECT_FALSE(n) << c.hex;
        EXPECT_TRUE(n.error().description.contains(QLatin1String(c.why))) << c.hex << ": " << n.error().description.toStdString();
    }
    // A name of more than 255 bytes built from a chain of pointers to long labels.
    {
        QByteArray d;
        d += QByteArray(1, 63) + QByteArray(63, 'a') + QByteArray(1, '\0'); // offset 0
        QByteArray chain;
        for (int i = 0; i < 5; ++i)
            chain += QByteArray(1, 63) + QByteArray(63, 'b');
        d += chain + QByteArray::fromHex("c000");
        int off = 65;
        const Result<QString> n = readCompressedName(d, off);
        EXPECT_FALSE(n);
        EXPECT_TRUE(n.error().description.contains("longer"));
    }
    // A pointer resumes the stream after itself.
    {
        QByteArray d = QByteArray::fromHex("0161000162c00000");
        int off = 3;
        const Result<QString> n = readCompressedName(d, off);
        ASSERT_TRUE(n);
        EXPECT_EQ(*n, "b.a");
        EXPECT_EQ(off, 7);
    }
}

TEST(NetlogonReply, PaddedMislabelledOrOldStyleRepliesAreRefused)
{
    EXPECT_FALSE(parseResponseEx(kWritableDc + QByteArray(4, '\0')));
    QByteArray m = kWritableDc;
    m[m.size() - 8] = 0x09; // V1 | WITH_IP, no extended-response bit
    EXPECT_FALSE(parseResponseEx(m));
    m = kWritableDc;
    m[m.size() - 1] = 0x00; // bad tokens
    EXPECT_FALSE(parseResponseEx(m));
    m = kWritableDc;
    m[0] = 0x13; // 19: the old-style response
    const Result<NetlogonReply> old = parseResponseEx(m);
    EXPECT_FALSE(old);
    EXPECT_TRUE(old.error().description.contains("opcode")) << old.error().description.toStdString();
}

TEST(NetlogonPing, RequestIsEncodedByteForByte)
{
    const QByteArray expected = QByteArray::fromHex("3045"   // LDAPMessage
                                                    "020101" // messageID 1
                                                    "6340"   // SearchRequest
                                                    "0400"   // base ""
                                                    "0a0100"
                                                    "0a0100" // scope base, never deref
                                                    "020100"
                                                    "020100" // size and time limits
                                                    "010100" // typesOnly FALSE
                                                    "a021"   // and
                                                    "a310"
                                                    "0409"
                                                    "446e73446f6d61696e"
                                                    "0403"
                                                    "612e62" // DnsDomain=a.b
                                                    "a30d"
                                                    "0405"
                                                    "4e74566572"
                                                    "040406000000" // NtVer=06 00 00 00
                                                    "300a"
                                                    "0408"
                                                    "4e65746c6f676f6e"); // attributes: Netlogon
    EXPECT_EQ(encodePingRequest(1, QStringLiteral("a.b"), 6).toHex(), expected.toHex());

    // Without a domain only the NtVer match remains, not wrapped in an and.
    const QByteArray bare = encodePingRequest(300, QString(), 0x16);
    EXPECT_TRUE(bare.startsWith(QByteArray::fromHex("3032"
                                                    "0202012c"
                                                    "632c")));
    EXPECT_TRUE(bare.contains(QByteArray::fromHex("a30d04054e74566572040416000000")));
    EXPECT_FALSE(bare.contains(QByteArray::fromHex("a0")));
}

TEST(NetlogonPing, FilterTextEscapesTheVersionAndSpecialCharacters)
{
    EXPECT_EQ(pingFilter(QStringLiteral("corp.example.com"), 0x16),
              QByteArray("(&(DnsDomain=corp.example.com)(NtVer=\\16\\00\\00\\00))"));
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
    const QByteArray entry = tlv(0x30,
                                 tlv(0x02, QByteArray(1, static_cast<char>(id))) + tlv(0x64, tlv(0x04, "") + tlv(0x30, attr)));
    const QByteArray done = tlv(0x30, tlv(0x02, QByteArray(1, static_cast<char>(id))) + tlv(0x65, QByteArray::fromHex("0a01000400"
                                                                                                                      "0400")));
    return entry + done;
}

} // namespace

TEST(NetlogonPing, ReplyDatagramIsDecoded)
{
    const Result<QByteArray> v = decodePingReply(replyDatagram(7, "netlogon", kWritableDc), 7);
    ASSERT_TRUE(v) << v.error().description.toStdString();
    EXPECT_EQ(*v, kWritableDc);

    for (const auto& [datagram, id, why] : {std::tuple{replyDatagram(7, "netlogon", kWritableDc), 8, "expected 8"},
                                            {replyDatagram(7, "other", kWritableDc), 7, "no Netlogon"},
                                            // Only the result, no entry (a DC that does not serve the domain asked for).
                                            {tlv(0x30, tlv(0x02, QByteArray(1, 7)) + tlv(0x65, QByteArray::fromHex("0a01200400"
                                                                                                                   "0400"))),
                                             7, "result 32"}}) {
        const Result<QByteArray> r = decodePingReply(datagram, id);
        EXPECT_FALSE(r) << why;
        EXPECT_TRUE(r.error().description.contains(QLatin1String(why))) << r.error().description.toStdString();
    }
    // Garbage and every truncation of a good datagram.
    EXPECT_FALSE(decodePingReply(QByteArray::fromHex("ff00ff00"), 7));
    const QByteArray good = replyDatagram(7, "Netlogon", kReadOnlyDc);
    for (int n = 0; n < good.size(); ++n) {
        const QByteArray cut(good.constData(), n);
        const Result<QByteArray> r = decodePingReply(cut, 7);
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
