#include "LocalHttpServer.h"
#include "support/TestContext.h"

#include "support/HttpClient.h"
#include "support/UpdateCheck.h"
#include "support/UpdateHook.h"

#include <QDir>
#include <QElapsedTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace fw;
using fw::test::LocalHttpServer;

namespace {

const QString kListPath = QString::fromLatin1(kDownloadListPath);

QByteArray downloadList(const QString& version, const QString& keyPath = QString::fromLatin1(kHomePagePath),
                        const QString& marker = "^ifram_a", const QString& cell = "<cell>")
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rows>\n"
                                 " <row id=\"1\"><cell>Other tool^/Applications/Velmora/Other/Other.html^ifram_a</cell>"
                                 "<cell>9.9.99</cell></row>\n");
    xml += QStringLiteral(" <row id=\"2\"><cell>Ferrowind Settings Tool^%1%2</cell>%3%4</cell><cell>2026-11-02</cell></row>\n")
               .arg(keyPath, marker, cell, version);
    xml += "</rows>\n";
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
        serve([&](LocalHttpServer::Route& r) {
            r.body = body;
            r.delayMs = delayMs;
        });
    }
    void serve(const std::function<void(LocalHttpServer::Route&)>& set, const QString& path = kListPath)
    {
        LocalHttpServer::Route r;
        set(r);
        server.setRoute(path, r);
    }
    LatestVersionLookup lookup() { return lookupLatestVersion(t.ctx(), homePage, QString()); }

    fw::test::TestContext t;
    LocalHttpServer server;
    QString homePage;
};

TEST(PadVersionString, PadsEachPartToFourDigitsAndGivesEmptyForBrokenText)
{
    // clang-format off
    for (const auto& [text, padded] : {std::pair{"1.0.45", "0001.0000.0045"}, {"01.002.0046", "0001.0002.0046"}, {"1046", "1046"},
                                       {"1.0.46.", "0001.0000.0046"}, {"1.0.12345", "0001.0000.12345"}, {"1.1", ""}, {"", ""},
                                       {"1..2", ""}}) {
        const Result<QString> r = PadVersionString(QString::fromLatin1(text));
        ASSERT_TRUE(r) << text;
        EXPECT_EQ(*r, QString::fromLatin1(padded)) << text;
    }
    // clang-format on
    const Result<QString> broken = PadVersionString("1.0.beta");
    EXPECT_FALSE(broken);
    EXPECT_EQ(broken.error().number, 13);
    const Result<QString> good = PadVersionString("1.0.46");
    ASSERT_TRUE(good);
    EXPECT_EQ(*good, "0001.0000.0046");
}

