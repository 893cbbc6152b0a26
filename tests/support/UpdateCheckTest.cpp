#include "LocalHttpServer.h"
#include "support/TestContext.h"

#include "support/HttpClient.h"
#include "support/UpdateCheck.h"
#include "support/UpdateHook.h"

#include <QDir>
#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace fw;
using fw::test::LocalHttpServer;

namespace {

const QString kListPath = QString::fromLatin1(kDownloadListPath);

QByteArray downloadList(const QString& version, const QString& keyPath = QString::fromLatin1(kHomePagePath),
                        const QString& marker = QStringLiteral("^ifram_a"), const QString& cell = QStringLiteral("<cell>"))
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rows>\n"
                                 " <row id=\"1\"><cell>Other tool^/Applications/Velmora/Other/Other.html^ifram_a</cell>"
                                 "<cell>9.9.99</cell></row>\n");
    xml += QStringLiteral(" <row id=\"2\"><cell>Ferrowind Settings Tool^%1%2</cell>%3%4</cell><cell>2026-11-02</cell></row>\n")
               .arg(keyPath, marker, cell, version);
    xml += QStringLiteral("</rows>\n");
    return xml.toUtf8();
}

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        setLimits({3000, 64 * 1024});
        homePage = server.base() + QString::fromLatin1(kHomePagePath);
    }
    void setLimits(HttpLimits limits) { t.ctx().seams().http = std::make_shared<NetworkHttpClient>(limits); }
    void serveList(const QByteArray& body, int delayMs = 0)
    {
        LocalHttpServer::Route r;
        r.body = body;
        r.delayMs = delayMs;
        server.setRoute(kListPath, r);
    }

    fw::test::TestContext t;
    LocalHttpServer server;
    QString homePage;
};

TEST(PadVersionString, PadsEachPartToFourDigitsAndGivesEmptyForBrokenText)
{
    EXPECT_EQ(PadVersionString(QStringLiteral("1.0.45")), QStringLiteral("0001.0000.0045"));
    EXPECT_EQ(PadVersionString(QStringLiteral("01.002.0046")), QStringLiteral("0001.0002.0046"));
    EXPECT_EQ(PadVersionString(QStringLiteral("1046")), QStringLiteral("1046"));
    EXPECT_EQ(PadVersionString(QStringLiteral("1.0.46.")), QStringLiteral("0001.0000.0046"));
    EXPECT_EQ(PadVersionString(QStringLiteral("1.0.12345")), QStringLiteral("0001.0000.12345"));
    for (const char* broken : {"1.1", "", "1..2"})
        EXPECT_EQ(PadVersionString(QString::fromLatin1(broken)), QString()) << broken;
    FwError e;
    EXPECT_EQ(PadVersionString(QStringLiteral("1.0.beta"), &e), QString());
    EXPECT_EQ(e.number, 13);
    EXPECT_EQ(PadVersionString(QStringLiteral("1.0.46"), &e), QStringLiteral("0001.0000.0046"));
    EXPECT_FALSE(e);
}

TEST(PadVersionString, PartsOfDifferentDigitCountsCompareInNumericOrder)
{
    auto cmp = [](const char* a, const char* b) {
        return compareComparableVersions(PadVersionString(QString::fromLatin1(a)), PadVersionString(QString::fromLatin1(b)));
    };
    EXPECT_LT(cmp("1.0.9", "1.0.10"), 0);
    EXPECT_LT(cmp("1.9.99", "1.10.0"), 0);
    EXPECT_LT(cmp("1.0.9999", "1.0.10000"), 0);
    EXPECT_GT(cmp("2.0.0", "1.99.999"), 0);
    EXPECT_EQ(cmp("1.0.46", "01.00.046"), 0);
    EXPECT_LT(cmp("1.0.46", "1.0.46.1"), 0);
}

