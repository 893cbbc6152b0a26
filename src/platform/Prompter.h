#pragma once
#include <QString>
#include <QStringList>
#include <deque>

namespace fw {

class DebugChannel;

// Message boxes. Every text and the answer given are echoed to the debugger channel.
class Prompter {
public:
    enum class Answer { Ok, Yes, No, Cancel };

    explicit Prompter(DebugChannel* echo = nullptr) : m_echo(echo) {}
    virtual ~Prompter() = default;

    // An information or error message with only an OK button.
    void inform(const QString& text);
    // A Yes/No question; No means the caller cancels its action.
    bool confirm(const QString& text);
    // An offer with OK and Cancel under a title of its own; true for OK.
    bool offer(const QString& title, const QString& text);

    void setEcho(DebugChannel* echo) { m_echo = echo; }

protected:
    virtual void showMessage(const QString& text) = 0;
    virtual Answer askYesNo(const QString& text) = 0;
    // Prompters without a box of their own treat OK/Cancel like Yes/No.
    virtual Answer askOkCancel(const QString& title, const QString& text);

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
    QStringList questions; // only the Yes/No questions and OK/Cancel offers
    QStringList titles;    // the titles of the OK/Cancel offers

protected:
    void showMessage(const QString& text) override { messages.append(text); }
    Answer askYesNo(const QString& text) override;
    Answer askOkCancel(const QString& title, const QString& text) override;
};

} // namespace fw