TEST(PadVersionString, PartsOfDifferentDigitCountsCompareInNumericOrder)
{
    auto cmp = [](const char* a, const char* b) {
        return compareComparableVersions(PadVersionString(QString::fromLatin1(a)).valueOr(QString()),
                                         PadVersionString(QString::fromLatin1(b)).valueOr(QString()));
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
    EXPECT_EQ(downloadListAddress("https://tools.example.org:8443/Applications/Velmora/Ferrowind/Ferrowind.html"),
              "https://tools.example.org:8443/SiteList/AllDownloads/AllDownloads.XML");
    EXPECT_EQ(downloadListAddress("ftp://tools.example.org/Applications/x.html"), QString());
    EXPECT_EQ(downloadListAddress("https://tools.example.org"), QString());
    EXPECT_EQ(downloadListAddress("not an address"), QString());
}

TEST_F(UpdateCheckTest, FindsThePublishedVersionOfTheTool)
{
    for (const auto& [what, list, extraKey, delayMs] :
         {std::tuple{"plain", downloadList("1.0.46"), QString(), 0},
          {"letter case ignored",
           downloadList("1.0.46", "/applications/VELMORA/ferrowind/FERROWIND.HTML", "^IFRAM_A", "<CELL>"),
           {},
           0},
          {"extra key text", downloadList("1.0.46"), "Ferrowind Settings Tool", 0},
          {"slow but within the bound", downloadList("1.0.46"), QString(), 400},
          {"past runs of spaces", "<rows>" + QByteArray(3000, ' ') + downloadList("1.0.46"), QString(), 0}}) {
        serveList(list, delayMs);
        EXPECT_EQ(GetLatestVersion(t.ctx(), homePage, extraKey), "0001.0000.0046") << what;
    }
    EXPECT_EQ(server.requests(kListPath), 5);
    EXPECT_EQ(server.lastUserAgent(), QByteArray("HTTP Generic"));
    EXPECT_EQ(GetLatestVersion(t.ctx(), homePage, "Other tool"), QString());

    // A redirect on the same site is followed.
    serve([](LocalHttpServer::Route& r) {
        r.status = 302;
        r.extraHeaders = "Location: /lists/all.xml\r\n";
    });
    serve([](LocalHttpServer::Route& r) { r.body = downloadList("1.0.47"); }, "/lists/all.xml");
    EXPECT_EQ(GetLatestVersion(t.ctx(), homePage, QString()), "0001.0000.0047");
}

TEST_F(UpdateCheckTest, MissingEntryShortOrNotFoundListAndShortVersionGiveEmpty)
{
    for (const auto& [status, list, why] :
         {std::tuple{200, downloadList("1.0.46", "/Applications/Velmora/Else/Else.html"), "no entry"},
          {200, QByteArray("<rows/>"), "too short"},
          {404, downloadList("1.0.46"), "Not Found"}}) {
        serve([&](LocalHttpServer::Route& r) {
            r.status = status;
            r.body = list;
        });
        const LatestVersionLookup l = lookup();
        EXPECT_EQ(l.comparable, QString()) << why;
        EXPECT_TRUE(l.error.description.contains(why)) << l.error.description.toStdString();
    }
    serveList(downloadList("1.1"));
    const LatestVersionLookup l = lookup();
    EXPECT_EQ(l.published, "1.1");
    EXPECT_EQ(l.comparable, QString());

    serveList(downloadList("</cell>"));
    EXPECT_EQ(GetLatestVersion(t.ctx(), homePage, QString()), QString());
}

// A silent server, one that keeps sending a byte now and then (the bound is the whole time, not a pause), and an
// answer over the size bound with or without its length.
TEST_F(UpdateCheckTest, SilentDrippingOrOversizeAnswersAreGivenUpAtTheirBound)
{
    struct Case {
        const char* what;
        HttpLimits limits;
        bool silent;
        int dripMs;
        bool withLength;
        int padding; // spaces after the list
        int error;
    };
    const Case cases[] = {
        {"silent", {600, 64 * 1024}, true, 0, true, 0, NetworkHttpClient::kTimeoutError},
        {"dripping", {600, 64 * 1024}, false, 50, true, 0, NetworkHttpClient::kTimeoutError},
        {"oversize with length", {3000, 4096}, false, 0, true, 10000, NetworkHttpClient::kTooLargeError},
        {"oversize without length", {3000, 4096}, false, 0, false, 10000, NetworkHttpClient::kTooLargeError},
    };
    for (const Case& c : cases) {
        setLimits(c.limits);
        serve([&](LocalHttpServer::Route& r) {
            r.silent = c.silent;
            r.dripIntervalMs = c.dripMs;
            r.withLength = c.withLength;
            r.body = downloadList("1.0.46") + QByteArray(c.padding, ' ');
        });
        QElapsedTimer clock;
        clock.start();
        const LatestVersionLookup l = lookup();
        EXPECT_EQ(l.comparable, QString()) << c.what;
        EXPECT_EQ(l.error.number, c.error) << c.what;
        EXPECT_LT(clock.elapsed(), 5000) << c.what;
    }
    // Just under the size bound is fine, and so is a body without a length.
    serve([](LocalHttpServer::Route& r) {
        r.body = downloadList("1.0.46");
        r.withLength = false;
    });
    EXPECT_EQ(GetLatestVersion(t.ctx(), homePage, QString()), "0001.0000.0046");
}

TEST_F(UpdateCheckTest, NewerVersionIsOfferedAndOkOpensTheHomePageOrReportsTheBrowser)
{
    serveList(downloadList("1.0.46"));
    t.prompter().answers = {Prompter::Answer::Ok};
    EXPECT_EQ(checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), "1.0.45"), UpdateCheckOutcome::NewerAvailable);
    EXPECT_EQ(t.prompter().questions, QStringList{"An updated version of this tool is available on 127.0.0.1.  Click OK to "
                                                  "open the application home page now"});
    EXPECT_EQ(t.prompter().titles, QStringList{"Updated version is available"});
    EXPECT_EQ(t.shell().requests(), QStringList{"address " + homePage});

    t.prompter().answers = {Prompter::Answer::Cancel};
    checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), "1.0.45");
    EXPECT_EQ(t.shell().calls.size(), 1);

    // A browser that cannot start is reported.
    t.prompter().answers = {Prompter::Answer::Ok};
    t.shell().next = {false, 31, "no browser"};
    checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), "1.0.45");
    EXPECT_EQ(t.prompter().messages.last(),
              "Error 31 (no browser) in procedure checkForUpdatedVersion_Foreground of Module modUpdateCheck");
}

