#pragma once
// The settings of the demo database as stored, read straight from the file.
#include "support/TestContext.h"

namespace fw::test {

inline const QString kCorp = "{6B1F0C2A-4D1E-4A8B-9C3D-1E2F3A4B5C6D}";
inline const QString kSales = "{A9E8D7C6-B5A4-4392-8170-F6E5D4C3B2A1}";
inline const QString kEmea = "{0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0}";
inline const QString kDsgc = "System.DirectoryConnectors.ActiveDirectory.DSGC.";

// The stored values named (separated by spaces) in the database behind `cs`, joined with spaces (NULL as NULL):
// columns of the domain `id`'s row, or with no `id` nodes of the global catalog.
inline QString storedValues(const QString& cs, const QString& names, const QString& id)
{
    QStringList out;
    for (const QString& n : names.split(' ')) {
        const QVariant v = id.isEmpty() ? sqlValue(cs, "SELECT NodeValue FROM Configuration WHERE FullNodeName = ?", {kDsgc + n})
                                        : sqlValue(cs, "SELECT " + n + " FROM ADDomain WHERE AdDomainObjectID = ?", {id});
        // A bit column comes as a boolean from SQL Server, as a number from SQLite.
        out << (v.isNull() ? QStringLiteral("NULL") : v.typeId() == QMetaType::Bool ? QString::number(v.toInt()) : v.toString());
    }
    return out.join(' ');
}

inline QString domainColumns(const QString& cs, const QString& names, const QString& id = kCorp)
{
    return storedValues(cs, names, id);
}

inline QString gcNodes(const QString& cs, const QString& names)
{
    return storedValues(cs, names, {});
}

} // namespace fw::test
