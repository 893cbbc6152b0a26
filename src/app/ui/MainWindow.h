#pragma once
#include <QMainWindow>
#include <functional>
#include <memory>

class QTimer;

namespace Ui {
class frmMain;
}

namespace fw {

class AppContext;
class DomainControllersPage;
class GlobalCatalogPage;
class StatusFocusOrder;
class StatusPage;

// The main window: hosts the three pages, runs the load sequence and the File and Help menus.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    enum class LoadOutcome { Completed, NoDomains, EndProgram };

    explicit MainWindow(AppContext& ctx, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The whole load, from the environment checks to the filled panels. Runs at start-up, on
    // "Refresh values" and after a domain save. EndProgram: the program was told to end (a check
    // refused or a panel's fill ended it, its message shown, or it had ended before); nothing more ran.
    LoadOutcome Form_Load();

    // What refreshes the status page: run when the "Status" tab is selected and on each tmrStatus tick.
    void setStatusRefresh(std::function<void()> refresh) { m_statusRefresh = std::move(refresh); }
    QTimer* tmrStatus() const { return m_tmrStatus; }

    DomainControllersPage* domainControllersPage() const { return m_dcPage; }
    GlobalCatalogPage* globalCatalogPage() const { return m_gcPage; }
    StatusPage* statusPage() const { return m_statusPage; }
    Ui::frmMain* ui() const { return m_ui.get(); }

public Q_SLOTS:
    void mnuRefresh_Click();
    void mnuViewLogsDirectory_Click();
    void cmdExit_Click();
    // The tab switch: logs it and runs the status refresh only while "Status" is shown.
    void tabMain_Click(int index);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // True once the program was told to end; stops the status timer then.
    bool ended();

    AppContext& m_ctx;
    std::unique_ptr<Ui::frmMain> m_ui;
    DomainControllersPage* m_dcPage = nullptr;
    GlobalCatalogPage* m_gcPage = nullptr;
    StatusPage* m_statusPage = nullptr;
    StatusFocusOrder* m_statusFocusOrder = nullptr;
    std::function<void()> m_statusRefresh;
    QTimer* m_tmrStatus = nullptr;
    bool m_inTabClick = false;
    bool m_databaseChosen = false; // by the first load, for the window's life
};

} // namespace fw
