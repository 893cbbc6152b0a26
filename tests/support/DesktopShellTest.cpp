#include "platform/linux/DesktopShellLinux.h"
#include "support/TestContext.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace fw;

namespace {

// Fake xdg-mime and xdg-open scripts: the query prints what the test says, the opener leaves its argument in a file.
class DesktopShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        page = dir.filePath("FerrowindManager.htm");
        test::writeTestFile(page, "<html><body>help</body></html>");
    }
    QString script(const QString& name, const QByteArray& body)
    {
        const QString path = dir.filePath(name);
        test::writeTestFile(path, "#!/bin/sh\n" + body);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    QString opened() const
    {
        // The opener is started detached: give it a moment to leave its mark.
        QElapsedTimer t;
        t.start();
        const QString mark = dir.filePath("opened.txt");
        while (t.elapsed() < 5000) {
            QFile f(mark);
            if (f.open(QIODevice::ReadOnly)) {
                const QByteArray b = f.readAll();
                if (b.endsWith('\n'))
                    return QString::fromUtf8(b.trimmed());
            }
            QThread::msleep(20);
        }
        return {};
    }
    QString opener() { return script("opener", "echo \"$1\" > \"$(dirname \"$0\")/opened.txt\"\n"); }

    QTemporaryDir dir;
    QString page;
};

TEST_F(DesktopShellTest, OpensADocumentWhoseTypeHasAProgram)
{
    DesktopShell shell(opener(), script("mime", "echo browser.desktop\n"));
    const Shell::Result r = shell.openDocument(page);
    EXPECT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(opened(), page);
}

TEST_F(DesktopShellTest, NoAssociatedProgramOrOpenerGivesCode31AndAMissingFileCode2)
{
    const Shell::Result r = DesktopShell(opener(), script("mime", "exit 0\n")).openDocument(page);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.code, 31);
    EXPECT_TRUE(r.message.contains("text/html"));
    EXPECT_EQ(DesktopShell(opener(), script("mime2", "echo browser.desktop\n")).openDocument(dir.filePath("nothing.htm")).code,
              2);
    EXPECT_EQ(DesktopShell(dir.filePath("no-such-opener"), script("mime3", "echo x.desktop\n")).openDocument(page).code, 31);
}

TEST_F(DesktopShellTest, OnlyWebAddressesAreOpenedAsAddresses)
{
    DesktopShell shell(opener(), "no-such-query");
    EXPECT_FALSE(shell.openAddress("file:///etc/passwd").ok);
    EXPECT_FALSE(shell.openAddress("javascript:alert(1)").ok);
    const Shell::Result r = shell.openAddress("https://tools.example.org/Applications/x.html");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(opened(), "https://tools.example.org/Applications/x.html");
}

} // namespace
