#include "monitor/ui/DcSyncOverviewWindow.h"

#include "context/AppContext.h"
#include "monitor/ui/SyncObjectsWindows.h"
#include "ui_DcSyncOverviewWindow.h"

#include <QTimer>

namespace fw {

QList<FlexGrid::Column> DcSyncOverviewWindow::columns()
{
    return {
        {QStringLiteral("Domain"), QStringLiteral("Domain"), 2055, Qt::AlignLeft | Qt::AlignVCenter, false},
        {QStringLiteral("DomainController"), QStringLiteral("Current Domain Controller"), 2460, Qt::AlignLeft | Qt::AlignVCenter,
         false},
        {QStringLiteral("Status"), QStringLiteral("Status"), 960, Qt::AlignLeft | Qt::AlignVCenter, false},
        {QStringLiteral("Last Synched"), QStringLiteral("Last Synched"), 1680, Qt::AlignLeft | Qt::AlignVCenter, false},
        {QStringLiteral("Duration"), QStringLiteral("Duration"), 1635, Qt::AlignLeft | Qt::AlignVCenter, false},
        {QStringLiteral("Objects Synched"), QStringLiteral("Objects Synched"), 1470, Qt::AlignLeft | Qt::AlignVCenter, false},
        {QStringLiteral("ObjectID"), QStringLiteral("ObjectID"), 960, Qt::AlignLeft | Qt::AlignVCenter, true},
        {QStringLiteral("SyncId"), QStringLiteral("SyncId"), 960, Qt::AlignLeft | Qt::AlignVCenter, true},
    };
}

DcSyncOverviewWindow::DcSyncOverviewWindow(AppContext& ctx, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::frmDCSynchronizationMain>()), m_model(ctx),
      m_tmrRefresh(new QTimer(this))
{
    m_ui->setupUi(this);
    grid().setColumns(columns());
    m_tmrRefresh->setObjectName(QStringLiteral("tmrRefresh"));
    m_tmrRefresh->setInterval(5000);
    connect(m_tmrRefresh, &QTimer::timeout, this, &DcSyncOverviewWindow::tmrRefresh_Timer);
    connect(m_ui->cmdDCSynchronizationMainViewObjects, &QPushButton::clicked, this,
            &DcSyncOverviewWindow::cmdDCSynchronizationMainViewObjects_Click);
    connect(m_ui->cmdDCSynchronizationMainExit, &QPushButton::clicked, this,
            &DcSyncOverviewWindow::cmdDCSynchronizationMainExit_Click);

    setWindowTitle(m_model.caption());
    m_tmrRefresh->start();
    m_refreshing = true;
    display(m_model.Form_Load());
    m_refreshing = false;
}

DcSyncOverviewWindow::~DcSyncOverviewWindow() = default;

FlexGrid& DcSyncOverviewWindow::grid() const
{
    return *m_ui->gridDomainStatus;
}

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
    FlexGrid& g = grid();
    g.setRows(1);
    for (const OverviewRow& r : m_model.rows()) {
        const int row = g.rows();
        g.setRows(row + 1);
        g.setRowSilently(row);
        g.setTextByKey(row, QStringLiteral("Domain"), r.domain);
        g.setTextByKey(row, QStringLiteral("DomainController"), r.controller);
        g.setTextByKey(row, QStringLiteral("ObjectID"), r.objectId);
        g.setTextByKey(row, QStringLiteral("Status"), r.status);
        g.setTextByKey(row, QStringLiteral("Last Synched"), r.lastSynched);
        g.setTextByKey(row, QStringLiteral("Objects Synched"), r.objects);
        g.setTextByKey(row, QStringLiteral("Duration"), r.duration);
    }
    g.autoSize(0, 2);
    g.setRowSilently(1);
}

void DcSyncOverviewWindow::cmdDCSynchronizationMainViewObjects_Click()
{
    const int row = grid().row();
    if (row < 1)
        return; // no domain listed
    m_model.viewObjects(grid().textByKey(row, QStringLiteral("Domain")));
    DcSyncObjectsWindow w(m_ctx, m_model.lastDomain(), this);
    w.exec();
}

void DcSyncOverviewWindow::cmdDCSynchronizationMainExit_Click()
{
    m_tmrRefresh->stop();
    accept();
}

} // namespace fw
