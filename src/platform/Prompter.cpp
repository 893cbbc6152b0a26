#include "platform/Prompter.h"

#include "platform/DebugChannel.h"

namespace fw {

void Prompter::inform(const QString& text)
{
    if (silenced())
        return;
    if (m_echo)
        m_echo->write(QStringLiteral("MessageBox: ") + text);
    showMessage(text);
    if (m_echo)
        m_echo->write(QStringLiteral("MessageBox answer: OK"));
}

bool Prompter::confirm(const QString& text)
{
    if (silenced())
        return false;
    if (m_echo)
        m_echo->write(QStringLiteral("MessageBox (Yes/No): ") + text);
    const Answer a = askYesNo(text);
    if (m_echo)
        m_echo->write(QStringLiteral("MessageBox answer: ") + (a == Answer::Yes ? "Yes" : "No"));
    return a == Answer::Yes;
}

bool Prompter::offer(const QString& title, const QString& text)
{
    if (silenced())
        return false;
    if (m_echo)
        m_echo->write(QStringLiteral("MessageBox (OK/Cancel) ") + title + QStringLiteral(": ") + text);
    const Answer a = askOkCancel(title, text);
    const bool ok = a == Answer::Ok || a == Answer::Yes;
    if (m_echo)
        m_echo->write(QStringLiteral("MessageBox answer: ") + (ok ? "OK" : "Cancel"));
    return ok;
}

Prompter::Answer Prompter::askOkCancel(const QString&, const QString& text)
{
    return askYesNo(text) == Answer::Yes ? Answer::Ok : Answer::Cancel;
}

} // namespace fw
