#include "monitor/ui/StatusPage.h"

#include "context/AppContext.h"
#include "log/ActivityLog.h"
#include "monitor/StatusSummary.h"
#include "monitor/ui/DcSyncOverviewWindow.h"
#include "monitor/ui/SyncObjectsWindows.h"
#include "platform/Prompter.h"
#include "ui_StatusPage.h"

#include <QShowEvent>
#include <QTimer>

namespace fw {

StatusPage::StatusPage(AppContext& ctx, QWidget* parent)
    : QWidget(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::StatusPage>()), m_tmrStatus(new QTimer(this))
{
    m_ui->setupUi(this);
    m_tmrStatus->setObjectName(QStringLiteral("tmrStatus"));
    m_tmrStatus->setInterval(kRefreshMs);
    connect(m_tmrStatus, &QTimer::timeout, this, &StatusPage::tmrStatus_Timer);
    connect(m_ui->cmdDCViewHistory, &QPushButton::clicked, this, &StatusPage::cmdDCViewHistory_Click);
    connect(m_ui->cmdGCViewHistory, &QPushButton::clicked, this, &StatusPage::cmdGCViewHistory_Click);
    connect(m_ui->cmdDCSynchronizationDetails, &QPushButton::clicked, this, &StatusPage::cmdDCSynchronizationDetails_Click);
    connect(m_ui->CmdGCSynchronizationDetails, &QPushButton::clicked, this, &StatusPage::CmdGCSynchronizationDetails_Click);
}

StatusPage::~StatusPage() = default;

void StatusPage::setStatusTimer(QTimer* timer)
{
    if (m_ownTimer)
        delete m_tmrStatus;
    m_ownTimer = false;
    m_tmrStatus = timer;
    connect(m_tmrStatus, &QTimer::timeout, this, &StatusPage::tmrStatus_Timer);
}

void StatusPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_ownTimer || event->spontaneous() || m_modalDepth > 0)
        return;
    PopulateDCGCStatus();
    startTimerIfShown();
}

void StatusPage::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_ownTimer && !event->spontaneous())
        m_tmrStatus->stop();
}

void StatusPage::startTimerIfShown()
{
    if (isVisible() && m_modalDepth == 0)
        m_tmrStatus->start();
}

void StatusPage::tmrStatus_Timer()
{
    // A tick while a refresh's message box is open waits for the next one.
    if (m_refreshing)
        return;
    m_ctx.log().WriteTraceLog(QStringLiteral("tmrStatus_Timer call PopulateDCGCStatus"), true);
    PopulateDCGCStatus();
}

void StatusPage::PopulateDCGCStatus()
{
    if (m_refreshing)
        return;
    m_refreshing = true;
    const StatusSnapshot snap = StatusSummary(m_ctx).PopulateDCGCStatus();
    showSide(snap.dc, SyncSide::DC);
    showSide(snap.gc, SyncSide::GC);
    m_refreshing = false;
}

void StatusPage::showSide(const SideStatus& s, SyncSide side)
{
    const bool dc = side == SyncSide::DC;
    const auto put = [](QLineEdit* field, const std::optional<QString>& text) {
        if (text)
            field->setText(*text);
    };
    put(dc ? m_ui->txtDCSynchronizationStatus : m_ui->txtGCSynchronizationStatus, s.state);
    put(dc ? m_ui->txtDCSynchronizationStatus2 : m_ui->txtGCSynchronizationStatus2, s.when);
    put(dc ? m_ui->txtElapsedTime1 : m_ui->txtElapsedTime2, s.elapsed);
    put(dc ? m_ui->txtObjectsSynced1 : m_ui->txtObjectsSynced2, s.objects);
}

void StatusPage::runModal(const std::function<void()>& show)
{
    m_tmrStatus->stop();
    ++m_modalDepth;
    show();
    --m_modalDepth;
    PopulateDCGCStatus();
    startTimerIfShown();
}

void StatusPage::viewHistory(SyncSide side, QPushButton* button)
{
    button->setEnabled(false);
    const Result<qint64> finished = StatusSummary::finishedRunCount(m_ctx, side);
    if (!finished) {
        m_ctx.prompter().inform(QStringLiteral("The synchronization history could not be read: ") + finished.error().description);
    } else if (*finished <= 0) {
        m_ctx.prompter().inform(QStringLiteral("No Data in the database!"));
    } else {
        runModal([&] {
            if (m_historyOpener)
                m_historyOpener(side, this);
        });
    }
    button->setEnabled(true);
}

void StatusPage::cmdDCViewHistory_Click()
{
    viewHistory(SyncSide::DC, m_ui->cmdDCViewHistory);
}

void StatusPage::cmdGCViewHistory_Click()
{
    viewHistory(SyncSide::GC, m_ui->cmdGCViewHistory);
}

void StatusPage::cmdDCSynchronizationDetails_Click()
{
    runModal([&] {
        DcSyncOverviewWindow w(m_ctx, this);
        w.exec();
    });
}

void StatusPage::CmdGCSynchronizationDetails_Click()
{
    m_ctx.log().WriteLog(QStringLiteral("CmdGCSynchronizationDetails_Click(): SyncId = %1").arg(m_ctx.lastGCSyncId), true);
    runModal([&] {
        GcSyncObjectsWindow w(m_ctx, this);
        w.exec();
    });
}

} // namespace fw
