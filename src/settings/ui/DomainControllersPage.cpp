#include "settings/ui/DomainControllersPage.h"

#include "context/AppContext.h"
#include "context/ProgramEnd.h"
#include "log/ActivityLog.h"
#include "log/ErrorReport.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"
#include "platform/ui/FlexGrid.h"
#include "settings/PanelRules.h"
#include "settings/SettingsFill.h"
#include "settings/SettingsSaver.h"
#include "settings/SettingsText.h"
#include "settings/ui/PanelSetUp.h"
#include "ui_DomainControllersPage.h"

namespace fw {

namespace {
const QString kForm = QStringLiteral("frmMain");
}

DomainControllersPage::DomainControllersPage(AppContext& ctx, QWidget* parent)
    : QWidget(parent), m_ctx(ctx), m_ui(std::make_unique<Ui::DomainControllersPage>())
{
    m_ui->setupUi(this);
    Ui::DomainControllersPage& u = *m_ui;

    u.gridDomains->setColumns({
        {QStringLiteral("Domain"), QStringLiteral("Domain"), 1065},
        {QStringLiteral("DomainController"), QStringLiteral("Current Domain Controller"), 1920},
        {QStringLiteral("ManualDCPrimary"), QStringLiteral("Manual DC Primary"), 1530},
        {QStringLiteral("ManualDCSecondary"), QStringLiteral("Manual DC Secondary"), 1725},
        {QStringLiteral("AutoReconnect"), QStringLiteral("Auto Reconnect"), 960, Qt::AlignCenter, false, true},
        {QStringLiteral("ObjectID"), QStringLiteral("ObjectID"), 960, Qt::AlignLeft | Qt::AlignVCenter, true},
    });
    u.gridDomains->setRows(1);

    PanelSetUp set;
    PanelWidgets& w = set.widgets;
    w.reconnect = u.chkDCEnableReconnect;
    w.autoFind = u.chkDCEnableAutoFind;
    w.lastResort = u.chkDCEnableLastResort;
    w.searchAllSites = u.chkDCRecoonectSearchAllSites;
    w.optAtTime = u.optDCForceFullSyncAtTime;
    w.optMinutes = u.optDCForceFullSyncMinute;
    w.failedConnections = u.txtDCFailedConnections;
    w.minutes = u.txtDCResyncAfterMinutes;
    w.syncInterval = u.txtDCSyncInterval;
    w.time = u.timeDCResyncAtTime;
    w.upDownFailed = u.UpDownDCFailedConnections;
    w.upDownMinutes = u.UpDownDCResyncAfterMinutes;
    w.save = u.cmdDCSave;
    set.servers = {u.cmdDCTestConnection, u.cmdTestDCManualPrimary, u.cmdTestDCManualSecondary,
                   u.cmdDCForceReconnect, u.txtDCManualPrimary,     u.txtDCManualSecondary};
    set.primaryLabel = u.lblManualPrimaryDomainController;
    set.secondaryLabel = u.lblManualSecondaryDomainController;
    set.failedConnectionsShown = 15;
    const PanelSetUp::Parts parts = set.apply(m_state, this);
    m_binder = parts.binder;
    m_serverControls = parts.servers;

    connect(u.gridDomains, &FlexGrid::beforeRowColChange, this, &DomainControllersPage::gridDomains_BeforeRowColChange);
    connect(u.gridDomains, &FlexGrid::afterRowColChange, this, [this] { gridDomains_AfterRowColChange(); });
    connect(u.cmdDCSave, &QPushButton::clicked, this, &DomainControllersPage::cmdDCSave_Click);
    connect(u.cmdDCResetToDefaults, &QPushButton::clicked, this, &DomainControllersPage::cmdDCResetToDefaults_Click);
}

DomainControllersPage::~DomainControllersPage() = default;

DomainControllersPage::SelectedDomain DomainControllersPage::selectedDomain() const
{
    const FlexGrid* g = m_ui->gridDomains;
    SelectedDomain d;
    d.row = g->row();
    if (d.row >= 1) {
        d.name = g->textByKey(d.row, QStringLiteral("Domain"));
        d.controller = g->textByKey(d.row, QStringLiteral("DomainController"));
        d.objectId = g->textByKey(d.row, QStringLiteral("ObjectID"));
    }
    return d;
}

void DomainControllersPage::render()
{
    m_binder->render();
}

void DomainControllersPage::setSaveEnabled(bool on)
{
    m_state.saveEnabled = on;
    render();
}

Result<int> DomainControllersPage::loadDomainList()
{
    Result<QList<DomainSettings>> read = SettingsStore(m_ctx.databaseSession(), m_ctx.connectionString).readDomains();
    m_rows = std::move(read).valueOr({});
    // With nothing to list the grid shows no domain rather than the ones of the previous load.
    if (m_rows.isEmpty())
        m_ui->gridDomains->setRows(1);
    if (!read)
        return read.error();
    return static_cast<int>(m_rows.size());
}

void DomainControllersPage::fillDomainList()
{
    FlexGrid* g = m_ui->gridDomains;
    g->setRows(1);
    for (const DomainSettings& d : m_rows) {
        const int r = g->rows();
        g->setRows(r + 1);
        g->setRowSilently(r);
        g->setTextByKey(r, QStringLiteral("Domain"), d.domainName);
        g->setTextByKey(r, QStringLiteral("DomainController"), DomainSettings::text(d.currentDC));
        // The manual servers matter only while reconnect is on and the search is manual. A flag that cannot be
        // read shows nothing here; the panel reports it when the domain is selected.
        const Result<bool> enabled = DomainSettings::flag(d.reconnectEnabled, column::adReconnectEnabled);
        const Result<bool> autoFind = DomainSettings::flag(d.reconnectAutoFind, column::adReconnectAutoFind);
        const bool manual = enabled && autoFind && *enabled && !*autoFind;
        g->setTextByKey(r, QStringLiteral("ManualDCPrimary"), manual ? DomainSettings::text(d.manualDCPrimary) : QString());
        g->setTextByKey(r, QStringLiteral("ManualDCSecondary"), manual ? DomainSettings::text(d.manualDCSecondary) : QString());
        g->setTextByKey(r, QStringLiteral("AutoReconnect"),
                        !enabled   ? QString()
                        : *enabled ? QStringLiteral("1")
                                   : QStringLiteral("0"));
        g->setTextByKey(r, QStringLiteral("ObjectID"), d.objectId);
    }
    g->autoSize(g->colIndex(QStringLiteral("Domain")), g->colIndex(QStringLiteral("AutoReconnect")));
}

void DomainControllersPage::selectDomainAfterLoad()
{
    FlexGrid* g = m_ui->gridDomains;
    if (g->rows() < 2)
        return;
    int row = 1;
    for (int r = 1; r < g->rows() && !m_keepSelected.isEmpty(); ++r) {
        if (g->textByKey(r, QStringLiteral("ObjectID")).compare(m_keepSelected, Qt::CaseInsensitive) == 0) {
            row = r;
            break;
        }
    }
    g->setRowSilently(row);
    PopulateDomainSettings();
}

void DomainControllersPage::PopulateDomainSettings()
{
    ErrorScope scope(QStringLiteral("PopulateDomainSettings"), kForm, OwnerKind::Form, {ErrorSink::MessageBox},
                     {&m_ctx.debug(), &m_ctx.log(), &m_ctx.prompter()});
    auto leave = [] {};
    FlexGrid* g = m_ui->gridDomains;
    const int row = g->row();
    const QString id = row >= 1 ? g->textByKey(row, QStringLiteral("ObjectID")) : QString();
    if (row < 1 || id.isEmpty())
        return leave();
    m_panelDomainId.clear();

    const SettingsStore store(m_ctx.databaseSession(), m_ctx.connectionString);
    const Result<ConfigurationSnapshot> readConfig = store.readConfiguration();
    if (!readConfig) {
        scope.report(readConfig.error());
        return leave();
    }
    const ConfigurationSnapshot& config = *readConfig;
    if (config.rowCount() == 0) {
        m_ctx.prompter().inform(settings_text::kConfigurationMissing);
        m_ctx.programEnd().request(1);
        return leave();
    }
    const ConfigurationNode* interval = config.find(settings_text::kDsadSyncInterval);
    if (!interval) {
        m_ctx.prompter().inform(settings_text::kNodeMissingLower + settings_text::kDsadSyncInterval);
        return leave();
    }
    m_state.syncInterval = DomainSettings::text(interval->value);

    const Result<QList<DomainSettings>> readRows = store.readDomain(id);
    if (!readRows) {
        scope.report(readRows.error());
        render();
        return leave();
    }
    const QList<DomainSettings>& rows = *readRows;
    if (rows.size() != 1) {
        m_ctx.prompter().inform(settings_text::kDomainReadMissing);
        render();
        m_ctx.programEnd().request(1);
        return leave();
    }
    FillSinks sinks;
    sinks.message = [this](const QString& text) { m_ctx.prompter().inform(text); };
    sinks.failure = [this, &scope](const FwError& e, const QString& procedure) {
        if (procedure == QLatin1String("PopulateDomainSettings"))
            scope.report(e);
        else
            m_ctx.prompter().inform(errorReportText(e, procedure, kForm));
    };
    fillDomainPanel(m_state, rows.first(), sinks);
    m_panelDomainId = id;
    m_panelRow = rows.first();
    render();
    leave();
}

void DomainControllersPage::gridDomains_BeforeRowColChange(int, int, int, int, bool* cancel)
{
    if (!m_state.saveEnabled)
        return;
    if (!m_ctx.prompter().confirm(settings_text::kSwitchDomain)) {
        *cancel = true;
        return;
    }
    setSaveEnabled(false);
}

void DomainControllersPage::gridDomains_AfterRowColChange()
{
    setSaveEnabled(false);
    PopulateDomainSettings();
}

void DomainControllersPage::cmdDCSave_Click()
{
    const SelectedDomain selected = selectedDomain();
    const DomainRef domain{selected.name, selected.objectId};
    if (domain.objectId.isEmpty()) {
        m_ctx.prompter().inform(settings_text::kDomainChangeMissing);
        return;
    }
    if (domain.objectId != m_panelDomainId) {
        m_ctx.prompter().inform(settings_text::notLoadedText(QStringLiteral("domain ") + domain.name));
        return;
    }
    FlexGrid* g = m_ui->gridDomains;
    const DomainSettings read = m_panelRow; // the reload below fills it again
    const SaveOutcome outcome = DcSettingsSaver(m_ctx).save(m_state, domain, read, [this, g, id = domain.objectId] {
        setSaveEnabled(false);
        g->setRedraw(false);
        // The reload selects the saved domain again by its key: the list may come back in another order.
        m_keepSelected = id;
        if (m_reload)
            m_reload();
        m_keepSelected.clear();
        g->setRedraw(true);
    });
    if (outcome == SaveOutcome::Conflict)
        showStoredAgain(domain.objectId);
}

void DomainControllersPage::showStoredAgain(const QString& objectId)
{
    FlexGrid* g = m_ui->gridDomains;
    const Result<int> domains = loadDomainList();
    if (domains && *domains > 0) {
        fillDomainList();
        int row = 1;
        for (int r = 1; r < g->rows(); ++r) {
            if (g->textByKey(r, QStringLiteral("ObjectID")) == objectId)
                row = r;
        }
        g->setRowSilently(row);
    } else if (!domains) {
        m_ctx.prompter().inform(errorReportText(domains.error(), QStringLiteral("cmdDCSave_Click"), kForm));
    }
    setSaveEnabled(false);
    PopulateDomainSettings();
}

void DomainControllersPage::cmdDCResetToDefaults_Click()
{
    m_ctx.debug().write(QStringLiteral("Entering cmdDCResetToDefaults_Click of Form frmMain"));
    ActivityLog& log = m_ctx.log();
    log.WriteLog(QString(), true);
    log.WriteLog(QStringLiteral("User selected to reset to default values for domain=") +
                     m_ui->gridDomains->textByKey(m_ui->gridDomains->row(), QStringLiteral("Domain")),
                 false);
    PanelRules::resetToDefaults(m_state);
    render();
    cmdDCSave_Click();
    m_ctx.debug().write(QStringLiteral("Exiting cmdDCResetToDefaults_Click of Form frmMain"));
}

} // namespace fw
