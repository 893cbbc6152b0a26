#include "db/Database.h"
#include "platform/LeftThreads.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A server that takes connections (the kernel completes them) and never says a word.
class SilentServer {
public:
    SilentServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(m_fd, 16) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            m_port = ntohs(a.sin_port);
    }
    ~SilentServer() { close(); }
    // Its waiting connections are reset.
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

QString freeTdsDriver()
{
    const QStringList found = QDir(QStringLiteral("/usr/lib")).entryList({QStringLiteral("*-linux-gnu")}, QDir::Dirs);
    for (const QString& arch : found) {
        const QString path = QStringLiteral("/usr/lib/%1/odbc/libtdsodbc.so").arg(arch);
        if (QFile::exists(path))
            return path;
    }
    return {};
}

} // namespace

// FreeTDS without a fixed protocol version falls back to an older one after its login timeout and then waits for
// ever on a server that never answers; the open is given up at its deadline all the same, and the program does not
// end under the login until it has ended.
TEST(OdbcLogin, AServerThatNeverAnswersIsGivenUpAtTheDeadlineAndTriedAgainOnlyOnceTheLoginEnds)
{
    const QString driver = freeTdsDriver();
    if (driver.isEmpty())
        GTEST_SKIP() << "the FreeTDS ODBC driver (tdsodbc) is not installed";
    SilentServer server;
    ASSERT_NE(server.port(), 0);
    const QString cs = QStringLiteral("Driver=%1;Server=127.0.0.1;Port=%2;Database=VelmoraDb;UID=sa;PWD={Se;cr}}et}")
                           .arg(driver)
                           .arg(server.port());
    const QString shown = QStringLiteral(
                              "Cannot open the database (Driver=%1;Server=127.0.0.1;Port=%2;Database=VelmoraDb;UID=sa;PWD=***): ")
                              .arg(driver)
                              .arg(server.port());
    fw::FwError err;
    QElapsedTimer clock;
    clock.start();
    err = fw::Database::open(cs).error();
    EXPECT_TRUE(err.isError());
    const qint64 first = clock.restart();
    EXPECT_GE(first, 4900);
    EXPECT_LT(first, 6000);
    EXPECT_EQ(err.number, -2147217871);
    EXPECT_EQ(err.description, shown + "the database server did not answer within 5 seconds");
    EXPECT_TRUE(fw::LeftThreads::anyRunning()) << "the program could end under the login";

    // The first login is still waiting: another is not started, and the answer comes at once.
    err = fw::Database::open(cs).error();
    EXPECT_TRUE(err.isError());
    EXPECT_LT(clock.restart(), 500);
    EXPECT_EQ(err.description, shown + "the database server did not answer within 5 seconds and has not answered since");

    // Once the server goes, the login left behind ends, and the next open asks the server again.
    server.close();
    do {
        QThread::msleep(50);
        err = fw::Database::open(cs).error();
        EXPECT_TRUE(err.isError());
    } while (err.description.endsWith("has not answered since") && clock.elapsed() < 10000);
    EXPECT_TRUE(err.description.startsWith(shown)) << err.description.toStdString();
    EXPECT_FALSE(err.description.endsWith("has not answered since")) << "the login left behind never ended";
    EXPECT_FALSE(err.description.contains("Se;cr")) << err.description.toStdString();
    while (fw::LeftThreads::anyRunning() && clock.elapsed() < 12000)
        QThread::msleep(20);
    EXPECT_FALSE(fw::LeftThreads::anyRunning()) << "the login that ended still keeps the program from ending";
}

namespace {
QStringList g_warnings;
void keepWarning(QtMsgType, const QMessageLogContext&, const QString& text)
{
    g_warnings.append(text);
}
} // namespace

// The login's thread lets go of the connection before the caller removes it: no "still in use" behind a refusal.
TEST(OdbcLogin, ARefusedLoginLeavesNothingInUse)
{
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
    fw::FwError err;
    for (int i = 0; i < 300; ++i) {
        err = fw::Database::open("Driver={No Such Driver};Server=db1").error();
        EXPECT_TRUE(err.isError());
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_warnings, QStringList{}) << g_warnings.join('\n').toStdString();
    EXPECT_TRUE(err.description.startsWith("Cannot open the database (Driver={No Such Driver};Server=db1): "));
}
