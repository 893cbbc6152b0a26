#pragma once
#include <QString>

// The server tests' messages as the administrator reads them, typos included.
namespace fw::test::server_texts {
inline const QString kDcFound = QStringLiteral("Domain controller found.");
inline const QString kGcFound = QStringLiteral("Gobal catalog server found.");
inline const QString kDcNotFound = QStringLiteral("Server not found or not functioning as a domain controller.");
inline const QString kGcNotFound = QStringLiteral("Server not found or not functioning as a global catalog server.");
inline const QString kDcOtherSite = QStringLiteral("WARNING.  The domain controller was found, however it's not in the same "
                                                   "site as the local server.  This is NOT a reccomended configuration!");
inline const QString kGcOtherSite = QStringLiteral("WARNING.  The global catalog server was found, however it's not in the "
                                                   "same site as the local server.  This is NOT a reccomended configuration!");
inline const QString kNoDot = QStringLiteral(
    "You need to enter a fully qualified server name in the form of 'server.domain.com'");
inline const QString kNotWritable = QStringLiteral(
    "Non writable domain controller. Velmora will not work with non-writable domain controller.");
} // namespace fw::test::server_texts
