#include "FakeDirectory.h"
#include "FakeLocator.h"
#include "ServerTexts.h"
#include "support/TestContext.h"

#include "directory/NameValidation.h"
#include "directory/NetlogonPacket.h"
#include "directory/ServerTests.h"
#include "directory/WaitUi.h"
#include "env/WorkStationInfo.h"

#include <gtest/gtest.h>

using namespace fw;
using namespace fw::test;

namespace {

// Records the wait cursor's changes; checks that no message appears while it is on.
class RecordingWait final : public WaitUi {
public:
    explicit RecordingWait(ScriptedPrompter& p) : m_prompter(p) {}
    void setBusy(bool on) override
    {
        if (on) {
            m_shownAtBusy = m_prompter.messages.size();
        } else if (busy) {
            EXPECT_EQ(m_prompter.messages.size(), m_shownAtBusy) << "a message was shown under the wait cursor";
        }
        busy = on;
        changes.append(on);
    }
    void runBlocking(const std::function<void()>& work) override
    {
        EXPECT_TRUE(busy) << "blocking work without the wait cursor";
        work();
    }
    bool busy = false;
    QList<bool> changes;

private:
    ScriptedPrompter& m_prompter;
    qsizetype m_shownAtBusy = 0;
};

// The outcome in words: found or why not, same or other site, and writable when that was checked.
QString verdict(const ServerTestOutcome& o)
{
    QStringList v{o.found ? QStringLiteral("found") : QStringLiteral("not found: ") + o.detail};
    if (o.found)
        v.append(o.sameSite ? QStringLiteral("same site") : QStringLiteral("other site"));
    if (o.writableChecked)
        v.append(o.writable ? QStringLiteral("writable") : QStringLiteral("not writable"));
    return v.join(QStringLiteral(", "));
}

class ServerTestsFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = std::make_shared<FakeDirectory>();
        loc = std::make_shared<FakeLocator>();
        t.ctx().seams().directory = dir;
        t.ctx().seams().locator = loc;
        t.ctx().workstation().Refresh();
        dir->localSite = QStringLiteral("Default-First-Site-Name");
        dir->bindable[QStringLiteral("LDAP://dc1.corp.example.com:389")] = true;
        dir->bindable[QStringLiteral("GC://gc1.corp.example.com:3268")] = true;
        dir->sites[QStringLiteral("dc1.corp.example.com")] = QStringLiteral("Default-First-Site-Name");
        dir->sites[QStringLiteral("gc1.corp.example.com")] = QStringLiteral("Branch");
    }
    QStringList messages() const { return const_cast<TestContext&>(t).prompter().messages; }

    TestContext t;
    std::shared_ptr<FakeDirectory> dir;
    std::shared_ptr<FakeLocator> loc;
    RecordingWait wait{t.prompter()};
    ServerTests tests{t.ctx(), wait};
};

} // namespace

TEST_F(ServerTestsFixture, CurrentServerTestsBindTheRightPathsAndCompareSites)
{
    using namespace server_texts;
    EXPECT_EQ(verdict(tests.cmdDCTestConnection_Click(QStringLiteral("dc1.corp.example.com"))), "found, same site");
    EXPECT_EQ(dir->bound.last(), "LDAP://dc1.corp.example.com:389");
    EXPECT_TRUE(dir->siteQueries.contains("local:VELMORA01"));
    EXPECT_EQ(messages().last(), kDcFound);

    EXPECT_EQ(verdict(tests.cmdGCTestConnection_Click(QStringLiteral("gc1.corp.example.com"))), "found, other site");
    EXPECT_EQ(dir->bound.last(), "GC://gc1.corp.example.com:3268");
    EXPECT_EQ(messages().last(), kGcOtherSite);

    // Sites differing only in case are the same site.
    dir->sites[QStringLiteral("gc1.corp.example.com")] = QStringLiteral("DEFAULT-first-SITE-name");
    tests.cmdGCTestConnection_Click(QStringLiteral("gc1.corp.example.com"));
    EXPECT_EQ(messages().last(), kGcFound);

    // Both site lookups failing: empty equals empty.
    dir->sites.clear();
    dir->localSite.clear();
    tests.cmdDCTestConnection_Click(QStringLiteral("dc1.corp.example.com"));
    EXPECT_EQ(messages().last(), kDcFound);

    // An empty server cell is not found, without a bind.
    const qsizetype binds = dir->bound.size();
    EXPECT_EQ(verdict(tests.cmdDCTestConnection_Click(QString())), "not found: no server name");
    EXPECT_EQ(dir->bound.size(), binds);
    EXPECT_EQ(messages().last(), kDcNotFound);
    tests.cmdGCTestConnection_Click(QStringLiteral("nogc.corp.example.com"));
    EXPECT_EQ(messages().last(), kGcNotFound);
    EXPECT_FALSE(wait.busy);
    EXPECT_EQ(wait.changes.count(true), 6);
}

