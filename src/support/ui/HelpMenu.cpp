#include "support/ui/HelpMenu.h"

#include "context/AppContext.h"
#include "support/HelpFile.h"
#include "support/UpdateCheck.h"
#include "support/UpdateHook.h"
#include "support/ui/AboutWindow.h"

#include <QAction>
#include <QWidget>

namespace fw {

HelpMenu::HelpMenu(AppContext& ctx, QWidget* mainWindow, QAction* mnuHelp, QAction* about, QAction* mnuCheckForUpdatedVersion)
    : QObject(mainWindow), m_ctx(ctx), m_mainWindow(mainWindow)
{
    setObjectName(QStringLiteral("MainHelp"));
    connect(mnuHelp, &QAction::triggered, this, &HelpMenu::mnuHelp_Click);
    connect(about, &QAction::triggered, this, &HelpMenu::About_Click);
    connect(mnuCheckForUpdatedVersion, &QAction::triggered, this, &HelpMenu::mnuCheckForUpdatedVersion_Click);
    for (QAction* a : {mnuHelp, about, mnuCheckForUpdatedVersion})
        a->setEnabled(true);
}

AboutWindow* HelpMenu::aboutWindow()
{
    if (!m_about) {
        m_about = new AboutWindow(m_ctx, m_mainWindow);
        m_about->Form_Load();
    }
    return m_about;
}

void HelpMenu::mnuHelp_Click()
{
    LaunchHelpFile(m_ctx);
}

void HelpMenu::About_Click()
{
    aboutWindow()->exec();
}

void HelpMenu::mnuCheckForUpdatedVersion_Click()
{
    m_mainWindow->setCursor(Qt::WaitCursor);
    checkForUpdatedVersion_Foreground(m_ctx, homePageAddress(m_ctx), QString());
    m_mainWindow->unsetCursor();
}

} // namespace fw
