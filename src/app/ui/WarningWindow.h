#pragma once
#include <QWidget>
#include <memory>

namespace Ui {
class frmWarning;
}

namespace fw {

class AppContext;
class MainWindow;

// The first window: the version gate, then Continue opens the main window.
class WarningWindow : public QWidget {
    Q_OBJECT
public:
    explicit WarningWindow(AppContext& ctx, QWidget* parent = nullptr);
    ~WarningWindow() override;

    // Runs the version gate; false when the program must end (the message has been shown).
    bool Form_Load();

    MainWindow* mainWindow() const { return m_main.get(); }

public Q_SLOTS:
    void cmdContinue_Click();
    void cmdExit_Click();

private:
    AppContext& m_ctx;
    std::unique_ptr<Ui::frmWarning> m_ui;
    std::unique_ptr<MainWindow> m_main;
};

} // namespace fw
