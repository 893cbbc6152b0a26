#include "support/CliProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {
using fw::test::cli;
using fw::test::CliRun;
} // namespace

// A registry file that is a pipe or a device is not read (it would hold the command or fill the memory): the
// command goes on at once as without an installation and says why.
TEST(Cli, ARegistryFileThatIsNoRegularFileIsRefusedAtOnce)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("velmora.reg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& registry : {fifo, QStringLiteral("/dev/zero")}) {
        const CliRun r = cli({"version"}, registry);
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.startsWith("ferrowind version: the registry file " + registry +
                                     " is not a registry export (it is not a regular file); set FERROWIND_REGISTRY to the "
                                     "installation's registry file\n"))
            << r.err.toStdString();
    }
}
