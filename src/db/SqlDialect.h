#pragma once
#include <QString>
#include <QVariantList>

namespace fw {

// The few statements whose text differs between the database engines the tool talks to.
class SqlDialect {
public:
    enum class Engine { SqlServer, Sqlite };

    explicit SqlDialect(Engine e = Engine::SqlServer) : m_engine(e) {}
    Engine engine() const { return m_engine; }
    QString name() const { return m_engine == Engine::Sqlite ? QStringLiteral("SQLite") : QStringLiteral("SQL Server"); }

    // Replaces a configuration node's value, a statement that also runs in a batch with others;
    // configurationModifyBinds() gives its values in the order this engine's text takes them.
    QString configurationModify() const;
    QVariantList configurationModifyBinds(const QString& fullNodeName, const QString& value) const;

    // An aggregate counting the cells of an integer column that are neither an integer nor null: SQLite keeps
    // whatever is written and its SUM passes such a cell over in silence; SQL Server's types hold no such cell.
    QString nonIntegerCount(const QString& column) const;

    // A text column as the lists order it: without regard to case, as SQL Server's collation compares (SQLite's own
    // order is by code point).
    QString textOrder(const QString& column) const;

    // Picks the engine from what the ODBC driver calls its DBMS ("Microsoft SQL Server", "SQLite", ...).
    static Engine fromDbmsName(const QString& dbmsName);

private:
    Engine m_engine;
};

} // namespace fw