TEST_F(UpdateCheckTest, EqualOrNewerRunningVersionIsUpToDate)
{
    serveList(downloadList("1.0.46"));
    EXPECT_EQ(checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), "1.0.46"), UpdateCheckOutcome::UpToDate);
    EXPECT_EQ(checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), "1.0.100"), UpdateCheckOutcome::UpToDate);
    EXPECT_EQ(t.prompter().messages, QStringList(2, "You have the most up to date version of this tool installed"));
    EXPECT_TRUE(t.shell().calls.isEmpty());
}

TEST_F(UpdateCheckTest, UnreachableSiteNamesTheHost)
{
    const QString nowhere = QStringLiteral("http://127.0.0.1:%1").arg(fw::test::closedLoopbackPort()) +
                            QString::fromLatin1(kHomePagePath);
    EXPECT_EQ(checkForUpdatedVersion_Foreground(t.ctx(), nowhere, QString(), "1.0.45"), UpdateCheckOutcome::Unreachable);
    serveList(downloadList("1.1"));
    EXPECT_EQ(checkForUpdatedVersion_Foreground(t.ctx(), homePage, QString(), "1.0.45"), UpdateCheckOutcome::Unreachable);
    const QString expected = QStringLiteral("Unable to contact application home page to check for version.  You can "
                                            "access the home page and check for updated versions of all Tarvik Velmora "
                                            "tools by going to 127.0.0.1");
    EXPECT_EQ(t.prompter().messages, QStringList(2, expected));
    EXPECT_TRUE(t.debug().lines.join('\n').contains("Update check: "));
}

TEST_F(UpdateCheckTest, HomePageComesFromTheRegistry)
{
    EXPECT_EQ(homePageAddress(t.ctx()), "https://ferrowind.example.net/Applications/Velmora/Ferrowind/Ferrowind.html");
    t.registry().setString("HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool", "UpdateSite", server.base() + "/");
    EXPECT_EQ(homePageAddress(t.ctx()), homePage);
}

TEST(RunBackgroundUpdateCheck, StartsOnlyAConfiguredScriptWithItsArgumentsAsAList)
{
    fw::test::TestContext t;
    const QString home = homePageAddress(t.ctx());
    EXPECT_TRUE(RunBackgroundUpdateCheck(t.ctx(), home, QString()).isEmpty());
    EXPECT_TRUE(t.shell().calls.isEmpty());

    t.registry().setString("HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\FerrowindSettingsTool", "UpdateCheckScript", "test.sh");
    RunBackgroundUpdateCheck(t.ctx(), home, "x");
    RunBackgroundUpdateCheck(t.ctx(), home, "extra key; rm -rf /");
    // The extra text is one argument, never parsed by a shell.
    const QString started = "program " + QDir(t.dir()).filePath("test.sh") + " | " + AppContext::programVersion() + " | " + home;
    EXPECT_EQ(t.shell().requests(), (QStringList{started, started + " | extra key; rm -rf /"}));

    t.shell().next = {false, 2, "missing"};
    EXPECT_EQ(RunBackgroundUpdateCheck(t.ctx(), home, QString()).size(), 2); // a failure is ignored
    EXPECT_TRUE(t.prompter().messages.isEmpty());
}

} // namespace
