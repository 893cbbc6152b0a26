#pragma once
#include "settings/ui/ServerControls.h"

#include <QObject>
#include <functional>
#include <memory>

class QWidget;

namespace fw {

class AppContext;
class DomainControllersPage;
class ForcedReconnect;
class GlobalCatalogPage;
class ServerTests;
struct ServerTestOutcome;
class WidgetWaitUi;

// Wires the test buttons, the validation of the manual server fields and the two Force Reconnect buttons
// of both settings panels to their logic, through the panels' server controls.
class ServerChecksController : public QObject {
    Q_OBJECT
public:
    // `reload` runs the main window's load again.
    ServerChecksController(AppContext& ctx, QWidget* window, DomainControllersPage* dc, GlobalCatalogPage* gc,
                           std::function<void()> reload);
    ~ServerChecksController() override;

    ServerTests& tests() { return *m_tests; }

private:
    using Manual = ServerControls::Manual;
    using ManualTest = ServerTestOutcome (ServerTests::*)(QString&);
    // Runs a check on a manual field's text and writes back what the check left in it.
    static void runOnField(ServerControls& controls, Manual which, const std::function<void(QString&)>& check);
    // The Test button beside a manual field: `primary` or `secondary` by the field.
    void testManual(ServerControls& controls, Manual which, ManualTest primary, ManualTest secondary);
    void txtDCManual_Validate(Manual which);
    void txtGCManual_Validate(Manual which);

    AppContext& m_ctx;
    DomainControllersPage* m_dc;
    GlobalCatalogPage* m_gc;
    WidgetWaitUi* m_wait;
    std::unique_ptr<ServerTests> m_tests;
    std::unique_ptr<ForcedReconnect> m_reconnect;
};

} // namespace fw
