#pragma once
// The settings of the demo database as stored, read straight from the file.
#include "support/TestContext.h"

namespace fw::test {

inline const QString kCorp = "{6B1F0C2A-4D1E-4A8B-9C3D-1E2F3A4B5C6D}";
inline const QString kSales = "{A9E8D7C6-B5A4-4392-8170-F6E5D4C3B2A1}";
inline const QString kEmea = "{0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0}";
inline const QString kDsgc = "System.DirectoryConnectors.ActiveDirectory.DSGC.";

// The values `read` gives for each of the space-separated `names`, joined with spaces (NULL as NULL).
template <class Read>
QString joinedValues(const QString& names, Read read)
{
    QStringList out;
    for (const QString& n : names.split(' ')) {
        const QVariant v = read(n);
        out << (v.isNull() ? QStringLiteral("NULL") : v.toString());
    }
    return out.join(' ');
}

// Columns of a domain's row in the database behind `cs`.
inline QString domainColumns(const QString& cs, const QString& names, const QString& id = kCorp)
{
    return joinedValues(names, [&](const QString& n) {
        return sqlValue(cs, "SELECT " + n + " FROM ADDomain WHERE AdDomainObjectID = ?", {id});
    });
}

// Nodes of the global catalog in the database behind `cs`.
inline QString gcNodes(const QString& cs, const QString& names)
{
    return joinedValues(names, [&](const QString& n) {
        return sqlValue(cs, "SELECT NodeValue FROM Configuration WHERE FullNodeName = ?", {kDsgc + n});
    });
}

} // namespace fw::test
