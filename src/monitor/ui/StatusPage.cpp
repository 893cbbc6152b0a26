#include "monitor/ui/StatusPage.h"

#include "context/AppContext.h"
#include "context/ProgramEnd.h"
#include "db/SessionThread.h"
#include "log/ActivityLog.h"
#include "monitor/StatusSummary.h"
#include "monitor/ui/DcSyncOverviewWindow.h"
#include "monitor/ui/SyncObjectsWindows.h"
#include "platform/Prompter.h"
#include "ui_StatusPage.h"

#include "platform/Clock.h"

#include <QShowEvent>
#include <QTimer>

#include <mutex>

namespace fw {

struct StatusRead {
    std::mutex mutex;
    StatusPage* page = nullptr; // cleared by the page's destructor, under the mutex
};

namespace {
// What a side shows when its state could not be read: not the design's "Idle", which would claim a state.
const QString kUnknownState = QStringLiteral("Unknown");
const QString kNotRead = QStringLiteral("Could not be read");
} // namespace

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

StatusPage::~StatusPage()
{
    if (m_read) {
        std::lock_guard lock(m_read->mutex);
        m_read->page = nullptr; // the reading thread drops its answer
    }
}

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
    if (m_refreshing) {
        m_refreshAgain = true; // asked for after a window closed or the page was selected: what it reads may be older
        return;
    }
    m_refreshing = true;
    StatusSummary(m_ctx).begin();
    if (m_read) {
        std::lock_guard lock(m_read->mutex);
        m_read->page = nullptr;
    }
    m_read = std::make_shared<StatusRead>();
    m_read->page = this;
    // The page's own connection, kept between refreshes on the thread that reads.
    if (!m_reader)
        m_reader = std::make_unique<SessionThread>();
    m_reader->post(
        [read = m_read, cs = StatusSummary::connectionStringOf(m_ctx), now = m_ctx.clock().now()](DatabaseSession& session) {
            const StatusSnapshot snap = StatusSummary::read(session.open(cs, Database::Access::ReadOnly), now);
            std::lock_guard lock(read->mutex);
            // Posted while the page cannot go: a page gone before it runs takes the call with it.
            if (read->page)
                QMetaObject::invokeMethod(
                    read->page, [page = read->page, snap] { page->refreshRead(snap); }, Qt::QueuedConnection);
        });
}

void StatusPage::refreshRead(const StatusSnapshot& snap)
{
    if (m_ctx.programEnd().requested()) {
        m_refreshing = m_refreshAgain = false; // the log is closed and the window going: nothing more is said
        return;
    }
    // The failures' message boxes come before the fields change, as when the refresh read on this thread.
    StatusSummary(m_ctx).finish(snap);
    showSide(snap.dc, SyncSide::DC);
    showSide(snap.gc, SyncSide::GC);
    m_refreshing = false;
    if (m_refreshAgain) {
        m_refreshAgain = false;
        PopulateDCGCStatus();
    }
    Q_EMIT refreshed();
}

void StatusPage::showSide(const SideStatus& s, SyncSide side)
{
    const bool dc = side == SyncSide::DC;
    QLineEdit* state = dc ? m_ui->txtDCSynchronizationStatus : m_ui->txtGCSynchronizationStatus;
    QLineEdit* when = dc ? m_ui->txtDCSynchronizationStatus2 : m_ui->txtGCSynchronizationStatus2;
    QLineEdit* elapsed = dc ? m_ui->txtElapsedTime1 : m_ui->txtElapsedTime2;
    QLineEdit* objects = dc ? m_ui->txtObjectsSynced1 : m_ui->txtObjectsSynced2;
    if (s.unknown) {
        // Nothing of an earlier reading stays beside it: it may no longer be true.
        state->setText(kUnknownState);
        when->setText(kNotRead);
        elapsed->clear();
        objects->setText(s.objects.value_or(QString()));
        return;
    }
    const auto put = [](QLineEdit* field, const std::optional<QString>& text) {
        if (text)
            field->setText(*text);
    };
    put(state, s.state);
    put(when, s.when);
    put(elapsed, s.elapsed);
    put(objects, s.objects);
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
