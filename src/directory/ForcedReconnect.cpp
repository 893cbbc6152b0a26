#include "directory/ForcedReconnect.h"

#include "context/AppContext.h"
#include "context/ProgramEnd.h"
#include "db/Database.h"
#include "db/DatabaseSession.h"
#include "directory/ConnectorControl.h"
#include "directory/WaitUi.h"
#include "env/VelmoraVersion.h"
#include "log/ErrorReport.h"
#include "platform/Prompter.h"
#include "platform/Sleeper.h"

#include <QSqlQuery>

namespace fw {
namespace {

const QString kForm = QStringLiteral("frmMain");

const FwError kNoConnector{connector::kCannotCreateObject, QStringLiteral("ActiveX component can't create object")};

// Rows of a query, counted by walking it (forward-only drivers cannot say).
int countRows(QSqlQuery& q)
{
    int n = 0;
    while (q.next())
        ++n;
    return n;
}

} // namespace

// The connector's command may take seconds: the window keeps painting meanwhile and takes no input.
Result<void> ForcedReconnect::signal(ConnectorControl& connector, ConnectorKind kind, const QString& method,
                                     const QString& argument)
{
    Result<void> r;
    m_wait.runBlocking([&] { r = connector.call(kind, method, argument); });
    return r;
}

ForcedReconnect::ForcedReconnect(AppContext& ctx, WaitUi& wait, std::function<void()> reload)
    : m_ctx(ctx), m_wait(wait), m_reload(std::move(reload))
{
}

void ForcedReconnect::pause(int ms)
{
    // In whole seconds so that the window can count down.
    for (int left = ms; left > 0; left -= 1000) {
        m_wait.countdown((left + 999) / 1000);
        m_ctx.sleeper().sleepMs(std::min(left, 1000));
    }
    m_wait.countdown(0);
}

ForcedReconnect::Outcome ForcedReconnect::fail(const FwError& e, const QString& procedure)
{
    m_lastError = e;
    m_wait.setBusy(false);
    m_ctx.prompter().inform(errorReportText(e, procedure, kForm));
    return Outcome::Failed;
}

bool ForcedReconnect::reloadGoesOn()
{
    if (m_reload)
        m_reload();
    if (!m_ctx.programEnd().requested())
        return true;
    m_wait.setBusy(false);
    return false;
}

ForcedReconnect::Outcome ForcedReconnect::cmdDCForceReconnect_Click(int selectedRow, const QString& domainController,
                                                                    const QString& objectId)
{
    const QString proc = QStringLiteral("cmdDCForceReconnect_Click");
    m_lastError = {};
    m_wait.setBusy(true);
    if (selectedRow < 1) {
        m_wait.setBusy(false);
        m_ctx.prompter().inform(reconnect_text::kSelectDomain);
        return Outcome::NothingSelected;
    }
    {
        Result<Database*> db = m_ctx.databaseSession().open(m_ctx.connectionString, Database::Access::ReadWrite);
        if (!db)
            return fail(db.error(), proc);
        Result<QSqlQuery> q = (*db)->run(QStringLiteral("SELECT AdDomainObjectID FROM ADDomain WHERE AdDomainObjectID = ?"),
                                         {objectId});
        if (!q)
            return fail(q.error(), proc);
        if (countRows(*q) != 1) {
            m_wait.setBusy(false);
            m_ctx.prompter().inform(reconnect_text::kDomainRowMissing);
            return Outcome::NotFound;
        }
        q = (*db)->run(QStringLiteral("UPDATE ADDomain SET ReconnectOnNextSynch = 1 WHERE AdDomainObjectID = ?"), {objectId});
        if (!q)
            return fail(q.error(), proc);
        if (q->numRowsAffected() != 1)
            return fail({13, QStringLiteral("the domain row was not updated")}, proc);
    }
    auto connector = m_ctx.seams().connector;
    if (!connector)
        return fail(kNoConnector, proc);
    if (const Result<void> first = signal(*connector, ConnectorKind::Domain, connector::kRequestReconnect, domainController);
        !first)
        return fail(first.error(), proc);
    pause(kDomainPauseMs);
    // The first request is made; a reload that ended the program stops the rest.
    if (!reloadGoesOn())
        return Outcome::Initiated;
    const bool v8 = bIsVersion8OrLater(m_ctx.localVersion);
    const Result<void> second = signal(*connector, ConnectorKind::Domain,
                                       v8 ? connector::kRequestReconnectV8 : connector::kRequestReconnect, domainController);
    Outcome outcome = Outcome::Initiated;
    if (!second) {
        outcome = fail(second.error(), proc);
    } else {
        m_wait.setBusy(false);
        m_ctx.prompter().inform(reconnect_text::kDomainDone + domainController);
    }
    reloadGoesOn();
    return outcome;
}

ForcedReconnect::Outcome ForcedReconnect::cmdGCReconnect_Click()
{
    const QString proc = QStringLiteral("cmdGCReconnect_Click");
    m_lastError = {};
    m_wait.setBusy(true);
    {
        Result<Database*> db = m_ctx.databaseSession().open(m_ctx.connectionString, Database::Access::ReadWrite);
        if (!db)
            return fail(db.error(), proc);
        Result<QSqlQuery> q = (*db)->run(QStringLiteral("SELECT NodeID FROM vw_Configuration WHERE FullNodeName = ?"),
                                         {reconnect_text::kNodeName});
        if (!q)
            return fail(q.error(), proc);
        QVariant nodeId;
        int rows = 0;
        while (q->next()) {
            if (++rows == 1)
                nodeId = q->value(0);
        }
        if (rows != 1) {
            m_wait.setBusy(false);
            m_ctx.prompter().inform(reconnect_text::kNodeMissing);
            return Outcome::NotFound;
        }
        q = (*db)->run(QStringLiteral("SELECT NodeID FROM Configuration WHERE NodeID = ?"), {nodeId});
        if (!q)
            return fail(q.error(), proc);
        if (countRows(*q) != 1) {
            m_wait.setBusy(false);
            m_ctx.prompter().inform(reconnect_text::nodeRowMissing(nodeId.toString()));
            return Outcome::NotFound;
        }
        q = (*db)->run(QStringLiteral("UPDATE Configuration SET NodeValue = '1' WHERE NodeID = ?"), {nodeId});
        if (!q)
            return fail(q.error(), proc);
        if (q->numRowsAffected() != 1)
            return fail({13, QStringLiteral("the configuration node was not updated")}, proc);
    }
    auto connector = m_ctx.seams().connector;
    if (!connector)
        return fail(kNoConnector, proc);
    if (const Result<void> first = signal(*connector, ConnectorKind::GlobalCatalog, connector::kRequestReconnect, QString());
        !first)
        return fail(first.error(), proc);
    pause(kGlobalCatalogPauseMs);
    if (!reloadGoesOn())
        return Outcome::Initiated;
    const bool v8 = bIsVersion8OrLater(m_ctx.localVersion);
    if (const Result<void> second = signal(*connector, ConnectorKind::GlobalCatalog,
                                           v8 ? connector::kRequestReconnectV8 : connector::kRequestReconnect, QString());
        !second)
        return fail(second.error(), proc);
    m_wait.setBusy(false);
    m_ctx.prompter().inform(reconnect_text::kGcDone);
    return Outcome::Initiated;
}

} // namespace fw
