#include "db/SqlDialect.h"

namespace fw {

QString SqlDialect::configurationModify() const
{
    if (m_engine == Engine::Sqlite)
        return QStringLiteral("UPDATE vw_Configuration SET NodeValue = ? WHERE FullNodeName = ?");
    return QStringLiteral("EXEC csp_ConfigurationModify @FullName = ?, @Value = ?");
}

QVariantList SqlDialect::configurationModifyBinds(const QString& fullNodeName, const QString& value) const
{
    if (m_engine == Engine::Sqlite)
        return {value, fullNodeName};
    return {fullNodeName, value};
}

QString SqlDialect::nonIntegerCount(const QString& column) const
{
    if (m_engine == Engine::Sqlite)
        return QStringLiteral("SUM(CASE WHEN typeof(%1) IN ('integer', 'null') THEN 0 ELSE 1 END)").arg(column);
    return QStringLiteral("0");
}

QString SqlDialect::textOrder(const QString& column) const
{
    if (m_engine == Engine::Sqlite)
        return column + QStringLiteral(" COLLATE NOCASE");
    return column;
}

SqlDialect::Engine SqlDialect::fromDbmsName(const QString& dbmsName)
{
    if (dbmsName.contains(QLatin1String("sqlite"), Qt::CaseInsensitive))
        return Engine::Sqlite;
    return Engine::SqlServer;
}

} // namespace fw
