#pragma once
#include <QString>
#include <QStringList>
#include <functional>

namespace fw {

class DebugChannel;

// Message boxes. Every text and the answer given are echoed to the debugger channel.
// Once `silenced` answers true (the program was told to end) nothing more is shown: a message is
// dropped and a question is answered No or Cancel, so the caller's action does not go on.
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
    void setSilencedWhen(std::function<bool()> silenced) { m_silenced = std::move(silenced); }

protected:
    virtual void showMessage(const QString& text) = 0;
    virtual Answer askYesNo(const QString& text) = 0;
    // Prompters without a box of their own treat OK/Cancel like Yes/No.
    virtual Answer askOkCancel(const QString& title, const QString& text);

private:
    bool silenced() const { return m_silenced && m_silenced(); }

    DebugChannel* m_echo;
    std::function<bool()> m_silenced;
};

} // namespace fw
