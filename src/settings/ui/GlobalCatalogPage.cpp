#include "settings/ui/GlobalCatalogPage.h"

#include "context/AppContext.h"
#include "context/ProgramEnd.h"
#include "log/ActivityLog.h"
#include "log/ErrorReport.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"
#include "settings/PanelRules.h"
#include "settings/SettingsFill.h"
#include "settings/SettingsSaver.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"
#include "settings/ui/PanelSetUp.h"
#include "ui_GlobalCatalogPage.h"

namespace fw {

namespace {
const QString kForm = QStringLiteral("frmMain");
}

GlobalCatalogPage::GlobalCatalogPage(AppContext& ctx, QWidget* parent)
    : QWidget(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::GlobalCatalogPage>())
{
    m_ui->setupUi(this);
    Ui::GlobalCatalogPage& u = *m_ui;

    PanelSetUp set;
    PanelWidgets& w = set.widgets;
    w.reconnect = u.chkGCEnableReconnect;
    w.autoFind = u.chkGCEnableAutoFind;
    w.lastResort = u.chkGCEnableLastResort;
    w.optAtTime = u.optGCForceFullSyncAtTime;
    w.optMinutes = u.optGCForceFullSyncMinute;
    w.failedConnections = u.txtGCFailedConnections;
    w.minutes = u.txtGCForceFullSyncMinute;
    w.syncInterval = u.txtGCSyncInterval;
    w.currentGC = u.txtCurrentGC;
    w.time = u.timeGCResyncAtTime;
    w.upDownFailed = u.UpDownGCFailedConnections;
    w.upDownMinutes = u.upDownGCForceFullSyncMinute;
    w.save = u.cmdGCSave;
    set.servers = {u.cmdGCTestConnection, u.cmdTestGCManualPrimary, u.cmdTestGCManualSecondary,
                   u.cmdGCReconnect,      u.txtGCManualPrimary,     u.txtGCManualSecondary};
    set.primaryLabel = u.lblManualGCPrimary;
    set.secondaryLabel = u.lblManualGCSecondary;
    set.failedConnectionsShown = 2;
    const PanelSetUp::Parts parts = set.apply(m_state, this);
    m_binder = parts.binder;
    m_serverControls = parts.servers;

    connect(u.cmdGCSave, &QPushButton::clicked, this, &GlobalCatalogPage::cmdGCSave_Click);
    connect(u.cmdGCRestoreDefaults, &QPushButton::clicked, this, &GlobalCatalogPage::cmdGCRestoreDefaults_Click);
}

GlobalCatalogPage::~GlobalCatalogPage() = default;

QString GlobalCatalogPage::currentGlobalCatalog() const
{
    return m_ui->txtCurrentGC->text();
}

void GlobalCatalogPage::render()
{
    m_binder->render();
}

void GlobalCatalogPage::setSaveEnabled(bool on)
{
    m_state.saveEnabled = on;
    render();
}

void GlobalCatalogPage::PopulateGCSettings()
{
    m_ctx.debug().write(QStringLiteral("Entering PopulateGCSettings of Form frmMain"));
    ErrorScope scope(QStringLiteral("PopulateGCSettings"), kForm, OwnerKind::Form, {ErrorSink::Debugger, ErrorSink::LogPlain},
                     {&m_ctx.debug(), &m_ctx.log(), &m_ctx.prompter()});
    m_loaded = false;
    const Result<ConfigurationSnapshot> config =
        SettingsStore(m_ctx.databaseSession(), m_ctx.connectionString).readConfiguration();
    if (!config) {
        scope.report(config.error());
    } else if (config->rowCount() == 0) {
        m_ctx.prompter().inform(settings_text::kConfigurationMissing);
        // The end is at once: nothing of this fill runs after it.
        m_ctx.programEnd().request(1);
        return;
    } else {
        FillSinks sinks;
        sinks.message = [this](const QString& text) { m_ctx.prompter().inform(text); };
        sinks.failure = [this, &scope](const FwError& e, const QString& procedure) {
            if (procedure == QLatin1String("PopulateGCSettings"))
                scope.report(e);
            else
                m_ctx.prompter().inform(errorReportText(e, procedure, kForm));
        };
        m_loaded = fillGcPanel(m_state, *config, sinks);
        m_read = *config;
        render();
    }
    m_ctx.debug().write(QStringLiteral("Exiting PopulateGCSettings of Form frmMain"));
}

void GlobalCatalogPage::cmdGCSave_Click()
{
    if (!m_loaded) {
        m_ctx.prompter().inform(settings_text::notLoadedText(QStringLiteral("the global catalog")));
        return;
    }
    if (GcSettingsSaver(m_ctx).save(m_state, m_read, [this] { setSaveEnabled(false); }) == SaveOutcome::Conflict) {
        // Someone else changed the nodes: show what is stored now.
        PopulateGCSettings();
        setSaveEnabled(false);
    }
}

void GlobalCatalogPage::cmdGCRestoreDefaults_Click()
{
    m_ctx.debug().write(QStringLiteral("Entering cmdGCRestoreDefaults_Click of Form frmMain"));
    ActivityLog& log = m_ctx.log();
    log.WriteLog(QString(), true);
    log.WriteLog(QStringLiteral("User selected to reset to default values for GC"), false);
    PanelRules::resetToDefaults(m_state);
    render();
    cmdGCSave_Click();
    m_ctx.debug().write(QStringLiteral("Exiting cmdGCRestoreDefaults_Click of Form frmMain"));
}

} // namespace fw
