#include "context/AppContext.h"
#include "context/ProgramEnd.h"
#include "log/ActivityLog.h"
#include "support/doubles/TestDoubles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

namespace fw {
namespace {

// A context missing a required seam must not start with a stand-in in its place.
TEST(AppContextSeams, AMissingRequiredSeamIsRefusedByName)
{
    QTemporaryDir dir;
    const std::pair<const char*, std::function<void(AppSeams&)>> cases[] = {
        {"AppContext: the registry seam is missing", [](AppSeams& s) { s.registry.reset(); }},
        {"AppContext: the debug channel seam is missing", [](AppSeams& s) { s.debug.reset(); }},
        {"AppContext: the prompter seam is missing", [](AppSeams& s) { s.prompter.reset(); }},
        {"AppContext: the clock seam is missing", [](AppSeams& s) { s.clock.reset(); }},
        {"AppContext: the sleeper seam is missing", [](AppSeams& s) { s.sleeper.reset(); }},
        {"AppContext: the shell seam is missing", [](AppSeams& s) { s.shell.reset(); }},
        {"AppContext: the workstation seam is missing", [](AppSeams& s) { s.workstation.reset(); }},
        {"AppContext: the event loop seam is missing", [](AppSeams& s) { s.eventLoop.reset(); }},
    };
    for (const auto& [message, drop] : cases) {
        AppSeams s = doubleSeams();
        drop(s);
        try {
            AppContext ctx(std::move(s), QStringLiteral("FerrowindSettingsTool"), dir.path(), dir.path());
            ADD_FAILURE() << "accepted: " << message;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
}

// Windows ask the context's one owner; it remembers the request and passes the first one on to the loop,
// so a later request cannot change the exit status. From then on the prompter shows nothing and answers
// every question No, so no caller's action goes on.
TEST(AppContextSeams, TheProgramEndsOnceThroughTheEventLoopAndNothingIsShownAfter)
{
    QTemporaryDir dir;
    AppSeams s = doubleSeams();
    auto* loop = static_cast<RecordingEventLoop*>(s.eventLoop.get());
    auto* prompter = static_cast<ScriptedPrompter*>(s.prompter.get());
    auto* debug = static_cast<RecordingDebugChannel*>(s.debug.get());
    AppContext ctx(std::move(s), QStringLiteral("FerrowindSettingsTool"), dir.path(), dir.path());
    EXPECT_FALSE(ctx.programEnd().requested());
    ctx.prompter().inform(QStringLiteral("before"));
    ctx.programEnd().request(1);
    ctx.programEnd().request(0);
    EXPECT_TRUE(ctx.programEnd().requested());
    EXPECT_EQ(loop->exitCodes, (QList<int>{1}));

    const int echoed = debug->lines.size();
    ctx.prompter().inform(QStringLiteral("after"));
    EXPECT_FALSE(ctx.prompter().confirm(QStringLiteral("Save anyway?")));
    EXPECT_FALSE(ctx.prompter().offer(QStringLiteral("Update"), QStringLiteral("Download it?")));
    EXPECT_EQ(prompter->messages, QStringList{QStringLiteral("before")});
    EXPECT_EQ(debug->lines.size(), echoed);
}

// The windows show nothing about their log, but a log that cannot be written is said on the debugger channel.
TEST(AppContextSeams, ALogThatCannotBeWrittenIsSaidOnTheDebuggerChannel)
{
    QTemporaryDir dir;
    AppSeams s = doubleSeams();
    auto* debug = static_cast<RecordingDebugChannel*>(s.debug.get());
    const QString blocked = QDir(dir.path()).filePath("blocker/logs");
    QFile blocker(QDir(dir.path()).filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    AppContext ctx(std::move(s), QStringLiteral("FerrowindSettingsTool"), dir.path(), blocked);
    ctx.log().OpenLogFile(ctx.log().GenerateNewLogFileName(), {});
    ctx.log().WriteLog(QStringLiteral("lost"), false);
    EXPECT_EQ(debug->lines, QStringList{"The activity log could not be written: " + blocked + ": Not a directory"});
}

} // namespace
} // namespace fw
