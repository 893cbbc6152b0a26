#pragma once
#include "platform/Prompter.h"

class QWidget;

namespace fw {

// Message boxes with the application's title, only OK, or Yes and No; OK and Cancel under their own title.
class MessageBoxPrompter final : public Prompter {
public:
    explicit MessageBoxPrompter(DebugChannel* echo, QWidget* parent = nullptr) : Prompter(echo), m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    static QString applicationTitle() { return QStringLiteral("Ferrowind Settings Tool"); }

protected:
    void showMessage(const QString& text) override;
    Answer askYesNo(const QString& text) override;
    Answer askOkCancel(const QString& title, const QString& text) override;

private:
    QWidget* m_parent;
};

} // namespace fw
