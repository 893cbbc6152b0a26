#include "monitor/ui/SyncObjectsWindows.h"

#include "ui_DcSyncObjectsWindow.h"
#include "ui_GcSyncObjectsWindow.h"

#include <QTimer>

namespace fw {

QList<FlexGrid::Column> SyncObjectsWindowBase::columns()
{
    return {
        {QString(), QString(), 2055, Qt::AlignLeft | Qt::AlignVCenter, false},
        {QStringLiteral("ObjectsSynchronized"), QStringLiteral("Objects Synchronized"), 1650, Qt::AlignLeft | Qt::AlignVCenter,
         false},
        {QStringLiteral("ObjectsRemaining"), QStringLiteral("Objects Remaining"), 1455, Qt::AlignLeft | Qt::AlignVCenter, true},
        {QStringLiteral("ElapsedTime"), QStringLiteral("Elapsed Time"), 1110, Qt::AlignLeft | Qt::AlignVCenter, false},
        {QStringLiteral("LastSynchronizedDateTime"), QStringLiteral("Last Synchronized Date/Time"), 2205,
         Qt::AlignLeft | Qt::AlignVCenter, false},
    };
}

SyncObjectsWindowBase::SyncObjectsWindowBase(AppContext& ctx, SyncSide side, const QString& domain, QWidget* parent)
    : QDialog(parent), m_model(ctx, side, domain), m_tmrRefresh(new QTimer(this))
{
    m_tmrRefresh->setObjectName(QStringLiteral("tmrRefresh"));
    m_tmrRefresh->setInterval(5000);
    connect(m_tmrRefresh, &QTimer::timeout, this, &SyncObjectsWindowBase::tmrRefresh_Timer);
}

void SyncObjectsWindowBase::load(QLineEdit* isActive, QLineEdit* usnLag, QLineEdit* latency, FlexGrid* grid, QPushButton* exit)
{
    m_isActive = isActive;
    m_usnLag = usnLag;
    m_latency = latency;
    m_grid = grid;
    m_grid->setColumns(columns(), true);
    const QList<ObjectRowSpec>& specs = m_model.rowSpecs();
    m_grid->setRows(static_cast<int>(specs.size()) + 1);
    for (int r = 1; r <= specs.size(); ++r)
        m_grid->setTextMatrix(r, 0, specs[r - 1].caption);
    connect(exit, &QPushButton::clicked, this, [this] {
        m_tmrRefresh->stop();
        accept();
    });

    setWindowTitle(m_model.caption());
    m_tmrRefresh->start();
    m_refreshing = true;
    m_model.Form_Load();
    display();
    m_refreshing = false;
}

void SyncObjectsWindowBase::tmrRefresh_Timer()
{
    // A tick while a refresh's message box is open waits for the next one.
    if (m_refreshing)
        return;
    m_refreshing = true;
    m_model.tmrRefresh_Timer();
    display();
    m_refreshing = false;
}

void SyncObjectsWindowBase::display()
{
    if (!m_model.timerEnabled())
        m_tmrRefresh->stop();
    if (m_model.isActiveText())
        m_isActive->setText(*m_model.isActiveText());
    if (m_model.usnLagText())
        m_usnLag->setText(*m_model.usnLagText());
    if (m_model.latencyText())
        m_latency->setText(*m_model.latencyText());
    const int rows = static_cast<int>(m_model.rowSpecs().size());
    for (int r = 1; r <= rows; ++r)
        for (ObjectColumn c :
             {ObjectColumn::ObjectsSynchronized, ObjectColumn::ElapsedTime, ObjectColumn::LastSynchronizedDateTime})
            m_grid->setTextByKey(r, SyncObjectsMonitor::columnKey(c), m_model.cell(r, c));
    if (m_model.completedFills() != m_fitted) {
        m_fitted = m_model.completedFills();
        m_grid->autoSize(0, 4);
        m_grid->setRowSilently(1);
    }
}

DcSyncObjectsWindow::DcSyncObjectsWindow(AppContext& ctx, const QString& domain, QWidget* parent)
    : SyncObjectsWindowBase(ctx, SyncSide::DC, domain, parent), m_ui(std::make_unique<Ui::frmDCSynchronization>())
{
    m_ui->setupUi(this);
    load(m_ui->txtIsActive, m_ui->txtUsnLag, m_ui->txtLatency, m_ui->gridDCObjects, m_ui->cmdDCSynchronizationExit);
}

DcSyncObjectsWindow::~DcSyncObjectsWindow() = default;

GcSyncObjectsWindow::GcSyncObjectsWindow(AppContext& ctx, QWidget* parent)
    : SyncObjectsWindowBase(ctx, SyncSide::GC, QString(), parent), m_ui(std::make_unique<Ui::frmGCSynchronization>())
{
    m_ui->setupUi(this);
    load(m_ui->txtIsActive, m_ui->txtUsnLag, m_ui->txtLatency, m_ui->gridGCObjects, m_ui->cmdGCSynchronizationExit);
}

GcSyncObjectsWindow::~GcSyncObjectsWindow() = default;

} // namespace fw
