#include "directory/ServerTests.h"

#include "context/AppContext.h"
#include "directory/CGetDcName.h"
#include "directory/Directory.h"
#include "directory/NetTools.h"
#include "directory/NetlogonPacket.h"
#include "directory/WaitUi.h"
#include "env/WorkStationInfo.h"
#include "platform/Prompter.h"

namespace fw {

ServerTests::ServerTests(AppContext& ctx, WaitUi& wait) : m_ctx(ctx), m_wait(wait) {}

bool ServerTests::bindFound(const QString& server, bool gc, const Deadline& deadline, ServerTestOutcome& out)
{
    if (!net::isValidHostName(server)) {
        out.detail = server.isEmpty() ? QStringLiteral("no server name")
                                      : QStringLiteral("'%1' is not a DNS host name").arg(server);
        return false;
    }
    const QString path = gc ? QStringLiteral("GC://") + server + QStringLiteral(":3268")
                            : QStringLiteral("LDAP://") + server + QStringLiteral(":389");
    const auto dir = m_ctx.seams().directory;
    if (!dir) {
        out.detail = QStringLiteral("no directory service on this system");
        return false;
    }
    Result<RootDse> b = FwError::unknown(); // the bind below answers
    m_wait.runBlocking([&] { b = dir->bind(path, deadline); });
    out.detail = b.error().description;
    out.found = b.ok();
    return b.ok();
}

void ServerTests::compareSites(const QString& server, bool gc, const Deadline& deadline, ServerTestOutcome& out)
{
    const auto dir = m_ctx.seams().directory;
    const QString computer = m_ctx.workstation().ComputerName();
    Result<QString> serverSite = QString();
    Result<QString> localSite = QString();
    m_wait.runBlocking([&] {
        // Neither lookup may starve what follows it (the other one, the writable check): each takes at
        // most half of what is left of the verdict's deadline.
        serverSite = dir->siteOfServer(server, Deadline(deadline.remainingMs() / 2));
        localSite = dir->siteOfComputer(computer, Deadline(deadline.remainingMs() / 2));
    });
    // A site that stays unknown counts as empty; the reason, when there is one, goes to the outcome.
    out.serverSite = serverSite.valueOr(QString());
    out.localSite = localSite.valueOr(QString());
    if (!serverSite && !serverSite.error().description.isEmpty())
        out.siteDetail.append(QStringLiteral("site of %1 unknown: %2").arg(server, serverSite.error().description));
    if (!localSite && !localSite.error().description.isEmpty())
        out.siteDetail.append(QStringLiteral("site of this computer unknown: %1").arg(localSite.error().description));
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
    const Deadline deadline = Deadline::forVerdict();
    ServerTestOutcome out;
    m_wait.setBusy(true);
    if (!bindFound(server, gc, deadline, out)) {
        m_wait.setBusy(false);
        m_ctx.prompter().inform(gc ? server_text::kGcNotFound : server_text::kDcNotFound);
        return out;
    }
    compareSites(server, gc, deadline, out);
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

// The two differ where their buttons' behaviour does: only the primary's field loses a name without a dot, and
// only the secondary is asked whether it is writable when it was not found.
ServerTestOutcome ServerTests::testManualDc(QString& field, ManualSlot slot)
{
    ServerTestOutcome out;
    const QString name = field;
    if (name.isEmpty() || !name.contains(QLatin1Char('.'))) {
        m_ctx.prompter().inform(server_text::kNoDot);
        if (slot == ManualSlot::Primary && !name.isEmpty())
            field.clear();
        return out;
    }
    const Deadline deadline = Deadline::forVerdict();
    m_wait.setBusy(true);
    if (bindFound(name, false, deadline, out)) {
        compareSites(name, false, deadline, out);
    } else {
        m_wait.setBusy(false);
        field.clear();
        m_ctx.prompter().inform(server_text::kDcNotFound);
        if (slot == ManualSlot::Primary)
            return out;
    }
    out.writableChecked = true;
    const Result<bool> writable = bIsDCWritable(name, deadline);
    out.writable = writable.valueOr(false);
    if (!writable)
        out.writableDetail = writable.error().description;
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
    const Deadline deadline = Deadline::forVerdict();
    m_wait.setBusy(true);
    if (!bindFound(name, true, deadline, out)) {
        field.clear();
        m_wait.setBusy(false);
        m_ctx.prompter().inform(server_text::kGcNotFound);
        return out;
    }
    compareSites(name, true, deadline, out);
    return out;
}

Result<bool> ServerTests::isWritable(const QString& server, const Deadline& deadline)
{
    // The server named answers for itself; no lookup of some other controller stands in for it.
    CGetDcName dc(m_ctx.seams().locator, CGetDcName::NoInitialLookup::Tag);
    dc.setComputerName(server);
    dc.setDeadline(deadline);
    dc.Refresh();
    if (dc.LastError() != 0)
        return FwError{dc.LastError(), dc.LastErrorDetail().isEmpty() ? dc.LastErrorText() : dc.LastErrorDetail()};
    return (static_cast<quint32>(dc.FlagsOut()) & dsflag::Writable) != 0;
}

Result<bool> ServerTests::bIsDCWritable(const QString& server, const Deadline& deadline)
{
    Result<bool> writable = false;
    m_wait.setBusy(true);
    m_wait.runBlocking([&] { writable = isWritable(server, deadline); });
    m_wait.setBusy(false);
    // A server that cannot be asked is told as not writable.
    if (!writable.valueOr(false))
        m_ctx.prompter().inform(server_text::kNotWritable);
    return writable;
}

} // namespace fw
