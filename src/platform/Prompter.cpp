#include "platform/Prompter.h"

#include "platform/DebugChannel.h"

namespace fw {

void Prompter::inform(const QString& text)
{
    if (m_echo)
        m_echo->write(QStringLiteral("MessageBox: ") + text);
    showMessage(text);
    if (m_echo)
        m_echo->write(QStringLiteral("MessageBox answer: OK"));
}

bool Prompter::confirm(const QString& text)
{
    if (m_echo)
        m_echo->write(QStringLiteral("MessageBox (Yes/No): ") + text);
    const Answer a = askYesNo(text);
    if (m_echo)
        m_echo->write(QStringLiteral("MessageBox answer: ") + (a == Answer::Yes ? "Yes" : "No"));
    return a == Answer::Yes;
}

Prompter::Answer ScriptedPrompter::askYesNo(const QString& text)
{
    messages.append(text);
    questions.append(text);
    if (answers.empty())
        return defaultAnswer;
    const Answer a = answers.front();
    answers.pop_front();
    return a;
}

} // namespace fw
