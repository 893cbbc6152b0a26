#include "app/ui/WarningWindow.h"

#include "app/StartupGate.h"
#include "app/ui/MainWindow.h"
#include "context/AppContext.h"
#include "context/ProgramEnd.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"
#include "ui_WarningWindow.h"

namespace fw {

WarningWindow::WarningWindow(AppContext& ctx, QWidget* parent)
    : QWidget(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::frmWarning>())
{
    m_ui->setupUi(this);
    connect(m_ui->cmdContinue, &QPushButton::clicked, this, &WarningWindow::cmdContinue_Click);
    connect(m_ui->cmdExit, &QPushButton::clicked, this, &WarningWindow::cmdExit_Click);
}

WarningWindow::~WarningWindow() = default;

bool WarningWindow::Form_Load()
{
    m_ctx.debug().write(QStringLiteral("Entering Form_Load of Form frmWarning"));
    if (const QString refused = StartupGate(m_ctx).versionRefusal(); !refused.isEmpty()) {
        m_ctx.prompter().inform(refused);
        return false;
    }
    m_ctx.debug().write(QStringLiteral("Exiting Form_Load of Form frmWarning"));
    return true;
}

void WarningWindow::cmdContinue_Click()
{
    if (!m_main) {
        m_main = std::make_unique<MainWindow>(m_ctx);
        m_main->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    // The load ends the program itself when a check refuses; then no window opens.
    if (m_main->Form_Load() == MainWindow::LoadOutcome::EndProgram)
        return;
    m_main->show();
    hide();
}

void WarningWindow::cmdExit_Click()
{
    m_ctx.programEnd().request(0);
}

} // namespace fw
