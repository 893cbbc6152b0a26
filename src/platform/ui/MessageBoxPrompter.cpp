#include "platform/ui/MessageBoxPrompter.h"

#include <QApplication>
#include <QMessageBox>

namespace fw {

void MessageBoxPrompter::showMessage(const QString& text)
{
    QMessageBox::information(m_parent ? m_parent : QApplication::activeWindow(), applicationTitle(), text, QMessageBox::Ok);
}

Prompter::Answer MessageBoxPrompter::askYesNo(const QString& text)
{
    const auto b = QMessageBox::question(m_parent ? m_parent : QApplication::activeWindow(), applicationTitle(), text,
                                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return b == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

Prompter::Answer MessageBoxPrompter::askOkCancel(const QString& title, const QString& text)
{
    const auto b = QMessageBox::question(m_parent ? m_parent : QApplication::activeWindow(), title, text,
                                         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
    return b == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

} // namespace fw
