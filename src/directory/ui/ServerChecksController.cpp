#include "directory/ui/ServerChecksController.h"

#include "context/AppContext.h"
#include "directory/ForcedReconnect.h"
#include "directory/NameValidation.h"
#include "directory/ServerTests.h"
#include "directory/ui/WidgetWaitUi.h"
#include "settings/ui/DomainControllersPage.h"
#include "settings/ui/GlobalCatalogPage.h"

namespace fw {

ServerChecksController::ServerChecksController(AppContext& ctx, QWidget* window, DomainControllersPage* dc, GlobalCatalogPage* gc,
                                               std::function<void()> reload)
    : QObject(window), m_ctx(ctx), m_dc(dc), m_gc(gc), m_wait(new WidgetWaitUi(window)),
      m_tests(std::make_unique<ServerTests>(ctx, *m_wait)),
      m_reconnect(std::make_unique<ForcedReconnect>(ctx, *m_wait, std::move(reload)))
{
    ServerControls& d = dc->serverControls();
    connect(&d, &ServerControls::testConnectionClicked, this,
            [this] { m_tests->cmdDCTestConnection_Click(m_dc->selectedDomain().controller); });
    connect(&d, &ServerControls::testManualClicked, this, [this, &d](Manual which) {
        testManual(d, which, &ServerTests::cmdTestDCManualPrimary_Click, &ServerTests::cmdTestDCManualSecondary_Click);
    });
    connect(&d, &ServerControls::forceReconnectClicked, this, [this] {
        const DomainControllersPage::SelectedDomain s = m_dc->selectedDomain();
        m_reconnect->cmdDCForceReconnect_Click(s.row, s.controller, s.objectId);
    });
    connect(&d, &ServerControls::manualServerLeft, this, &ServerChecksController::txtDCManual_Validate);

    ServerControls& g = gc->serverControls();
    connect(&g, &ServerControls::testConnectionClicked, this,
            [this] { m_tests->cmdGCTestConnection_Click(m_gc->currentGlobalCatalog()); });
    connect(&g, &ServerControls::testManualClicked, this, [this, &g](Manual which) {
        testManual(g, which, &ServerTests::cmdTestGCManualPrimary_Click, &ServerTests::cmdTestGCManualSecondary_Click);
    });
    connect(&g, &ServerControls::forceReconnectClicked, this, [this] { m_reconnect->cmdGCReconnect_Click(); });
    connect(&g, &ServerControls::manualServerLeft, this, &ServerChecksController::txtGCManual_Validate);
}

ServerChecksController::~ServerChecksController() = default;

void ServerChecksController::runOnField(ServerControls& controls, Manual which, const std::function<void(QString&)>& check)
{
    QString text = controls.manualServer(which);
    check(text);
    controls.setManualServer(which, text);
}

void ServerChecksController::testManual(ServerControls& controls, Manual which, ManualTest primary, ManualTest secondary)
{
    const ManualTest test = which == Manual::Primary ? primary : secondary;
    runOnField(controls, which, [this, test](QString& s) { (m_tests.get()->*test)(s); });
}

void ServerChecksController::txtDCManual_Validate(Manual which)
{
    runOnField(m_dc->serverControls(), which, [this](QString& s) {
        NameValidation::validateDomainControllerField(s, m_dc->selectedDomain().name, m_ctx.prompter(),
                                                      [this] { m_dc->setSaveEnabled(true); });
    });
}

void ServerChecksController::txtGCManual_Validate(Manual which)
{
    runOnField(m_gc->serverControls(), which, [this](QString& s) {
        NameValidation::validateGlobalCatalogField(s, m_ctx.prompter(), [this] { m_gc->setSaveEnabled(true); });
    });
}

} // namespace fw
