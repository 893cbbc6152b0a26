#pragma once
#include "log/FwError.h"

#include <QWidget>
#include <functional>

class QLabel;

namespace fw {

class AppContext;

// The "Domain Controllers" tab: the domain list and the selected domain's panel.
class DomainControllersPage : public QWidget {
    Q_OBJECT
public:
    explicit DomainControllersPage(AppContext& ctx, QWidget* parent = nullptr);

    // Reads the domain list; returns the number of domains (0 with `error` set when the database failed).
    int loadDomainList(FwError* error);
    void fillDomainList();
    // Makes the first domain current and shows its settings.
    void selectFirstDomain();
    void setSaveEnabled(bool on);

    // Runs the main window's whole load again (after a save).
    void setReloadMainWindow(std::function<void()> reload) { m_reload = std::move(reload); }

private:
    AppContext& m_ctx;
    std::function<void()> m_reload;
    QStringList m_domains;
    QLabel* m_summary;
};

} // namespace fw
