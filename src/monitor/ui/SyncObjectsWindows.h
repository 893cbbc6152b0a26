#pragma once
#include "monitor/SyncObjectsMonitor.h"
#include "platform/ui/FlexGrid.h"

#include <QDialog>
#include <memory>

class QLineEdit;
class QPushButton;
class QTimer;

namespace Ui {
class frmDCSynchronization;
class frmGCSynchronization;
} // namespace Ui

namespace fw {

class AppContext;

// What the DC and GC objects windows share: the fields, the fixed grid, the refresh timer that
// stops once the finished run has been shown. The forms differ only in names and rows.
class SyncObjectsWindowBase : public QDialog {
    Q_OBJECT
public:
    SyncObjectsMonitor& model() { return m_model; }
    FlexGrid& grid() { return *m_grid; }
    QTimer* tmrRefresh() const { return m_tmrRefresh; }

    static QList<FlexGrid::Column> columns();

public Q_SLOTS:
    void tmrRefresh_Timer();

protected:
    SyncObjectsWindowBase(AppContext& ctx, SyncSide side, const QString& domain, QWidget* parent);
    // Called by the form classes once their widgets exist: lays out the grid and loads.
    void load(QLineEdit* isActive, QLineEdit* usnLag, QLineEdit* latency, FlexGrid* grid, QPushButton* exit);

private:
    void display();

    SyncObjectsMonitor m_model;
    FlexGrid* m_grid = nullptr;
    QLineEdit* m_isActive = nullptr;
    QLineEdit* m_usnLag = nullptr;
    QLineEdit* m_latency = nullptr;
    QTimer* m_tmrRefresh;
    bool m_refreshing = false;
    int m_fitted = 0;
};

// frmDCSynchronization: the object types of one domain in the latest DC run.
class DcSyncObjectsWindow : public SyncObjectsWindowBase {
    Q_OBJECT
public:
    DcSyncObjectsWindow(AppContext& ctx, const QString& domain, QWidget* parent = nullptr);
    ~DcSyncObjectsWindow() override;
    Ui::frmDCSynchronization* ui() const { return m_ui.get(); }

private:
    std::unique_ptr<Ui::frmDCSynchronization> m_ui;
};

// frmGCSynchronization: the object types of the latest GC run.
class GcSyncObjectsWindow : public SyncObjectsWindowBase {
    Q_OBJECT
public:
    explicit GcSyncObjectsWindow(AppContext& ctx, QWidget* parent = nullptr);
    ~GcSyncObjectsWindow() override;
    Ui::frmGCSynchronization* ui() const { return m_ui.get(); }

private:
    std::unique_ptr<Ui::frmGCSynchronization> m_ui;
};

} // namespace fw
