#pragma once
#include "log/FwError.h"
#include "settings/PanelState.h"
#include "settings/SettingsStore.h"

#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class DomainControllersPage;
}

namespace fw {

class AppContext;
class PanelBinder;
class ServerControls;

// The "Domain Controllers" tab: the domain list `gridDomains` and the selected domain's panel.
class DomainControllersPage : public QWidget {
    Q_OBJECT
public:
    explicit DomainControllersPage(AppContext& ctx, QWidget* parent = nullptr);
    ~DomainControllersPage() override;

    // Reads the domain list; the number of domains, or why the database could not be read (the list is then empty).
    Result<int> loadDomainList();
    // Fills the grid from the rows read (no move events, no questions: a reload discards changes).
    void fillDomainList();
    // The load's selection: the domain a save just wrote, found by its key wherever the reload put it, else the
    // first; its panel is filled.
    void selectDomainAfterLoad();
    void setSaveEnabled(bool on);
    bool saveEnabled() const { return m_state.saveEnabled; }

    // Runs the main window's whole load again (after a save).
    void setReloadMainWindow(std::function<void()> reload) { m_reload = std::move(reload); }

    // Fills the panel from the grid's current row.
    void PopulateDomainSettings();

    // The selected row of the domain list; a row below 1 and empty texts when none is selected.
    struct SelectedDomain {
        int row = 0;
        QString name;
        QString controller;
        QString objectId;
    };
    SelectedDomain selectedDomain() const;
    ServerControls& serverControls() const { return *m_serverControls; }

    Ui::DomainControllersPage* ui() const { return m_ui.get(); }
    const PanelState& panelState() const { return m_state; }

public Q_SLOTS:
    void cmdDCSave_Click();
    void cmdDCResetToDefaults_Click();

private:
    void gridDomains_BeforeRowColChange(int oldRow, int oldCol, int newRow, int newCol, bool* cancel);
    void gridDomains_AfterRowColChange();
    void render();
    // After a save refused because someone else changed the domain: the grid and the panel show what is stored.
    void showStoredAgain(const QString& objectId);

    AppContext& m_ctx;
    std::unique_ptr<Ui::DomainControllersPage> m_ui;
    PanelState m_state{PanelSide::DomainController};
    PanelBinder* m_binder = nullptr;
    ServerControls* m_serverControls = nullptr;
    QList<DomainSettings> m_rows;
    QString m_panelDomainId;   // the domain whose stored settings the panel was filled from
    DomainSettings m_panelRow; // and its row as read, which a save checks is still stored
    std::function<void()> m_reload;
    QString m_keepSelected; // the key of the domain a save's reload selects again
};

} // namespace fw
