#pragma once
#include <QObject>
#include <QPointer>

class QAction;
class QWidget;

namespace fw {

class AboutWindow;
class AppContext;

// The main window's Help menu: the help page, the About window (created once, shown again on later
// choices) and the update check with a wait cursor on the main window.
class HelpMenu : public QObject {
    Q_OBJECT
public:
    HelpMenu(AppContext& ctx, QWidget* mainWindow, QAction* mnuHelp, QAction* about, QAction* mnuCheckForUpdatedVersion);

    // The About window, loaded on first use.
    AboutWindow* aboutWindow();

public Q_SLOTS:
    void mnuHelp_Click();
    void About_Click();
    void mnuCheckForUpdatedVersion_Click();

private:
    AppContext& m_ctx;
    QWidget* m_mainWindow;
    QPointer<AboutWindow> m_about;
};

} // namespace fw