TEST_F(ServerTestsFixture, ManualNamesThatAreNoHostNamesReachNoServer)
{
    QString f;
    tests.cmdTestDCManualPrimary_Click(f);
    tests.cmdTestDCManualSecondary_Click(f);
    tests.cmdTestGCManualPrimary_Click(f);
    tests.cmdTestGCManualSecondary_Click(f);
    EXPECT_EQ(messages(), QStringList(4, server_texts::kNoDot));
    EXPECT_TRUE(dir->bound.isEmpty());

    f = QStringLiteral("server");
    tests.cmdTestDCManualPrimary_Click(f);
    EXPECT_EQ(f, ""); // the primary DC field is cleared
    for (auto fn : {&ServerTests::cmdTestDCManualSecondary_Click, &ServerTests::cmdTestGCManualPrimary_Click,
                    &ServerTests::cmdTestGCManualSecondary_Click}) {
        f = QStringLiteral("server");
        (tests.*fn)(f);
        EXPECT_EQ(f, "server"); // the others keep it
    }
    f = QStringLiteral("gc1.corp.example.com/x"); // a dot, but no host name
    EXPECT_EQ(verdict(tests.cmdTestGCManualPrimary_Click(f)), "not found: 'gc1.corp.example.com/x' is not a DNS host name");
    EXPECT_EQ(f, "");
    EXPECT_EQ(messages().size(), 9);
    EXPECT_EQ(messages().last(), server_texts::kGcNotFound);
    EXPECT_TRUE(dir->bound.isEmpty());
    EXPECT_TRUE(loc->requests.isEmpty());
}

