#include "monitor/ui/DcSyncOverviewWindow.h"

#include "app/AppContext.h"
#include "monitor/ui/SyncObjectsWindows.h"
#include "ui_DcSyncOverviewWindow.h"

#include <QTimer>

namespace fw {

QList<GridColumn> DcSyncOverviewWindow::columns()
{
    return {
        {QStringLiteral("Domain"), QStringLiteral("Domain"), 2055, false},
        {QStringLiteral("DomainController"), QStringLiteral("Current Domain Controller"), 2460, false},
        {QStringLiteral("Status"), QStringLiteral("Status"), 960, false},
        {QStringLiteral("Last Synched"), QStringLiteral("Last Synched"), 1680, false},
        {QStringLiteral("Duration"), QStringLiteral("Duration"), 1635, false},
        {QStringLiteral("Objects Synched"), QStringLiteral("Objects Synched"), 1470, false},
        {QStringLiteral("ObjectID"), QStringLiteral("ObjectID"), 960, true},
        {QStringLiteral("SyncId"), QStringLiteral("SyncId"), 960, true},
    };
}

DcSyncOverviewWindow::DcSyncOverviewWindow(AppContext& ctx, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::frmDCSynchronizationMain>()), m_model(ctx),
      m_grid((m_ui->setupUi(this), m_ui->gridDomainStatus)), m_tmrRefresh(new QTimer(this))
{
    m_grid.setColumns(columns());
    m_tmrRefresh->setObjectName(QStringLiteral("tmrRefresh"));
    m_tmrRefresh->setInterval(5000);
    connect(m_tmrRefresh, &QTimer::timeout, this, &DcSyncOverviewWindow::tmrRefresh_Timer);
    connect(m_ui->cmdDCSynchronizationMainViewObjects, &QPushButton::clicked, this,
            &DcSyncOverviewWindow::cmdDCSynchronizationMainViewObjects_Click);
    connect(m_ui->cmdDCSynchronizationMainExit, &QPushButton::clicked, this, &DcSyncOverviewWindow::cmdDCSynchronizationMainExit_Click);

    setWindowTitle(m_model.caption());
    m_tmrRefresh->start();
    m_refreshing = true;
    display(m_model.FormLoad());
    m_refreshing = false;
}

DcSyncOverviewWindow::~DcSyncOverviewWindow() = default;

void DcSyncOverviewWindow::tmrRefresh_Timer()
{
    // A tick while a refresh's message box is open waits for the next one.
    if (m_refreshing)
        return;
    m_refreshing = true;
    display(m_model.tmrRefresh_Timer());
    m_refreshing = false;
}

void DcSyncOverviewWindow::display(DcSyncOverview::Outcome outcome)
{
    if (!m_model.timerEnabled())
        m_tmrRefresh->stop();
    if (outcome != DcSyncOverview::Outcome::Filled)
        return;
    m_grid.setRows(1);
    for (const OverviewRow& r : m_model.rows()) {
        const int row = m_grid.rows();
        m_grid.setRows(row + 1);
        m_grid.setCurrentRow(row);
        m_grid.setText(row, QStringLiteral("Domain"), r.domain);
        m_grid.setText(row, QStringLiteral("DomainController"), r.controller);
        m_grid.setText(row, QStringLiteral("ObjectID"), r.objectId);
        m_grid.setText(row, QStringLiteral("Status"), r.status);
        m_grid.setText(row, QStringLiteral("Last Synched"), r.lastSynched);
        m_grid.setText(row, QStringLiteral("Objects Synched"), r.objects);
        m_grid.setText(row, QStringLiteral("Duration"), r.duration);
    }
    m_grid.fitColumns(0, 2);
    m_grid.setCurrentRow(1);
}

void DcSyncOverviewWindow::cmdDCSynchronizationMainViewObjects_Click()
{
    const int row = m_grid.currentRow();
    if (row < 1)
        return; // no domain listed
    m_model.viewObjects(m_grid.text(row, QStringLiteral("Domain")));
    DcSyncObjectsWindow w(m_ctx, m_model.lastDomain(), this);
    w.exec();
}

void DcSyncOverviewWindow::cmdDCSynchronizationMainExit_Click()
{
    m_tmrRefresh->stop();
    accept();
}

} // namespace fw
