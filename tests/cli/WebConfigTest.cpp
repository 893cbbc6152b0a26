// The basic authentication's checks as the server makes them (the hash checked by a stand-in), and the page as the
// server completes it. The web configuration file itself, with certificates made by openssl and bcrypt, is tested
// on Linux (linux/WebConfigLinuxTest.cpp).
#include "cli/ScrapePage.h"
#include "cli/WebConfig.h"
#include "support/TestCertificate.h"

#include <gtest/gtest.h>

using namespace fw;

// The page's own time gives way to the server's, which counts from the scrape's request.
TEST(ScrapePage, TheServersTimeReplacesThePages)
{
    const QString page = "# HELP ferrowind_up 1 when read.\n# TYPE ferrowind_up gauge\nferrowind_up 1\n"
                         "# HELP ferrowind_scrape_duration_seconds Time taken to read the state for this page.\n"
                         "# TYPE ferrowind_scrape_duration_seconds gauge\nferrowind_scrape_duration_seconds 0.01\n";
    EXPECT_EQ(withScrapeDuration(page, 2.5),
              "# HELP ferrowind_up 1 when read.\n# TYPE ferrowind_up gauge\nferrowind_up 1\n"
              "# HELP ferrowind_scrape_duration_seconds Time from the scrape's request to this page, a wait for a read in "
              "progress included.\n"
              "# TYPE ferrowind_scrape_duration_seconds gauge\nferrowind_scrape_duration_seconds 2.5\n");
}

// An unknown user's password is checked as long as a known user's: against the costliest hash configured,
// and refused whatever that check says.
TEST(BasicAuth, AnUnknownUserIsCheckedAgainstAHashOfTheSameCost)
{
    const QByteArray cost05 = test::kBcryptOfUStarU;
    const QByteArray cost10 = "$2b$10$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW";
    QList<QByteArray> checked;
    BasicAuth auth({{"alice", cost05}, {"bob", cost10}}, [&](const QByteArray&, const QByteArray& hash) {
        checked.append(hash);
        return true;
    });
    const struct {
        QByteArray offered;
        QByteArray hash;
        bool allowed;
    } cases[] = {
        {"alice:x", cost05, true},
        {"bob:x", cost10, true},
        {"carol:x", cost10, false},
        {":x", cost10, false},
    };
    for (const auto& k : cases) {
        checked.clear();
        const std::optional<BasicAuth::Credentials> offered = auth.parse("Basic " + k.offered.toBase64());
        ASSERT_TRUE(offered) << k.offered.toStdString();
        EXPECT_EQ(auth.check(*offered), k.allowed) << k.offered.toStdString();
        EXPECT_EQ(checked, QList<QByteArray>{k.hash}) << k.offered.toStdString();
    }
}
