#pragma once
#include <QString>

namespace fw {

// The few statements whose text differs between the database engines the tool talks to.
class SqlDialect {
public:
    enum class Engine { SqlServer, Sqlite };

    explicit SqlDialect(Engine e = Engine::SqlServer) : m_engine(e) {}
    Engine engine() const { return m_engine; }
    QString name() const { return m_engine == Engine::Sqlite ? QStringLiteral("SQLite") : QStringLiteral("SQL Server"); }

    // Replaces a configuration node's value; binds (full node name, value).
    QString configurationModify() const;

    // Picks the engine from what the ODBC driver calls its DBMS ("Microsoft SQL Server", "SQLite", ...).
    static Engine fromDbmsName(const QString& dbmsName);

private:
    Engine m_engine;
};

} // namespace fw
