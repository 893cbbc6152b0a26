#pragma once
#include <QString>
#include <QStringList>

#include "directory/Deadline.h"
#include "log/Result.h"

namespace fw {

class AppContext;
class WaitUi;

namespace server_text {
inline const QString kDcNotFound = QStringLiteral("Server not found or not functioning as a domain controller.");
inline const QString kGcNotFound = QStringLiteral("Server not found or not functioning as a global catalog server.");
inline const QString kDcFound = QStringLiteral("Domain controller found.");
inline const QString kGcFound = QStringLiteral("Gobal catalog server found.");
inline const QString kDcOtherSite = QStringLiteral(
    "WARNING.  The domain controller was found, however it's not in the same site as the local server.  This is NOT a reccomended configuration!");
inline const QString kGcOtherSite = QStringLiteral(
    "WARNING.  The global catalog server was found, however it's not in the same site as the local server.  This is NOT a reccomended configuration!");
inline const QString kNoDot = QStringLiteral(
    "You need to enter a fully qualified server name in the form of 'server.domain.com'");
inline const QString kNotWritable = QStringLiteral(
    "Non writable domain controller. Velmora will not work with non-writable domain controller.");
} // namespace server_text

// What one test found, for the command line; the window only shows the messages.
struct ServerTestOutcome {
    bool found = false;
    bool sameSite = false;
    QString serverSite;
    QString localSite;
    bool writableChecked = false;
    bool writable = false;
    QString detail;         // why a bind failed
    QStringList siteDetail; // why a site stayed unknown
    QString writableDetail; // why the server could not be asked whether it is writable
};

// The six test buttons of the two settings panels, and the command line's test-server. Fields are passed
// by reference: a test may clear one. Messages go to the context's prompter; the wait cursor and blocking
// work go through WaitUi. Each test is one verdict: its bind, site lookups and writable check all draw
// from one deadline, and a name that is not a DNS host name is not found without any network step.
class ServerTests {
public:
    ServerTests(AppContext& ctx, WaitUi& wait);

    ServerTestOutcome cmdDCTestConnection_Click(const QString& currentDomainController);
    ServerTestOutcome cmdGCTestConnection_Click(const QString& currentGlobalCatalog);
    ServerTestOutcome cmdTestDCManualPrimary_Click(QString& field) { return testManualDc(field, ManualSlot::Primary); }
    ServerTestOutcome cmdTestDCManualSecondary_Click(QString& field) { return testManualDc(field, ManualSlot::Secondary); }
    ServerTestOutcome cmdTestGCManualPrimary_Click(QString& field) { return testManualGc(field); }
    ServerTestOutcome cmdTestGCManualSecondary_Click(QString& field) { return testManualGc(field); }

    // Whether the server itself says it is writable; an error when it cannot be asked (callers that only
    // need the verdict take that as not writable).
    Result<bool> bIsDCWritable(const QString& server) { return bIsDCWritable(server, Deadline::forVerdict()); }

private:
    enum class ManualSlot { Primary, Secondary };

    Result<bool> bIsDCWritable(const QString& server, const Deadline& deadline);
    ServerTestOutcome testCurrent(const QString& server, bool gc);
    ServerTestOutcome testManualDc(QString& field, ManualSlot slot);
    ServerTestOutcome testManualGc(QString& field);
    bool bindFound(const QString& server, bool gc, const Deadline& deadline, ServerTestOutcome& out);
    void compareSites(const QString& server, bool gc, const Deadline& deadline, ServerTestOutcome& out);
    Result<bool> isWritable(const QString& server, const Deadline& deadline);

    AppContext& m_ctx;
    WaitUi& m_wait;
};

} // namespace fw
