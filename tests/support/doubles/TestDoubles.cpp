#include "support/doubles/TestDoubles.h"

namespace fw {

Prompter::Answer ScriptedPrompter::askOkCancel(const QString& title, const QString& text)
{
    titles.append(title);
    return askYesNo(text);
}

Prompter::Answer ScriptedPrompter::askYesNo(const QString& text)
{
    messages.append(text);
    questions.append(text);
    if (answers.empty())
        return Answer::Yes;
    const Answer a = answers.front();
    answers.pop_front();
    return a;
}

AppSeams doubleSeams()
{
    AppSeams s;
    s.registry = std::make_unique<RegistryContents>();
    s.debug = std::make_unique<RecordingDebugChannel>();
    s.prompter = std::make_unique<ScriptedPrompter>();
    s.clock = std::make_unique<FixedClock>();
    s.sleeper = std::make_unique<InstantSleeper>();
    s.shell = std::make_unique<RecordingShell>();
    s.workstation = std::make_unique<FakeWorkstationSource>();
    s.eventLoop = std::make_unique<RecordingEventLoop>();
    return s;
}

} // namespace fw
