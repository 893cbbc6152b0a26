#pragma once
#include "support/TestContext.h"

#include <QDateTime>
#include <QVariant>
#include <gtest/gtest.h>
#include <type_traits>

namespace fw::test {

// An empty VelmoraDb (schema only) in the test's folder, with helpers that add exactly the rows a case needs.
class MonitorTestDb {
public:
    // Nothing is made for an engine that is not configured (the case skips itself in SetUp).
    explicit MonitorTestDb(TestContext& t, Engine engine = Engine::Sqlite);

    void addDomain(const QString& name, const QString& dc, const QString& id);
    void addDcRun(qint64 syncId, bool active, const QDateTime& start, const QVariant& end = QVariant(), int usnIncrement = 500,
                  int interval = 15);
    void addGcRun(qint64 syncId, bool active, const QDateTime& start, const QVariant& end = QVariant(), int usnIncrement = 500,
                  int interval = 15, int usnLag = 0);
    void addDcDomainRun(qint64 syncId, const QString& domain, bool active, int usnLag = 0);
    void addObject(qint64 syncId, const QString& domain, bool active, const QString& type, bool deleted, const QVariant& count,
                   const QVariant& elapsed, const QVariant& lastSync);

    static QString ts(const QDateTime& t);

private:
    TestContext& m_t;
};

const QString kCorp = QStringLiteral("corp.example.com");
const QString kSales = QStringLiteral("sales.example.com");
const QString kEmea = QStringLiteral("emea.example.org");

// A case with its own context and an empty database: on SQLite (MonitorTest) or on each engine (MonitorEngineTest).
template <class Base>
class MonitorFixture : public Base {
protected:
    static constexpr bool kPerEngine = std::is_base_of_v<::testing::WithParamInterface<Engine>, Base>;
    Engine engine() const
    {
        if constexpr (kPerEngine)
            return this->GetParam();
        else
            return Engine::Sqlite;
    }
    void SetUp() override
    {
        FW_SKIP_UNLESS_ENGINE(engine());
        // The case stops here when its database could not be made (the failure above says why).
        ASSERT_FALSE(t.ctx().connectionString.isEmpty()) << "the case has no database";
    }

    TestContext t;
    MonitorTestDb db{t, engine()};
    QDateTime now() { return t.clock().now(); }
    // The first `n` of kCorp, kSales and kEmea, with current controllers dc01.corp, ... and ids {1}, {2}, {3}.
    void addDomains(int n)
    {
        const std::pair<QString, QString> domains[] = {{kCorp, "dc01.corp"}, {kSales, "dc01.sales"}, {kEmea, "dc01.emea"}};
        for (int i = 0; i < n; ++i)
            db.addDomain(domains[i].first, domains[i].second, QStringLiteral("{%1}").arg(i + 1));
    }
};

using MonitorTest = MonitorFixture<::testing::Test>;
using MonitorEngineTest = MonitorFixture<::testing::TestWithParam<Engine>>;

} // namespace fw::test
