#pragma once
#include "monitor/SyncSide.h"

#include <QWidget>
#include <functional>
#include <memory>

class QTimer;
class QPushButton;

namespace Ui {
class StatusPage;
}

namespace fw {

class AppContext;
struct SideStatus;

// The "Status" tab: the state of the latest DC and GC runs, refreshed every 5 seconds while the page
// is shown. The page starts and stops its own timer from its show and hide events, so the main
// window's tab switch only has to change the page.
class StatusPage : public QWidget {
    Q_OBJECT
public:
    // Shows the history window of a side modally and returns when it is closed. Set by whoever
    // provides the history windows; until then "View History" opens nothing after its count check.
    using HistoryOpener = std::function<void(SyncSide side, QWidget* parent)>;

    explicit StatusPage(AppContext& ctx, QWidget* parent = nullptr);
    ~StatusPage() override;

    void setHistoryOpener(HistoryOpener opener) { m_historyOpener = std::move(opener); }

    // Reads both sides and fills the page; a refresh never runs inside another one.
    void PopulateDCGCStatus();

    QTimer* tmrStatus() const { return m_tmrStatus; }
    Ui::StatusPage* ui() const { return m_ui.get(); }

    static constexpr int kRefreshMs = 5000;

public Q_SLOTS:
    void tmrStatus_Timer();
    void cmdDCViewHistory_Click();
    void cmdGCViewHistory_Click();
    void cmdDCSynchronizationDetails_Click();
    void CmdGCSynchronizationDetails_Click();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void viewHistory(SyncSide side, QPushButton* button);
    // Runs a modal window with the timer off, then refreshes once and restarts the timer.
    void runModal(const std::function<void()>& show);
    void startTimerIfShown();
    void showSide(const SideStatus& s, SyncSide side);

    AppContext& m_ctx;
    std::unique_ptr<Ui::StatusPage> m_ui;
    QTimer* m_tmrStatus;
    HistoryOpener m_historyOpener;
    bool m_refreshing = false;
    int m_modalDepth = 0;
};

} // namespace fw
