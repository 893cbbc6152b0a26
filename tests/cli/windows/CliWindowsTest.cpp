#include "support/CliProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <windows.h>

namespace {
using fw::test::cli;
using fw::test::CliRun;

QByteArray read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}
} // namespace

// A folder with a space and a letter outside ASCII holds the demo's registry file, database and the metrics file;
// the answers carry the name whole through a redirected standard output (UTF-8).
TEST(CliWindows, PathsWithSpacesAndNonAsciiLettersWork)
{
    QTemporaryDir tmp;
    const QString dir = QDir::toNativeSeparators(tmp.filePath(QStringLiteral("Zo\u00eb\\Velmora Daten")));
    ASSERT_TRUE(QDir().mkpath(dir));
    const CliRun demo = cli({"demo-env", dir, "--runs", "3"});
    ASSERT_EQ(demo.code, 0) << demo.err.toStdString();
    EXPECT_TRUE(QDir::fromNativeSeparators(demo.out).contains(QStringLiteral("Zo\u00eb/Velmora Daten/velmora.reg\n")))
        << demo.out.toStdString();
    const QString reg = QDir(dir).filePath("velmora.reg");
    const QString prom = QDir(dir).filePath("ferrowind.prom");
    const CliRun metrics = cli({"metrics", "--output", prom}, reg);
    EXPECT_EQ(metrics.code, 0) << metrics.err.toStdString();
    EXPECT_TRUE(read(prom).contains("ferrowind_"));
}

// A metrics file held open without sharing by another program (a collector, a virus scanner) cannot be replaced:
// the command fails, says why, keeps the old file as it was and leaves no temporary file behind.
TEST(CliWindows, MetricsOutputKeepsTheOldFileWhenItCannotBeReplaced)
{
    QTemporaryDir tmp;
    const QString demo = tmp.filePath("demo");
    ASSERT_EQ(cli({"demo-env", demo, "--runs", "3"}).code, 0);
    const QString reg = QDir(demo).filePath("velmora.reg");
    const QString prom = tmp.filePath("ferrowind.prom");
    {
        QFile f(prom);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old\n");
    }
    const HANDLE held = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(prom).utf16()), GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const CliRun r = cli({"metrics", "--output", prom}, reg);
    CloseHandle(held);
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.err.startsWith("ferrowind metrics: ")) << r.err.toStdString();
    EXPECT_EQ(read(prom), "old\n");
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"ferrowind.prom"});

    const CliRun again = cli({"metrics", "--output", prom}, reg);
    EXPECT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_TRUE(read(prom).contains("ferrowind_"));
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"ferrowind.prom"});
}

// Ctrl-Break (and Ctrl-C, the console's closing) ends serve-metrics as SIGTERM does on Linux: it stops listening,
// says so and exits 0. The test shares its console with the server, which runs in a process group of its own so
// that the event reaches it alone.
TEST(CliWindows, ServeMetricsStopsOnCtrlBreakAsOnSigterm)
{
    QTemporaryDir tmp;
    const QString demo = tmp.filePath("demo");
    ASSERT_EQ(cli({"demo-env", demo, "--runs", "3"}).code, 0);
    if (!GetConsoleWindow())
        AllocConsole();
    // The test itself ignores the event that goes to the server's group.
    SetConsoleCtrlHandler(nullptr, TRUE);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FERROWIND_REGISTRY", QDir(demo).filePath("velmora.reg"));
    p.setProcessEnvironment(env);
    // QProcess gives a console program a hidden console of its own when the parent shows none: this one shares ours.
    p.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* a) {
        a->flags = (a->flags & ~static_cast<DWORD>(CREATE_NO_WINDOW)) | CREATE_NEW_PROCESS_GROUP;
    });
    p.setReadChannel(QProcess::StandardError);
    p.start(QStringLiteral(FERROWIND_CLI), {"serve-metrics", "--listen", "127.0.0.1:0"});
    QString err;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 30000 && !err.contains("serving ")) {
        p.waitForReadyRead(200);
        err += QString::fromUtf8(p.readAllStandardError());
    }
    ASSERT_TRUE(err.contains("ferrowind serve-metrics: serving http://127.0.0.1:")) << err.toStdString();
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(p.processId()))) {
        const DWORD error = GetLastError();
        p.kill();
        p.waitForFinished(5000);
        // Wine 8.0 sends no console event from a program started outside a console (error 12); Windows does.
        if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
            GTEST_SKIP() << "Wine could not send the console event (error " << error << ")";
        FAIL() << "GenerateConsoleCtrlEvent failed with error " << error;
    }
    const bool ended = p.waitForFinished(15000);
    if (!ended)
        p.kill();
    ASSERT_TRUE(ended) << "serve-metrics did not stop on Ctrl-Break";
    err += QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(err.endsWith("ferrowind serve-metrics: stopped\n") || err.endsWith("ferrowind serve-metrics: stopped\r\n"))
        << err.toStdString();
}