// Each manual test on a fresh field: the verdict (found only when the right path binds), what is shown, whether
// the field keeps the name and whether the locator is asked if the server itself is writable. Only the tested
// server's own answer counts, and a DC typed as a secondary is asked even when it is not found.
TEST_F(ServerTestsFixture, ManualTestsKeepOnlyWhatIsFoundAndWritable)
{
    using namespace server_texts;
    using Button = ServerTestOutcome (ServerTests::*)(QString&);
    const Button dcPrimary = &ServerTests::cmdTestDCManualPrimary_Click;
    dir->bindable[QStringLiteral("LDAP://rodc.corp.example.com:389")] = true;
    dir->sites[QStringLiteral("rodc.corp.example.com")] = QStringLiteral("Default-First-Site-Name");
    const DcLookupResult readOnly = FakeLocator::found("rodc.corp.example.com", "corp.example.com",
                                                       dsflag::Ds | dsflag::SelectSecretDomain6);
    const DcLookupResult writable = FakeLocator::found("dc1.corp.example.com", "corp.example.com", dsflag::Ds | dsflag::Writable);
    // clang-format off
    const struct {
        Button button;
        const char* typed;
        DcLookupResult answer;
        const char* verdict;
        QStringList shown;
        bool kept, asked;
    } cases[] = {
        {dcPrimary, "rodc.corp.example.com", readOnly, "found, same site, not writable", {kDcFound, kNotWritable}, false, true},
        {dcPrimary, "dc1.corp.example.com", writable, "found, same site, writable", {kDcFound}, true, true},
        {dcPrimary, "gone.corp.example.com", writable, "not found: LDAP://gone.corp.example.com:389 does not answer",
         {kDcNotFound}, false, false},
        // Cannot be asked at all: not writable, whatever other DCs say.
        {&ServerTests::cmdTestDCManualSecondary_Click, "gone.corp.example.com", FakeLocator::failed(1722),
         "not found: LDAP://gone.corp.example.com:389 does not answer, not writable", {kDcNotFound, kNotWritable}, false, true},
        {&ServerTests::cmdTestGCManualPrimary_Click, "gc1.corp.example.com", writable, "found, other site", {kGcOtherSite},
         true, false},
        // A DC that is no global catalog at 3268.
        {&ServerTests::cmdTestGCManualSecondary_Click, "dc1.corp.example.com", writable,
         "not found: GC://dc1.corp.example.com:3268 does not answer", {kGcNotFound}, false, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        t.prompter().messages.clear();
        loc->requests.clear();
        loc->answers = {c.answer};
        QString field = QString::fromLatin1(c.typed);
        EXPECT_EQ(verdict((tests.*c.button)(field)), c.verdict) << c.typed;
        EXPECT_EQ(messages(), c.shown) << c.typed;
        EXPECT_EQ(field, c.kept ? c.typed : "") << c.typed;
        ASSERT_EQ(loc->requests.size(), c.asked ? 1 : 0) << c.typed;
        if (c.asked) {
            EXPECT_EQ(loc->requests[0].computerName, c.typed);
        }
        EXPECT_FALSE(wait.busy) << c.typed;
    }
}

TEST(ServerInDomain, HostLabelDotDomain)
{
    const QString d = QStringLiteral("corp.example.com");
    EXPECT_TRUE(bServerInDomain(QStringLiteral("dc1.corp.example.com"), d));
    EXPECT_TRUE(bServerInDomain(QStringLiteral("dc1.CORP.EXAMPLE.COM"), d));
    EXPECT_FALSE(bServerInDomain(QStringLiteral("dc1.corp.example.com"), QString()));
    // The domain must follow the host label after a dot, not merely appear in the name.
    for (const char* other : {"dc1.sub.corp.example.com", "corp.example.com", "example.com", "dc1.other.example.org",
                              "dc1xcorp.example.com", "dc1.corp.example.com.evil.org", ".corp.example.com"})
        EXPECT_FALSE(bServerInDomain(QString::fromLatin1(other), d)) << other;
}

// Each case on a fresh field: what stays in it, what is shown, whether Save is enabled.
TEST(ManualNameValidation, FieldsAreTrimmedCheckedAndEnableSave)
{
    const char* const notInDomain =
        "The server needs to be in the currently selected domain.  dc1.sub.corp.example.com is not part "
        "of the corp.example.com domain.";
    const char* const noDot = "You need to enter a fully qualified server name in the form of 'server.domain.com'";
    const std::string longName = std::string(4988, 'a') + ".example.com";
    const struct {
        const char* domainCell; // nullptr: a global catalog field
        const char* typed;
        const char* kept;
        const char* shown;
        int saves;
    } cases[] = {
        {" corp.example.com ", "  dc1.corp.example.com ", "dc1.corp.example.com", nullptr, 1},
        {" corp.example.com ", "dc1.sub.corp.example.com", "", notInDomain, 0},
        {" corp.example.com ", "dc1", "", noDot, 0},
        {" corp.example.com ", "    ", "", nullptr, 0},
        {" x ", "anything.example.org", "anything.example.org", nullptr, 0}, // no domain selected
        {nullptr, " gc1.example.org\t", "gc1.example.org", nullptr, 1},
        {nullptr, "gc1", "", noDot, 1}, // enabled also after the clearing
        {nullptr, "   ", "", nullptr, 0},
        // Names that are no host names get the same words as one without a dot, whatever the domain.
        {" corp.example.com ", "bad name!.corp.example.com", "", noDot, 0},
        {" x ", "dc1;x.corp.example.com", "", noDot, 0},
        {nullptr, "not a host;name\nx.example.com", "", noDot, 1},
        {nullptr, "gc1.example.org\nInjected log line", "", noDot, 1},
        {nullptr, longName.c_str(), "", noDot, 1},
    };
    for (const auto& c : cases) {
        ScriptedPrompter p;
        int saves = 0;
        QString f = QString::fromLatin1(c.typed);
        if (c.domainCell)
            NameValidation::validateDomainControllerField(f, QString::fromLatin1(c.domainCell), p, [&] { ++saves; });
        else
            NameValidation::validateGlobalCatalogField(f, p, [&] { ++saves; });
        EXPECT_EQ(f, c.kept) << c.typed;
        EXPECT_EQ(p.messages, c.shown ? QStringList{c.shown} : QStringList()) << c.typed;
        EXPECT_EQ(saves, c.saves) << c.typed;
    }
}