TEST(DownloadListAddress, UsesSchemeHostAndPortOfTheHomePage)
{
    EXPECT_EQ(downloadListAddress(QStringLiteral("https://tools.example.org:8443/Applications/Velmora/Ferrowind/Ferrowind.html")),
              QStringLiteral("https://tools.example.org:8443/SiteList/AllDownloads/AllDownloads.XML"));
    EXPECT_EQ(downloadListAddress(QStringLiteral("ftp://tools.example.org/Applications/x.html")), QString());
    EXPECT_EQ(downloadListAddress(QStringLiteral("https://tools.example.org")), QString());
    EXPECT_EQ(downloadListAddress(QStringLiteral("not an address")), QString());
}

TEST_F(UpdateCheckTest, FindsThePublishedVersionOfTheTool)
{
    struct Case {
        const char* what;
        QByteArray list;
        QString extraKey;
        int delayMs = 0;
    };
    const Case cases[] = {
        {"plain", downloadList(QStringLiteral("1.0.46")), QString()},
        {"letter case ignored",
         downloadList(QStringLiteral("1.0.46"), QStringLiteral("/applications/VELMORA/ferrowind/FERROWIND.HTML"), QStringLiteral("^IFRAM_A"),
                      QStringLiteral("<CELL>")),
         QString()},
        {"extra key text", downloadList(QStringLiteral("1.0.46")), QStringLiteral("Ferrowind Settings Tool")},
        {"slow but within the bound", downloadList(QStringLiteral("1.0.46")), QString(), 400},
        {"past runs of spaces", "<rows>" + QByteArray(3000, ' ') + downloadList(QStringLiteral("1.0.46")), QString()},
    };
    for (const Case& c : cases) {
        serveList(c.list, c.delayMs);
        EXPECT_EQ(GetLatestVersion(t.ctx(), homePage, c.extraKey), QStringLiteral("0001.0000.0046")) << c.what;
    }
    EXPECT_EQ(server.requests(kListPath), 5);
    EXPECT_EQ(server.lastUserAgent(), QByteArray("HTTP Generic"));
    EXPECT_EQ(GetLatestVersion(t.ctx(), homePage, QStringLiteral("Other tool")), QString());

    // A redirect on the same site is followed.
    LocalHttpServer::Route moved;
    moved.status = 302;
    moved.extraHeaders = "Location: /lists/all.xml\r\n";
    server.setRoute(kListPath, moved);
    LocalHttpServer::Route list;
    list.body = downloadList(QStringLiteral("1.0.47"));
    server.setRoute(QStringLiteral("/lists/all.xml"), list);
    EXPECT_EQ(GetLatestVersion(t.ctx(), homePage, QString()), QStringLiteral("0001.0000.0047"));
}

TEST_F(UpdateCheckTest, MissingEntryShortAnswerAndShortVersionGiveEmpty)
{
    serveList(downloadList(QStringLiteral("1.0.46"), QStringLiteral("/Applications/Velmora/Else/Else.html")));
    LatestVersionLookup l = lookupLatestVersion(t.ctx(), homePage, QString());
    EXPECT_EQ(l.comparable, QString());
    EXPECT_TRUE(l.error.description.contains(QStringLiteral("no entry")));

    serveList("<rows/>");
    l = lookupLatestVersion(t.ctx(), homePage, QString());
    EXPECT_EQ(l.comparable, QString());
    EXPECT_TRUE(l.error.description.contains(QStringLiteral("too short")));

    serveList(downloadList(QStringLiteral("1.1")));
    l = lookupLatestVersion(t.ctx(), homePage, QString());
    EXPECT_EQ(l.published, QStringLiteral("1.1"));
    EXPECT_EQ(l.comparable, QString());

    serveList(downloadList(QStringLiteral("</cell>")));
    EXPECT_EQ(GetLatestVersion(t.ctx(), homePage, QString()), QString());
}

