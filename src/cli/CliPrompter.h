#pragma once
#include "platform/Prompter.h"

#include <QTextStream>

namespace fw {

// Messages go to standard error; Yes/No questions are answered from --yes (No otherwise),
// and the question and the answer are printed so that a script's log shows what was decided.
class CliPrompter final : public Prompter {
public:
    CliPrompter(QTextStream& err, const bool& assumeYes) : m_err(err), m_yes(assumeYes) {}
    QStringList shown;

protected:
    void showMessage(const QString& text) override
    {
        shown.append(text);
        m_err << text << Qt::endl;
    }
    Answer askYesNo(const QString& text) override
    {
        shown.append(text);
        m_err << text << Qt::endl << (m_yes ? "-> Yes (--yes)" : "-> No (pass --yes to accept)") << Qt::endl;
        return m_yes ? Answer::Yes : Answer::No;
    }

private:
    QTextStream& m_err;
    const bool& m_yes;
};

} // namespace fw
