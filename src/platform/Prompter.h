#pragma once
#include <QString>
#include <QStringList>

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

} // namespace fw
