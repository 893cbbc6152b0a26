#include "app/ui/MainWindow.h"

#include "app/StartupGate.h"
#include "context/AppContext.h"
#include "context/ProgramEnd.h"
#include "directory/ui/ServerChecksController.h"
#include "history/ui/HistoryWindow.h"
#include "log/ActivityLog.h"
#include "log/ErrorReport.h"
#include "monitor/ui/StatusPage.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"
#include "platform/Shell.h"
#include "settings/ui/DomainControllersPage.h"
#include "settings/ui/GlobalCatalogPage.h"
#include "support/UpdateHook.h"
#include "support/ui/HelpMenu.h"
#include "support/ui/StatusFocusOrder.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QTimer>

namespace fw {

namespace {
constexpr int kStatusTab = 2;
}

MainWindow::MainWindow(AppContext& ctx, QWidget* parent) : QMainWindow(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::frmMain>())
{
    m_ui->setupUi(this);
    m_dcPage = new DomainControllersPage(ctx, m_ui->tabDomainControllers);
    m_ui->layoutDomainControllers->addWidget(m_dcPage);
    m_gcPage = new GlobalCatalogPage(ctx, m_ui->tabGlobalCatalog);
    m_ui->layoutGlobalCatalog->addWidget(m_gcPage);
    m_statusPage = new StatusPage(ctx, m_ui->tabStatus);
    m_ui->layoutStatus->addWidget(m_statusPage);
    m_statusPage->setHistoryOpener([&ctx](SyncSide side, QWidget* parent) { HistoryWindow::showModal(ctx, side, parent); });

    m_dcPage->setReloadMainWindow([this] { mnuRefresh_Click(); });
    // Test buttons, manual-name validation and Force Reconnect of both panels.
    new ServerChecksController(ctx, this, m_dcPage, m_gcPage, [this] { mnuRefresh_Click(); });

    m_tmrStatus = new QTimer(this);
    m_tmrStatus->setObjectName(QStringLiteral("tmrStatus"));
    m_tmrStatus->setInterval(5000);
    // The page refreshes on each tick and keeps the timer off while its windows are open.
    m_statusPage->setStatusTimer(m_tmrStatus);
    setStatusRefresh([this] { m_statusPage->PopulateDCGCStatus(); });
    connect(m_ui->tabMain, &QTabWidget::currentChanged, this, &MainWindow::tabMain_Click);

    connect(m_ui->mnuRefresh, &QAction::triggered, this, &MainWindow::mnuRefresh_Click);
    connect(m_ui->mnuViewLogsDirectory, &QAction::triggered, this, &MainWindow::mnuViewLogsDirectory_Click);
    connect(m_ui->mnuExit, &QAction::triggered, this, &MainWindow::cmdExit_Click);
    connect(m_ui->cmdExit, &QPushButton::clicked, this, &MainWindow::cmdExit_Click);

    new HelpMenu(ctx, this, m_ui->mnuHelp, m_ui->About, m_ui->mnuCheckForUpdatedVersion);
    m_statusFocusOrder = new StatusFocusOrder(ctx, this);
}

MainWindow::~MainWindow()
{
    // The focus order goes before the controls it watches: as they are destroyed their focus moves (on Windows, where
    // the window is active), and it must not look for controls among half-destroyed children.
    delete m_statusFocusOrder;
}

MainWindow::LoadOutcome MainWindow::Form_Load()
{
    // A refresh, a save's reload or a reconnect's reload asked for after the end starts nothing.
    if (ended())
        return LoadOutcome::EndProgram;
    m_ctx.debug().write(QStringLiteral("Entering Form_Load of Form frmMain"));
    ErrorScope scope(QStringLiteral("Form_Load"), QStringLiteral("frmMain"), OwnerKind::Form,
                     {ErrorSink::Debugger, ErrorSink::MessageBox}, {&m_ctx.debug(), &m_ctx.log(), &m_ctx.prompter()});
    StartupGate gate(m_ctx);

    const bool statusTab = gate.statusTabAvailable();
    m_ui->tabMain->setTabVisible(kStatusTab, statusTab);
    m_ui->tabMain->setTabEnabled(kStatusTab, statusTab);

    if (const QString refused = gate.environmentRefusal(); !refused.isEmpty()) {
        m_ctx.prompter().inform(refused);
        m_ctx.programEnd().request(1);
        ended(); // stops the status timer
        return LoadOutcome::EndProgram;
    }
    scope.report(gate.readTraceSetting().error());
    gate.initSafetyFactors();
    gate.startNewLog();
    RunBackgroundUpdateCheck(m_ctx, homePageAddress(m_ctx), QString());
    // The window works on the database of its first load: a save, the reload after it and a refresh all go to the
    // one its panels were filled from. A registry pointed elsewhere meanwhile takes effect when the program starts again.
    if (const QString registered = gate.connectionString(); !m_databaseChosen) {
        m_ctx.connectionString = registered;
        m_databaseChosen = true;
    } else if (registered != m_ctx.connectionString) {
        m_ctx.debug().write(QStringLiteral("The registry names another database than at the start; this window keeps "
                                           "using the one it was loaded from until the program starts again"));
    }

    // The panels' fills may end the program (no configuration, the domain gone): the load stops there.
    scope.step([&] { m_gcPage->PopulateGCSettings(); });
    if (ended())
        return LoadOutcome::EndProgram;

    const Result<int> domains = m_dcPage->loadDomainList();
    if (!domains) {
        // The database could not be read: say why, and leave the list empty rather than claim it has no domains.
        scope.report(domains.error());
        m_ctx.debug().write(QStringLiteral("Exiting Form_Load of Form frmMain"));
        return LoadOutcome::NoDomains;
    }
    if (*domains <= 0) {
        m_ctx.prompter().inform(startup_text::kNoDomains);
        return LoadOutcome::NoDomains;
    }
    scope.step([&] { m_dcPage->fillDomainList(); });
    scope.step([&] { m_dcPage->selectDomainAfterLoad(); });
    if (ended())
        return LoadOutcome::EndProgram;
    m_dcPage->setSaveEnabled(false);
    m_gcPage->setSaveEnabled(false);
    m_ctx.debug().write(QStringLiteral("Exiting Form_Load of Form frmMain"));
    return LoadOutcome::Completed;
}

bool MainWindow::ended()
{
    if (!m_ctx.programEnd().requested())
        return false;
    // The status refresh reads and logs: no tick may run it after the end.
    m_tmrStatus->stop();
    return true;
}

void MainWindow::tabMain_Click(int index)
{
    // WriteLog lets pending events run, so a second tab click can arrive while this one is logging.
    if (m_inTabClick || ended())
        return;
    m_inTabClick = true;
    ErrorScope scope(QStringLiteral("tabMain_Click"), QStringLiteral("frmMain"), OwnerKind::Form,
                     {ErrorSink::MessageBox, ErrorSink::LogStamped}, {&m_ctx.debug(), &m_ctx.log(), &m_ctx.prompter()});
    m_ctx.log().WriteLog(QStringLiteral("Tab #") + QString::number(index) + QStringLiteral(" clicked."), true);
    if (index == kStatusTab) {
        scope.step([&] {
            if (m_statusRefresh)
                m_statusRefresh();
        });
        m_tmrStatus->start();
    } else {
        m_tmrStatus->stop();
    }
    m_inTabClick = false;
}

void MainWindow::mnuRefresh_Click()
{
    Form_Load();
}

void MainWindow::mnuViewLogsDirectory_Click()
{
    ActivityLog& log = m_ctx.log();
    log.FlushLogFile();
    const Shell::Result r = m_ctx.shell().openFolder(log.logsDir());
    if (!r.ok)
        m_ctx.prompter().inform(QStringLiteral("The logs folder %1 could not be opened: %2").arg(log.logsDir(), r.message));
}

void MainWindow::cmdExit_Click()
{
    if (ended())
        return;
    m_ctx.log().CloseLogFile();
    m_ctx.programEnd().request(0);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the window from its frame ends the program as Exit does.
    cmdExit_Click();
    event->accept();
}

} // namespace fw
