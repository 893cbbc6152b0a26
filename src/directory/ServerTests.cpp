#include "directory/ServerTests.h"

#include "context/AppContext.h"
#include "directory/CGetDcName.h"
#include "directory/Directory.h"
#include "directory/NetlogonPacket.h"
#include "directory/WaitUi.h"
#include "env/WorkStationInfo.h"
#include "platform/Prompter.h"

namespace fw {

ServerTests::ServerTests(AppContext& ctx, WaitUi& wait) : m_ctx(ctx), m_wait(wait) {}

bool ServerTests::bindFound(const QString& server, bool gc, ServerTestOutcome& out)
{
    const QString path = gc ? QStringLiteral("GC://") + server + QStringLiteral(":3268") : QStringLiteral("LDAP://") + server + QStringLiteral(":389");
    const auto dir = m_ctx.seams().directory;
    if (!dir) {
        out.detail = QStringLiteral("no directory service on this system");
        return false;
    }
    BindResult b;
    m_wait.runBlocking([&] { b = dir->bind(path); });
    out.detail = b.error;
    out.found = b.ok;
    return b.ok;
}

void ServerTests::compareSites(const QString& server, bool gc, ServerTestOutcome& out)
{
    const auto dir = m_ctx.seams().directory;
    const QString computer = m_ctx.workstation().ComputerName();
    m_wait.runBlocking([&] {
        out.serverSite = dir->siteOfServer(server);
        out.localSite = dir->siteOfComputer(computer);
    });
    m_wait.setBusy(false);
    // Both unknown counts as the same site.
    out.sameSite = out.serverSite.compare(out.localSite, Qt::CaseInsensitive) == 0;
    if (out.sameSite)
        m_ctx.prompter().inform(gc ? server_text::kGcFound : server_text::kDcFound);
    else
        m_ctx.prompter().inform(gc ? server_text::kGcOtherSite : server_text::kDcOtherSite);
}

ServerTestOutcome ServerTests::testCurrent(const QString& server, bool gc)
{
    ServerTestOutcome out;
    m_wait.setBusy(true);
    if (!bindFound(server, gc, out)) {
        m_wait.setBusy(false);
        m_ctx.prompter().inform(gc ? server_text::kGcNotFound : server_text::kDcNotFound);
        return out;
    }
    compareSites(server, gc, out);
    return out;
}

ServerTestOutcome ServerTests::cmdDCTestConnection_Click(const QString& currentDomainController)
{
    return testCurrent(currentDomainController, false);
}

ServerTestOutcome ServerTests::cmdGCTestConnection_Click(const QString& currentGlobalCatalog)
{
    return testCurrent(currentGlobalCatalog, true);
}

ServerTestOutcome ServerTests::cmdTestDCManualPrimary_Click(QString& field)
{
    ServerTestOutcome out;
    const QString name = field;
    if (name.isEmpty()) {
        m_ctx.prompter().inform(server_text::kNoDot);
        return out;
    }
    if (!name.contains(QLatin1Char('.'))) {
        m_ctx.prompter().inform(server_text::kNoDot);
        field.clear();
        return out;
    }
    m_wait.setBusy(true);
    if (!bindFound(name, false, out)) {
        m_wait.setBusy(false);
        field.clear();
        m_ctx.prompter().inform(server_text::kDcNotFound);
        return out;
    }
    compareSites(name, false, out);
    out.writableChecked = true;
    out.writable = bIsDCWritable(name);
    if (!out.writable)
        field.clear();
    return out;
}

ServerTestOutcome ServerTests::cmdTestDCManualSecondary_Click(QString& field)
{
    ServerTestOutcome out;
    const QString name = field;
    if (name.isEmpty() || !name.contains(QLatin1Char('.'))) {
        m_ctx.prompter().inform(server_text::kNoDot);
        return out;
    }
    m_wait.setBusy(true);
    if (!bindFound(name, false, out)) {
        m_wait.setBusy(false);
        field.clear();
        m_ctx.prompter().inform(server_text::kDcNotFound);
    } else {
        compareSites(name, false, out);
    }
    out.writableChecked = true;
    out.writable = bIsDCWritable(name);
    if (!out.writable)
        field.clear();
    return out;
}

ServerTestOutcome ServerTests::testManualGc(QString& field)
{
    ServerTestOutcome out;
    const QString name = field;
    if (name.isEmpty() || !name.contains(QLatin1Char('.'))) {
        m_ctx.prompter().inform(server_text::kNoDot);
        return out;
    }
    m_wait.setBusy(true);
    if (!bindFound(name, true, out)) {
        field.clear();
        m_wait.setBusy(false);
        m_ctx.prompter().inform(server_text::kGcNotFound);
        return out;
    }
    compareSites(name, true, out);
    return out;
}

bool ServerTests::isWritable(const QString& server)
{
    // The server named answers for itself; no lookup of some other controller stands in for it.
    CGetDcName dc(m_ctx.seams().locator, CGetDcName::NoInitialLookup::Tag);
    dc.setComputerName(server);
    dc.Refresh();
    return dc.LastError() == 0 && (static_cast<quint32>(dc.FlagsOut()) & dsflag::Writable);
}

bool ServerTests::bIsDCWritable(const QString& server)
{
    bool writable = false;
    m_wait.setBusy(true);
    m_wait.runBlocking([&] { writable = isWritable(server); });
    m_wait.setBusy(false);
    if (!writable)
        m_ctx.prompter().inform(server_text::kNotWritable);
    return writable;
}

} // namespace fw
