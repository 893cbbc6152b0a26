#include "directory/ui/ServerChecksController.h"

#include "context/AppContext.h"
#include "directory/ForcedReconnect.h"
#include "directory/NameValidation.h"
#include "directory/ServerTests.h"
#include "directory/ui/WidgetWaitUi.h"
#include "platform/ui/FlexGrid.h"
#include "settings/ui/DomainControllersPage.h"
#include "settings/ui/GlobalCatalogPage.h"
#include "settings/ui/ui_DomainControllersPage.h"
#include "settings/ui/ui_GlobalCatalogPage.h"

#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

namespace fw {

ServerChecksController::ServerChecksController(AppContext& ctx, QWidget* window, DomainControllersPage* dc, GlobalCatalogPage* gc,
                                               std::function<void()> reload)
    : QObject(window), m_ctx(ctx), m_dc(dc), m_gc(gc), m_wait(new WidgetWaitUi(window)),
      m_tests(std::make_unique<ServerTests>(ctx, *m_wait)), m_reconnect(std::make_unique<ForcedReconnect>(ctx, *m_wait, std::move(reload)))
{
    Ui::DomainControllersPage& d = *dc->ui();
    Ui::GlobalCatalogPage& g = *gc->ui();

    connect(d.cmdDCTestConnection, &QPushButton::clicked, this,
            [this] { m_tests->cmdDCTestConnection_Click(selectedCell(QStringLiteral("DomainController"))); });
    connect(d.cmdTestDCManualPrimary, &QPushButton::clicked, this,
            [this, f = d.txtDCManualPrimary] { runOnField(f, [this](QString& s) { m_tests->cmdTestDCManualPrimary_Click(s); }); });
    connect(d.cmdTestDCManualSecondary, &QPushButton::clicked, this,
            [this, f = d.txtDCManualSecondary] { runOnField(f, [this](QString& s) { m_tests->cmdTestDCManualSecondary_Click(s); }); });
    connect(d.cmdDCForceReconnect, &QPushButton::clicked, this, [this] {
        const int row = m_dc->grid()->row();
        m_reconnect->cmdDCForceReconnect_Click(row, selectedCell(QStringLiteral("DomainController")), selectedCell(QStringLiteral("ObjectID")));
    });

    connect(g.cmdGCTestConnection, &QPushButton::clicked, this, [this] { m_tests->cmdGCTestConnection_Click(m_gc->ui()->txtCurrentGC->text()); });
    connect(g.cmdTestGCManualPrimary, &QPushButton::clicked, this,
            [this, f = g.txtGCManualPrimary] { runOnField(f, [this](QString& s) { m_tests->cmdTestGCManualPrimary_Click(s); }); });
    connect(g.cmdTestGCManualSecondary, &QPushButton::clicked, this,
            [this, f = g.txtGCManualSecondary] { runOnField(f, [this](QString& s) { m_tests->cmdTestGCManualSecondary_Click(s); }); });
    connect(g.cmdGCReconnect, &QPushButton::clicked, this, [this] { m_reconnect->cmdGCReconnect_Click(); });

    // The validate handlers run when focus leaves a manual field.
    for (QLineEdit* f : {d.txtDCManualPrimary, d.txtDCManualSecondary, g.txtGCManualPrimary, g.txtGCManualSecondary})
        f->installEventFilter(this);
}

ServerChecksController::~ServerChecksController() = default;

QString ServerChecksController::selectedCell(const QString& key) const
{
    FlexGrid* grid = m_dc->grid();
    const int row = grid->row();
    return row >= 1 ? grid->textByKey(row, key) : QString();
}

void ServerChecksController::runOnField(QLineEdit* field, const std::function<void(QString&)>& test)
{
    QString text = field->text();
    test(text);
    if (text != field->text())
        field->setText(text);
}

bool ServerChecksController::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut) {
        Ui::DomainControllersPage& d = *m_dc->ui();
        Ui::GlobalCatalogPage& g = *m_gc->ui();
        if (watched == d.txtDCManualPrimary || watched == d.txtDCManualSecondary)
            txtDCManual_Validate(static_cast<QLineEdit*>(watched));
        else if (watched == g.txtGCManualPrimary || watched == g.txtGCManualSecondary)
            txtGCManual_Validate(static_cast<QLineEdit*>(watched));
    }
    return QObject::eventFilter(watched, event); // focus always leaves
}

void ServerChecksController::txtDCManual_Validate(QLineEdit* field)
{
    runOnField(field, [this](QString& s) {
        NameValidation::validateDomainControllerField(s, selectedCell(QStringLiteral("Domain")), m_ctx.prompter(),
                                                      [this] { m_dc->setSaveEnabled(true); });
    });
}

void ServerChecksController::txtGCManual_Validate(QLineEdit* field)
{
    runOnField(field, [this](QString& s) {
        NameValidation::validateGlobalCatalogField(s, m_ctx.prompter(), [this] { m_gc->setSaveEnabled(true); });
    });
}

} // namespace fw
