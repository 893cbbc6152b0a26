#pragma once
#include "db/DemoData.h"
#include "log/Result.h"

#include <QString>

namespace fw {

// A self-contained environment to run the tool on a machine without Velmora: DIR/VelmoraDb.sqlite
// and DIR/velmora.reg describing an installed Velmora 8.0(0.85).
class DemoEnvironment {
public:
    // A database or registry file already in `dir` is replaced only when `replace` says so: it may be an
    // installation's own registry file or a demo someone has been editing.
    static Result<void> create(const QString& dir, const DemoDataOptions& options, bool replace = false);
    // Fills the database behind an ODBC connection string (a DSN or a full string) with the schema of its engine and
    // the demo data. A database already holding Velmora tables or views is left alone unless `replace` says so.
    static Result<void> fillDatabase(const QString& connectionString, const DemoDataOptions& options, bool replace = false);
    // Writes DIR/velmora.reg (making DIR) describing an installation that uses `connectionString`. A registry file
    // already there is replaced only when `replace` says so. The file is its owner's alone when the string holds a
    // password. checkRegistry() says beforehand whether it may be written, so that nothing else is done in vain.
    static Result<void> checkRegistry(const QString& dir, bool replace);
    static Result<void> writeRegistry(const QString& dir, const QString& connectionString, bool replace);
    static QString databasePath(const QString& dir);
    static QString registryPath(const QString& dir);
    // The .reg text for a product of the given version and build numbers, pointing at the database (a connection
    // string: "sqlite:" + path for the demo's file).
    static QString registryText(const QString& connectionString, quint32 versionNumber = 0x00080000,
                                quint32 buildNumber = 0x00000055);
};

} // namespace fw
