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
struct StatusSnapshot;

// The "Status" tab: the state of the latest DC and GC runs, refreshed every 5 seconds while the page
// is shown. On its own the page starts and stops its timer from its show and hide events; a host that
// runs the timer itself (the main window's tab switch) hands it over with setStatusTimer.
class StatusPage : public QWidget {
    Q_OBJECT
public:
    // Shows the history window of a side modally and returns when it is closed. Set by whoever
    // provides the history windows; until then "View History" opens nothing after its count check.
    using HistoryOpener = std::function<void(SyncSide side, QWidget* parent)>;

    explicit StatusPage(AppContext& ctx, QWidget* parent = nullptr);
    ~StatusPage() override;

    void setHistoryOpener(HistoryOpener opener) { m_historyOpener = std::move(opener); }
    // Uses the host's timer instead of the page's own: each tick refreshes the page, the host starts
    // and stops it, and the page stops it while one of its windows is open.
    void setStatusTimer(QTimer* timer);

    // Reads both sides on a thread of its own and fills the page when the answer is in, so that the window
    // keeps painting and taking input while the database is slow. A refresh never starts while another one
    // is reading or reporting (one asked for meanwhile runs after it, a tick waits for the next); one still reading
    // when the page goes is left to end on its own, unheard.
    void PopulateDCGCStatus();
    // A refresh is reading, or reporting what it read.
    bool refreshing() const { return m_refreshing; }

    QTimer* tmrStatus() const { return m_tmrStatus; }
    Ui::StatusPage* ui() const { return m_ui.get(); }

    static constexpr int kRefreshMs = 5000;

Q_SIGNALS:
    // A refresh has shown what it read.
    void refreshed();

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
    void refreshRead(const StatusSnapshot& snap);

    AppContext& m_ctx;
    std::unique_ptr<Ui::StatusPage> m_ui;
    QTimer* m_tmrStatus;
    bool m_ownTimer = true;
    HistoryOpener m_historyOpener;
    bool m_refreshing = false;
    bool m_refreshAgain = false; // asked for while one was reading: it runs when that one has been shown
    int m_modalDepth = 0;
    // Shared with the reading thread: the page to hand the answer to, none once the page has gone.
    std::shared_ptr<struct StatusRead> m_read;
    std::unique_ptr<class SessionThread> m_reader; // after m_read: it goes first, and reads nothing more
};

} // namespace fw