TEST_F(UpdateCheckTest, ANotFoundPageIsNotReadAsTheList)
{
    LocalHttpServer::Route missing;
    missing.status = 404;
    missing.body = downloadList(QStringLiteral("1.0.46"));
    server.setRoute(kListPath, missing);
    const LatestVersionLookup l = lookupLatestVersion(t.ctx(), homePage, QString());
    EXPECT_EQ(l.comparable, QString());
    EXPECT_TRUE(l.error);
}

TEST_F(UpdateCheckTest, SilentOrDrippingServerIsGivenUpAtTheBound)
{
    setLimits({600, 64 * 1024});
    LocalHttpServer::Route silent;
    silent.silent = true;
    server.setRoute(kListPath, silent);
    QElapsedTimer clock;
    clock.start();
    LatestVersionLookup l = lookupLatestVersion(t.ctx(), homePage, QString());
    EXPECT_EQ(l.comparable, QString());
    EXPECT_EQ(l.error.number, NetworkHttpClient::kTimeoutError);
    EXPECT_LT(clock.elapsed(), 5000);

    // A server that keeps sending a byte now and then is bounded by the whole time, not by a pause.
    LocalHttpServer::Route drip;
    drip.body = downloadList(QStringLiteral("1.0.46"));
    drip.dripIntervalMs = 50;
    server.setRoute(kListPath, drip);
    clock.restart();
    l = lookupLatestVersion(t.ctx(), homePage, QString());
    EXPECT_EQ(l.error.number, NetworkHttpClient::kTimeoutError);
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(UpdateCheckTest, OversizeAnswerIsRefusedWithOrWithoutLength)
{
    setLimits({3000, 4096});
    QByteArray big = downloadList(QStringLiteral("1.0.46"));
    big.append(QByteArray(10000, ' '));
    LocalHttpServer::Route r;
    r.body = big;
    server.setRoute(kListPath, r);
    LatestVersionLookup l = lookupLatestVersion(t.ctx(), homePage, QString());
    EXPECT_EQ(l.comparable, QString());
    EXPECT_EQ(l.error.number, NetworkHttpClient::kTooLargeError);

    r.withLength = false;
    server.setRoute(kListPath, r);
    l = lookupLatestVersion(t.ctx(), homePage, QString());
    EXPECT_EQ(l.comparable, QString());
    EXPECT_EQ(l.error.number, NetworkHttpClient::kTooLargeError);

    // Just under the bound is fine, and so is a body without a length.
    r.body = downloadList(QStringLiteral("1.0.46"));
    server.setRoute(kListPath, r);
    EXPECT_EQ(GetLatestVersion(t.ctx(), homePage, QString()), QStringLiteral("0001.0000.0046"));
}

TEST_F(UpdateCheckTest, NewerVersionIsOfferedAndOkOpensTheHomePage)
{
    serveList(downloadList(QStringLiteral("1.0.46")));
    t.prompter().answers = {Prompter::Answer::Ok};
    EXPECT_EQ(checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), QStringLiteral("1.0.45")),
              UpdateCheckOutcome::NewerAvailable);
    ASSERT_EQ(t.prompter().questions.size(), 1);
    EXPECT_EQ(t.prompter().questions.first(),
              QStringLiteral("An updated version of this tool is available on 127.0.0.1.  Click OK to open the "
                             "application home page now"));
    EXPECT_EQ(t.prompter().titles, QStringList{QStringLiteral("Updated version is available")});
    EXPECT_EQ(t.shell().requests(), QStringList{"address " + homePage});

    t.prompter().answers = {Prompter::Answer::Cancel};
    checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), QStringLiteral("1.0.45"));
    EXPECT_EQ(t.shell().calls.size(), 1);
}

TEST_F(UpdateCheckTest, BrowserThatCannotStartIsReported)
{
    serveList(downloadList(QStringLiteral("1.0.46")));
    t.prompter().answers = {Prompter::Answer::Ok};
    t.shell().next = {false, 31, QStringLiteral("no browser")};
    checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), QStringLiteral("1.0.45"));
    EXPECT_EQ(t.prompter().messages.last(),
              QStringLiteral("Error 31 (no browser) in procedure checkForUpdatedVersion_Foreground of Module modUpdateCheck"));
}

