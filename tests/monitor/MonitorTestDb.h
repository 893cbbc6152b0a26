#pragma once
#include "support/TestContext.h"

#include <QDateTime>
#include <QVariant>
#include <gtest/gtest.h>

namespace fw::test {

// An empty VelmoraDb (schema only) in the test's folder, with helpers that add exactly the rows a case needs.
class MonitorTestDb {
public:
    explicit MonitorTestDb(TestContext& t);

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

// A case with its own context and an empty database.
class MonitorTest : public ::testing::Test {
protected:
    TestContext t;
    MonitorTestDb db{t};
    QDateTime now() { return t.clock().now(); }
    // The first `n` of kCorp, kSales and kEmea, with current controllers dc01.corp, ... and ids {1}, {2}, {3}.
    void addDomains(int n);
};

} // namespace fw::test
