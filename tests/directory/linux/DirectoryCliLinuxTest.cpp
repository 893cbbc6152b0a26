#include "directory/NetlogonResponder.h"
#include "support/CliProcess.h"

#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using fw::test::cli;
using fw::test::CliRun;

// test-server is the window's primary manual test: the window's texts, then the details on indented lines.
// The loopback peer listens on the standard ports, so this needs root (or a low unprivileged port start).
TEST(DirectoryCli, TestServerPrintsTheWindowsTextsAndNoWritabilityForAServerNotFound)
{
    using fw::test::NetlogonResponder;
    using Mode = NetlogonResponder::Mode;
    const QStringList noDomain{QStringLiteral("--domain"), QString()};
    auto peer = [](Mode mode, quint16 port, bool writable = true, const QString& site = QString()) {
        NetlogonResponder::Config c;
        c.port = port;
        c.udp = c.tcp = mode;
        c.writable = writable;
        c.site = site; // this computer's site is unknown: no site is the same site
        return std::make_unique<NetlogonResponder>(c);
    };
    const QString noSite = QStringLiteral("  site of this computer unknown: this computer belongs to no domain\n");
    const struct {
        Mode mode;
        bool writable;
        const char* site;
        int code;
        QString out;
    } cases[] = {
        {Mode::Silent, true, "", 1,
         "Server not found or not functioning as a domain controller.\n"
         "  LDAP search of 127.0.0.41 cut short at the 5-second deadline\n"},
        {Mode::Answer, true, "", 0, "Domain controller found.\n  server site '', local site ''\n" + noSite},
        {Mode::Answer, false, "", 1,
         "Domain controller found.\nNon writable domain controller. Velmora will not work with non-writable domain controller.\n"
         "  server site '', local site ''\n" +
             noSite},
        {Mode::Answer, true, "Branch", 0,
         "WARNING.  The domain controller was found, however it's not in the same site as the local server.  "
         "This is NOT a reccomended configuration!\n  server site 'Branch', local site ''\n" +
             noSite},
    };
    std::unique_ptr<NetlogonResponder> dcPeer;
    for (const auto& c : cases) {
        dcPeer.reset(); // frees port 389 first
        dcPeer = peer(c.mode, 389, c.writable, QString::fromLatin1(c.site));
        if (!dcPeer->ok())
            GTEST_SKIP() << dcPeer->error().toStdString();
        const CliRun r = cli(QStringList{"test-server", "127.0.0.41", "--dc"} + noDomain);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_EQ(r.out, c.out) << r.out.toStdString();
    }

    dcPeer.reset(); // the GC's site lookup finds nothing on port 389: both sites unknown
    auto gcPeer = peer(Mode::Answer, 3268);
    ASSERT_TRUE(gcPeer->ok()) << gcPeer->error().toStdString();
    CliRun r = cli(QStringList{"test-server", "127.0.0.41", "--gc"} + noDomain);
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.startsWith("Gobal catalog server found.\n")) << r.out.toStdString();
    // A request the run sent may still be on its way to the peer's thread after the run ended: count once it is quiet.
    const auto quietCount = [&gcPeer] {
        int seen = -1;
        for (int i = 0; i < 40; ++i) {
            const int now = gcPeer->udpRequests() + gcPeer->tcpRequests();
            if (now == seen)
                return now;
            seen = now;
            QThread::msleep(100);
        }
        return seen;
    };
    const int asked = quietCount();
    r = cli(QStringList{"test-server", "gc1.corp.example.com/x", "--gc", "--json"} + noDomain);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains("\"Server not found or not functioning as a global catalog server.\"")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("\"detail\": \"'gc1.corp.example.com/x' is not a DNS host name\"")) << r.out.toStdString();
    EXPECT_EQ(quietCount(), asked);
}
