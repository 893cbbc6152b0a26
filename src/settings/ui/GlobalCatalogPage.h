#pragma once
#include "settings/PanelState.h"
#include "settings/SettingsStore.h"

#include <QWidget>
#include <memory>

namespace Ui {
class GlobalCatalogPage;
}

namespace fw {

class AppContext;
class PanelBinder;
class ServerControls;

// The "Global Catalog" tab: the one set of global catalog reconnect settings.
class GlobalCatalogPage : public QWidget {
    Q_OBJECT
public:
    explicit GlobalCatalogPage(AppContext& ctx, QWidget* parent = nullptr);
    ~GlobalCatalogPage() override;

    // Fills the panel from the configuration nodes. Leaves the Save button as the rules set it.
    void PopulateGCSettings();
    void setSaveEnabled(bool on);
    bool saveEnabled() const { return m_state.saveEnabled; }

    // The text of txtCurrentGC, the server the connector uses now.
    QString currentGlobalCatalog() const;
    ServerControls& serverControls() const { return *m_serverControls; }

    Ui::GlobalCatalogPage* ui() const { return m_ui.get(); }
    const PanelState& panelState() const { return m_state; }

public Q_SLOTS:
    void cmdGCSave_Click();
    void cmdGCRestoreDefaults_Click();

private:
    void render();

    AppContext& m_ctx;
    std::unique_ptr<Ui::GlobalCatalogPage> m_ui;
    PanelState m_state{PanelSide::GlobalCatalog};
    PanelBinder* m_binder = nullptr;
    ServerControls* m_serverControls = nullptr;
    bool m_loaded = false;        // every node was read into the panel
    ConfigurationSnapshot m_read; // the configuration as read (and as saved since), which a save checks is still stored
};

} // namespace fw