TEST_F(UpdateCheckTest, EqualOrNewerRunningVersionIsUpToDate)
{
    serveList(downloadList(QStringLiteral("1.0.46")));
    EXPECT_EQ(checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), QStringLiteral("1.0.46")),
              UpdateCheckOutcome::UpToDate);
    EXPECT_EQ(checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), QStringLiteral("1.0.100")),
              UpdateCheckOutcome::UpToDate);
    EXPECT_EQ(t.prompter().messages,
              QStringList(2, QStringLiteral("You have the most up to date version of this tool installed")));
    EXPECT_TRUE(t.prompter().questions.isEmpty());
    EXPECT_TRUE(t.shell().calls.isEmpty());
}

TEST_F(UpdateCheckTest, UnreachableSiteNamesTheHost)
{
    const QString nowhere = QStringLiteral("http://127.0.0.1:%1%2").arg(fw::test::closedLoopbackPort()).arg(QString::fromLatin1(kHomePagePath));
    EXPECT_EQ(checkForUpdatedVersion_Foreground(t.ctx(), nowhere, QString(), QStringLiteral("1.0.45")),
              UpdateCheckOutcome::Unreachable);
    serveList(downloadList(QStringLiteral("1.1")));
    EXPECT_EQ(checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), QStringLiteral("1.0.45")),
              UpdateCheckOutcome::Unreachable);
    const QString expected = QStringLiteral("Unable to contact application home page to check for version.  You can "
                                            "access the home page and check for updated versions of all Tarvik Velmora "
                                            "tools by going to 127.0.0.1");
    EXPECT_EQ(t.prompter().messages, QStringList(2, expected));
    EXPECT_TRUE(t.debug().lines.join('\n').contains(QStringLiteral("Update check: ")));
}

TEST_F(UpdateCheckTest, HomePageComesFromTheRegistry)
{
    EXPECT_EQ(homePageAddress(t.ctx()), QStringLiteral("https://ferrowind.example.net/Applications/Velmora/Ferrowind/Ferrowind.html"));
    t.registry().setString(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool"),
                           QStringLiteral("UpdateSite"), server.base() + QStringLiteral("/"));
    EXPECT_EQ(homePageAddress(t.ctx()), homePage);
    serveList(downloadList(QStringLiteral("1.0.46")));
    EXPECT_EQ(GetLatestVersion(t.ctx(), homePageAddress(t.ctx()), QString()), QStringLiteral("0001.0000.0046"));
}

TEST(RunBackgroundUpdateCheck, StartsOnlyAConfiguredScriptWithItsArgumentsAsAList)
{
    fw::test::TestContext t;
    const QString home = homePageAddress(t.ctx());
    EXPECT_TRUE(RunBackgroundUpdateCheck(t.ctx(), home, QString()).isEmpty());
    EXPECT_TRUE(t.shell().calls.isEmpty());

    t.registry().setString(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool"),
                           QStringLiteral("UpdateCheckScript"), QStringLiteral("test.sh"));
    RunBackgroundUpdateCheck(t.ctx(), home, QStringLiteral("x"));
    RunBackgroundUpdateCheck(t.ctx(), home, QStringLiteral("extra key; rm -rf /"));
    // The extra text is one argument, never parsed by a shell.
    const QString started = "program " + QDir(t.dir()).filePath("test.sh") + " | " + AppContext::programVersion() + " | " + home;
    EXPECT_EQ(t.shell().requests(), (QStringList{started, started + " | extra key; rm -rf /"}));

    t.shell().next = {false, 2, QStringLiteral("missing")};
    EXPECT_EQ(RunBackgroundUpdateCheck(t.ctx(), home, QString()).size(), 2); // a failure is ignored
    EXPECT_TRUE(t.prompter().messages.isEmpty());
}

} // namespace
