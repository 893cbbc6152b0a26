#include "app/DemoEnvironment.h"

#include "db/ConnectionStringRedaction.h"
#include "db/Database.h"
#include "platform/RegFileWriter.h"
#include "platform/RegistryFileExposure.h"
#include "platform/RegistryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

namespace fw {

namespace {

// What a run writes beside the database until the new one is complete: the file and SQLite's journal of it (the
// connection keeps the rollback journal). A run killed part way leaves them; the next run removes these names, and no
// other file.
Result<void> removeUnfinished(const QString& tmp)
{
    for (const QString& name : {tmp, tmp + QStringLiteral("-journal")}) {
        const QFileInfo file(name);
        if (!file.exists() && !file.isSymLink())
            continue;
        if (!QFile::remove(name))
            return FwError{75, QStringLiteral("Cannot remove %1, left by an earlier run").arg(name)};
    }
    return Result<void>::success();
}

} // namespace

QString DemoEnvironment::databasePath(const QString& dir)
{
    return QDir(dir).absoluteFilePath(QStringLiteral("VelmoraDb.sqlite"));
}

QString DemoEnvironment::registryPath(const QString& dir)
{
    return QDir(dir).absoluteFilePath(QStringLiteral("velmora.reg"));
}

QString DemoEnvironment::registryText(const QString& connectionString, quint32 versionNumber, quint32 buildNumber)
{
    const QString kestrelon = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon");
    const QString tool = kestrelon + QStringLiteral("\\FerrowindSettingsTool");
    RegistryContents reg;
    reg.setDword(kestrelon, QStringLiteral("Version Number"), versionNumber);
    reg.setDword(kestrelon, QStringLiteral("Build Number"), buildNumber);
    reg.setString(kestrelon + QStringLiteral("\\SystemParameters\\1.0"), QStringLiteral("IDCProgID"),
                  QStringLiteral("KSDSAD.KSDSAD.1"));
    reg.setDword(kestrelon + QStringLiteral("\\KsCsNodeMgr\\1.0\\Local Services\\KsCsMgr"), QStringLiteral("Active Status"), 1);
    reg.setDword(tool, QStringLiteral("Trace"), 0);
    reg.setString(tool, QStringLiteral("ConnectionString"), connectionString);
    return RegFileWriter::text(reg, QStringLiteral("Demo installation of Velmora for the Ferrowind settings tool."));
}

Result<void> DemoEnvironment::fillDatabase(const QString& connectionString, const DemoDataOptions& options, bool replace)
{
    Result<std::unique_ptr<Database>> opened = Database::open(connectionString);
    if (!opened)
        return opened.error();
    Database& db = **opened;
    const QStringList present = DemoData::velmoraObjects(db);
    if (!present.isEmpty()) {
        if (!replace)
            return FwError{58,
                           QStringLiteral("The database (%1) already holds Velmora tables (%2); give --replace to replace them")
                               .arg(redactConnectionString(connectionString), present.join(QStringLiteral(", ")))};
        if (Result<void> dropped = DemoData::dropSchema(db); !dropped)
            return dropped.error();
    }
    Result<void> made = DemoData::createSchema(db);
    if (made)
        made = DemoData::populate(db, options);
    if (!made) {
        (void)DemoData::dropSchema(db); // what was made here, half filled, goes again; the first failure is the one told
        return made.error();
    }
    return Result<void>::success();
}

Result<void> DemoEnvironment::checkRegistry(const QString& dir, bool replace)
{
    const QString path = registryPath(dir);
    if (!replace && QFileInfo::exists(path))
        return FwError{58, QStringLiteral("%1 already exists; give --replace to replace it").arg(path)};
    if (!QDir().mkpath(dir))
        return FwError{75, QStringLiteral("Cannot create the folder %1").arg(dir)};
    return Result<void>::success();
}

Result<void> DemoEnvironment::writeRegistry(const QString& dir, const QString& connectionString, bool replace)
{
    if (Result<void> ok = checkRegistry(dir, replace); !ok)
        return ok;
    const QString path = registryPath(dir);
    const QByteArray text = registryText(connectionString).toUtf8();
    QSaveFile reg(path);
    if (!reg.open(QIODevice::WriteOnly))
        return FwError{75, QStringLiteral("Cannot write %1: %2").arg(path, reg.errorString())};
    // A password never lies open to others, not even for the moment before the rename.
    if (holdsDatabasePassword(text) && !keepToOwner(reg))
        return FwError{75, QStringLiteral("Cannot make %1 readable to its owner alone").arg(path)};
    reg.write(text);
    if (!reg.commit())
        return FwError{75, QStringLiteral("Cannot write %1: %2").arg(path, reg.errorString())};
    return Result<void>::success();
}

Result<void> DemoEnvironment::create(const QString& dir, const DemoDataOptions& options, bool replace)
{
    if (!replace)
        for (const QString& existing : {databasePath(dir), registryPath(dir)})
            if (QFileInfo::exists(existing))
                return FwError{58, QStringLiteral("%1 already exists; give --replace to replace it").arg(existing)};
    if (!QDir().mkpath(dir))
        return FwError{75, QStringLiteral("Cannot create the folder %1").arg(dir)};
    const QString db = databasePath(dir);
    const QString tmp = db + QStringLiteral(".new");
    // Another run writing the same folder keeps its files; one that was killed left its lock behind, which is stale.
    QLockFile lock(tmp + QStringLiteral(".lock"));
    lock.setStaleLockTime(0); // a run of millions of rows takes minutes: only a dead owner makes the lock stale
    if (!lock.tryLock(0))
        return lock.error() == QLockFile::LockFailedError
                   ? FwError{58, QStringLiteral("Another demo-env run is writing %1; try again when it has ended").arg(tmp)}
                   : FwError{75, QStringLiteral("Cannot create %1.lock").arg(tmp)};
    if (Result<void> removed = removeUnfinished(tmp); !removed)
        return removed;
    {
        Result<std::unique_ptr<Database>> conn = Database::createSqlite(tmp);
        if (!conn)
            return conn.error();
        Result<void> made = DemoData::createSchema(**conn);
        if (made)
            made = DemoData::populate(**conn, options);
        if (!made) {
            conn->reset();
            (void)removeUnfinished(tmp); // the generation's failure is the one told
            return made.error();
        }
    }
    // Only a complete database replaces the old one.
    QFile::remove(db);
    if (!QFile::rename(tmp, db))
        return FwError{75, QStringLiteral("Cannot move %1 to %2").arg(tmp, db)};

    return writeRegistry(dir, QStringLiteral("sqlite:") + db, true);
}

} // namespace fw
