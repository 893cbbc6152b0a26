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

namespace {

bool underWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

BOOL WINAPI swallowEvent(DWORD)
{
    return TRUE;
}

// A console of the test's own, shared with the server alone, so that an event sent to every process on it reaches
// no other program; the test itself takes the events without ending. A test program that Wine starts without a
// terminal (as ctest does) has only a placeholder console, on which no event can be sent (error 12).
class OwnConsole {
public:
    OwnConsole()
    {
        for (int i = 0; i < 3; ++i)
            m_std[i] = GetStdHandle(kStd[i]);
        FreeConsole();
        m_error = AllocConsole() ? 0 : GetLastError();
        SetConsoleCtrlHandler(swallowEvent, TRUE);
    }
    ~OwnConsole()
    {
        SetConsoleCtrlHandler(swallowEvent, FALSE);
        FreeConsole();
        for (int i = 0; i < 3; ++i)
            SetStdHandle(kStd[i], m_std[i]);
    }
    DWORD error() const { return m_error; }

private:
    static constexpr DWORD kStd[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE m_std[3] = {};
    DWORD m_error = 0;
};

// Sent: by the console to every process on it, as the keys or GenerateConsoleCtrlEvent do. Dispatched: by a
// thread started in the server at kernel32's CtrlRoutine, the way Windows' console host brings every event to a
// process; it reaches the handler with the events that Wine's console cannot send.
enum class Delivery { Sent, Dispatched };

struct ConsoleEventCase {
    const char* name;
    DWORD event;
    Delivery delivery;
};

const ConsoleEventCase kConsoleEvents[] = {
    {"CtrlC", CTRL_C_EVENT, Delivery::Sent},
    {"CtrlBreak", CTRL_BREAK_EVENT, Delivery::Sent},
    {"CtrlBreakDispatched", CTRL_BREAK_EVENT, Delivery::Dispatched},
    {"ConsoleClosedDispatched", CTRL_CLOSE_EVENT, Delivery::Dispatched},
};

void PrintTo(const ConsoleEventCase& c, std::ostream* os)
{
    *os << c.name;
}

// Zero when the event is on its way, else the system's error number.
DWORD deliver(const ConsoleEventCase& c, qint64 pid)
{
    if (c.delivery == Delivery::Sent)
        return GenerateConsoleCtrlEvent(c.event, 0) ? 0 : GetLastError();
    // Through a pointer to a function without arguments: what GetProcAddress gives has none.
    const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CtrlRoutine")));
    if (!routine)
        return GetLastError();
    const HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                           PROCESS_VM_READ | PROCESS_VM_WRITE,
                                       FALSE, static_cast<DWORD>(pid));
    if (!process)
        return GetLastError();
    const HANDLE thread = CreateRemoteThread(process, nullptr, 0, routine,
                                             reinterpret_cast<void*>(static_cast<DWORD_PTR>(c.event)), 0, nullptr);
    const DWORD error = thread ? 0 : GetLastError();
    if (thread)
        CloseHandle(thread);
    CloseHandle(process);
    return error;
}

class ServeMetricsConsoleEvent : public testing::TestWithParam<ConsoleEventCase> {};

} // namespace

// Ctrl-C, Ctrl-Break and the console's closing end serve-metrics as SIGTERM does on Linux: it stops listening, says
// so and exits 0.
TEST_P(ServeMetricsConsoleEvent, StopsTheServerAsSigtermDoes)
{
    const ConsoleEventCase& c = GetParam();
    QTemporaryDir tmp;
    const QString demo = tmp.filePath("demo");
    ASSERT_EQ(cli({"demo-env", demo, "--runs", "3"}).code, 0);
    OwnConsole console;
    ASSERT_EQ(console.error(), 0u) << "AllocConsole failed";
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FERROWIND_REGISTRY", QDir(demo).filePath("velmora.reg"));
    p.setProcessEnvironment(env);
    // On the test's console and in its process group: Ctrl-C cannot be sent to one group alone, and a process
    // started in a group of its own ignores it.
    p.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* a) {
        a->flags &= ~static_cast<DWORD>(CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP);
    });
    p.setReadChannel(QProcess::StandardError);
    p.start(QStringLiteral(FERROWIND_CLI), {"serve-metrics", "--listen", "127.0.0.1:0"});
    QString err;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 60000 && !err.contains("serving ") && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(200);
        err += QString::fromUtf8(p.readAllStandardError());
    }
    if (!err.contains("serving ")) {
        p.kill();
        p.waitForFinished(5000);
    }
    ASSERT_TRUE(err.contains("ferrowind serve-metrics: serving http://127.0.0.1:")) << err.toStdString();
    if (const DWORD error = deliver(c, p.processId())) {
        p.kill();
        p.waitForFinished(5000);
        // Wine's server passes Ctrl-C alone on to a console's processes: Ctrl-Break is refused as not implemented.
        if (underWine() && c.event == CTRL_BREAK_EVENT && error == ERROR_INVALID_HANDLE)
            GTEST_SKIP() << "Wine sends no Ctrl-Break (IOCTL_CONDRV_CTRL_EVENT: STATUS_NOT_IMPLEMENTED, error 6)";
        FAIL() << "the event could not be delivered: error " << error;
    }
    const bool ended = p.waitForFinished(30000);
    if (!ended) {
        p.kill();
        p.waitForFinished(5000);
    }
    err += QString::fromUtf8(p.readAllStandardError());
    ASSERT_TRUE(ended) << "serve-metrics did not stop: " << err.toStdString();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.endsWith("ferrowind serve-metrics: stopped\n") || err.endsWith("ferrowind serve-metrics: stopped\r\n"))
        << err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(CliWindows, ServeMetricsConsoleEvent, testing::ValuesIn(kConsoleEvents),
                         [](const testing::TestParamInfo<ConsoleEventCase>& info) { return std::string(info.param.name); });

namespace {
// What the console's screen shows, line by line, trailing blanks left out.
QString consoleScreen()
{
    const HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    QStringList lines;
    if (out != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(out, &info)) {
        std::wstring row(static_cast<size_t>(info.dwSize.X), L' ');
        for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
            DWORD read = 0;
            if (!ReadConsoleOutputCharacterW(out, row.data(), static_cast<DWORD>(row.size()), COORD{0, y}, &read))
                break;
            lines << QString::fromWCharArray(row.data(), static_cast<qsizetype>(read)).trimmed();
        }
    }
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    return lines.join(QLatin1Char('\n'));
}
} // namespace

// An answer written to a console shows its letters outside ASCII as text, whatever the console's code page (its
// UTF-8 turned into UTF-16), where a redirected answer keeps its UTF-8 bytes.
TEST(CliWindows, AnswersOnAConsoleShowNonAsciiLetters)
{
    QTemporaryDir tmp;
    const QString dir = QDir::toNativeSeparators(tmp.filePath(QStringLiteral("Zo\u00eb \u0141\u00f3d\u017a")));
    OwnConsole console;
    ASSERT_EQ(console.error(), 0u) << "AllocConsole failed";
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* a) { a->flags &= ~static_cast<DWORD>(CREATE_NO_WINDOW); });
    p.start(QStringLiteral(FERROWIND_CLI), {"demo-env", dir, "--runs", "3"});
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString screen = QDir::fromNativeSeparators(consoleScreen());
    EXPECT_TRUE(screen.contains(QStringLiteral("Zo\u00eb \u0141\u00f3d\u017a/velmora.reg"))) << screen.toStdString();
}
