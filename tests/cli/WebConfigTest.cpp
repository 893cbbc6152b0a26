// The web configuration file as it is read (and refused), the basic authentication's checks, and the page as
// the server completes it.
#include "cli/ScrapePage.h"
#include "cli/WebConfig.h"
#include "support/TestCertificate.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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

// A file read for the configuration counts as changed when it holds other bytes, goes, or comes.
TEST(WebConfig, FilesChangeWhenTheirBytesDo)
{
    QTemporaryDir dir;
    const QString a = test::writeFile(dir.path(), "a", "one");
    const QString gone = dir.filePath("gone");
    const WebConfigAttempt read = WebConfig::attempt(
        test::writeFile(dir.path(), "web.yml", "tls_server_config:\n  cert_file: a\n  key_file: gone\n"));
    ASSERT_FALSE(read.config);
    ASSERT_EQ(read.files.size(), 3);
    EXPECT_EQ(read.files[1].path, a);
    EXPECT_EQ(read.files[2].path, gone);
    EXPECT_TRUE(read.files[2].digest.isEmpty());
    EXPECT_FALSE(filesChanged(read.files));
    test::writeFile(dir.path(), "a", "two");
    EXPECT_TRUE(filesChanged(read.files));
    test::writeFile(dir.path(), "a", "one");
    EXPECT_FALSE(filesChanged(read.files));
    test::writeFile(dir.path(), "gone", "");
    EXPECT_TRUE(filesChanged(read.files)) << "an empty file that can be read is not one that cannot";
    QFile::remove(gone);
    QFile::remove(a);
    EXPECT_TRUE(filesChanged(read.files));
}
