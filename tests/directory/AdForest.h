#pragma once
#include <QHash>
#include <QString>
#include <optional>

namespace fw::test {

// The Samba AD forest started by scripts/ad-test-forest, as its forest.env describes it.
struct AdForest {
    QHash<QString, QString> values;
    QString state;
    QString get(const QString& key) const { return values.value(key); }
    QString domain() const { return get(QStringLiteral("FOREST_DOMAIN")); }
    QString dc1() const { return get(QStringLiteral("FOREST_DC1")); }
    QString dc2() const { return get(QStringLiteral("FOREST_DC2")); }

    static std::optional<AdForest> load(const QString& stateDir);
};

// Runs this program again inside the forest's network namespace: starts the forest (provisioned once and
// cached in stateDir), runs the program with FW_FOREST_INSIDE=1 and the Kerberos settings, stops the forest.
// Returns -1 when already inside (the caller goes on), 77 when the machine cannot host the forest, else
// the inner run's exit status. Every step is bounded in time.
int runInsideForest(int argc, char** argv, const QString& stateDir, const QString& script);

} // namespace fw::test
