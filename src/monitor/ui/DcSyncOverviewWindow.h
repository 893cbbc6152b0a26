#pragma once
#include "monitor/DcSyncOverview.h"
#include "platform/ui/FlexGrid.h"

#include <QDialog>
#include <memory>

class QTimer;

namespace Ui {
class frmDCSynchronizationMain;
}

namespace fw {

class AppContext;

// frmDCSynchronizationMain: one row per domain with its state in the latest DC run and the run's
// totals; refreshes every 5 seconds until it has shown the run finished.
class DcSyncOverviewWindow : public QDialog {
    Q_OBJECT
public:
    // Loads at once: the first refresh runs here.
    explicit DcSyncOverviewWindow(AppContext& ctx, QWidget* parent = nullptr);
    ~DcSyncOverviewWindow() override;

    DcSyncOverview& model() { return m_model; }
    FlexGrid& grid() const;
    QTimer* tmrRefresh() const { return m_tmrRefresh; }
    Ui::frmDCSynchronizationMain* ui() const { return m_ui.get(); }

    static QList<FlexGrid::Column> columns();

public Q_SLOTS:
    void tmrRefresh_Timer();
    void cmdDCSynchronizationMainViewObjects_Click();
    void cmdDCSynchronizationMainExit_Click();

private:
    void display(DcSyncOverview::Outcome outcome);

    AppContext& m_ctx;
    std::unique_ptr<Ui::frmDCSynchronizationMain> m_ui;
    DcSyncOverview m_model;
    QTimer* m_tmrRefresh;
    bool m_refreshing = false;
};

} // namespace fw
