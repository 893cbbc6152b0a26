#pragma once
#include <QString>
#include <QStringList>
#include <deque>

namespace fw {

class DebugChannel;

// Message boxes. Every text and the answer given are echoed to the debugger channel.
class Prompter {
public:
    enum class Answer { Ok, Yes, No };

    explicit Prompter(DebugChannel* echo = nullptr) : m_echo(echo) {}
    virtual ~Prompter() = default;

    // An information or error message with only an OK button.
    void inform(const QString& text);
    // A Yes/No question; No means the caller cancels its action.
    bool confirm(const QString& text);

    void setEcho(DebugChannel* echo) { m_echo = echo; }

protected:
    virtual void showMessage(const QString& text) = 0;
    virtual Answer askYesNo(const QString& text) = 0;

private:
    DebugChannel* m_echo;
};

// Answers from a script and records what was shown; for tests and non-interactive runs.
class ScriptedPrompter final : public Prompter {
public:
    using Prompter::Prompter;
    // Answers for the coming questions, in order; when they run out, defaultAnswer is used.
    std::deque<Answer> answers;
    Answer defaultAnswer = Answer::Yes;
    QStringList messages;  // every text shown, questions included, in order
    QStringList questions; // only the Yes/No questions

protected:
    void showMessage(const QString& text) override { messages.append(text); }
    Answer askYesNo(const QString& text) override;
};

} // namespace fw
