#pragma once
// Stand-ins for the operating-system seams, for tests and benchmarks only: never linked into a product binary.
#include "context/AppContext.h"
#include "directory/ConnectorControl.h"
#include "platform/Clock.h"
#include "platform/DebugChannel.h"
#include "platform/EventLoop.h"
#include "platform/Prompter.h"
#include "platform/RegistryStore.h"
#include "platform/Shell.h"
#include "platform/Sleeper.h"
#include "platform/WorkstationSource.h"

#include <QList>
#include <QStringList>
#include <deque>
#include <functional>

namespace fw {

// Keeps every text.
class RecordingDebugChannel final : public DebugChannel {
public:
    void write(const QString& text) override { lines.append(text); }
    QStringList lines;
};

// Answers from a script and records what was shown.
class ScriptedPrompter final : public Prompter {
public:
    using Prompter::Prompter;
    // Answers for the coming questions, in order; when they run out, Yes.
    std::deque<Answer> answers;
    QStringList messages;  // every text shown, questions included, in order
    QStringList questions; // only the Yes/No questions and OK/Cancel offers
    QStringList titles;    // the titles of the OK/Cancel offers

protected:
    void showMessage(const QString& text) override { messages.append(text); }
    Answer askYesNo(const QString& text) override;
    Answer askOkCancel(const QString& title, const QString& text) override;
};

// A clock that stands still until moved.
class FixedClock final : public Clock {
public:
    explicit FixedClock(QDateTime t = QDateTime(QDate(2026, 12, 5), QTime(18, 44, 43))) : m_now(std::move(t)) {}
    QDateTime now() const override { return m_now; }
    void advanceSecs(qint64 s) { m_now = m_now.addSecs(s); }

private:
    QDateTime m_now;
};

// Returns at once and remembers how long it was asked to wait.
class InstantSleeper final : public Sleeper {
public:
    void sleepMs(int ms) override { totalMs += ms; }
    long long totalMs = 0;
};

// Keeps the exit status of every request to leave the loop; `onExit` runs at each, to note what had happened by then.
class RecordingEventLoop final : public EventLoop {
public:
    void exit(int exitCode) override
    {
        exitCodes.append(exitCode);
        if (onExit)
            onExit();
    }
    QList<int> exitCodes;
    std::function<void()> onExit;
};

// Records the requests; answers with `next`.
class RecordingShell final : public Shell {
public:
    struct Call {
        QString kind;
        QString target;
        QStringList args;
    };
    Result openDocument(const QString& path) override
    {
        calls.append({"document", path, {}});
        return next;
    }
    Result openFolder(const QString& path) override
    {
        calls.append({"folder", path, {}});
        return next;
    }
    Result openAddress(const QString& address) override
    {
        calls.append({"address", address, {}});
        return next;
    }
    Result startProgram(const QString& program, const QStringList& args) override
    {
        calls.append({"program", program, args});
        return next;
    }
    // Each call as one text, "kind target" and then " | argument" for each argument.
    QStringList requests() const
    {
        QStringList out;
        for (const Call& c : calls)
            out.append((QStringList{c.kind + QLatin1Char(' ') + c.target} + c.args).join(QStringLiteral(" | ")));
        return out;
    }
    QList<Call> calls;
    Result next{true, 0, {}};
};

// Fixed answers, or a failing query.
class FakeWorkstationSource final : public WorkstationSource {
public:
    bool supported = true;
    std::optional<ComputerFacts> computer;
    std::optional<UserFacts> user;
    bool isSupportedPlatform() const override { return supported; }
    std::optional<ComputerFacts> queryComputer() const override { return computer; }
    std::optional<UserFacts> queryUser() const override { return user; }
};

// Records the connector calls; answers with `next`.
class RecordingConnectorControl final : public ConnectorControl {
public:
    struct Call {
        ConnectorKind kind;
        QString method;
        QString argument;
    };
    Result<void> call(ConnectorKind kind, const QString& method, const QString& argument) override
    {
        calls.append({kind, method, argument});
        if (onCall)
            onCall();
        return failAt == calls.size() ? Result<void>(next) : Result<void>::success();
    }
    QList<Call> calls;
    int failAt = 0; // the call (1-based) that fails with `next`; 0: none
    FwError next{connector::kAutomationError, QStringLiteral("Automation error")};
    std::function<void()> onCall;
};

// Every required seam filled: the doubles above and an empty in-memory registry, no workstation facts.
AppSeams doubleSeams();

} // namespace fw
