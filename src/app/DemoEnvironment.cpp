#include "app/DemoEnvironment.h"

#include "db/Database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace fw {

QString DemoEnvironment::databasePath(const QString& dir)
{
    return QDir(dir).absoluteFilePath(QStringLiteral("VelmoraDb.sqlite"));
}

QString DemoEnvironment::registryPath(const QString& dir)
{
    return QDir(dir).absoluteFilePath(QStringLiteral("velmora.reg"));
}

QString DemoEnvironment::registryText(const QString& databasePath, quint32 versionNumber, quint32 buildNumber)
{
    QString escaped = databasePath;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    const auto dword = [](quint32 v) { return QString::number(v, 16).rightJustified(8, QLatin1Char('0')); };
    return QStringLiteral(
               "Windows Registry Editor Version 5.00\r\n\r\n"
               "; Demo installation of Velmora for the Ferrowind settings tool.\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon]\r\n"
               "\"Version Number\"=dword:%1\r\n"
               "\"Build Number\"=dword:%2\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\SystemParameters\\1.0]\r\n"
               "\"IDCProgID\"=\"KSDSAD.KSDSAD.1\"\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\KsCsNodeMgr\\1.0\\Local Services\\KsCsMgr]\r\n"
               "\"Active Status\"=dword:00000001\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelon\\FerrowindSettingsTool]\r\n"
               "\"Trace\"=dword:00000000\r\n"
               "\"ConnectionString\"=\"sqlite:%3\"\r\n")
        .arg(dword(versionNumber), dword(buildNumber), escaped);
}

FwError DemoEnvironment::create(const QString& dir, const DemoDataOptions& options)
{
    if (!QDir().mkpath(dir))
        return {75, QStringLiteral("Cannot create the folder %1").arg(dir)};
    const QString db = databasePath(dir);
    const QString tmp = db + QStringLiteral(".new");
    QFile::remove(tmp);
    {
        FwError err;
        auto conn = Database::createSqlite(tmp, &err);
        if (!conn)
            return err;
        if ((err = DemoData::createSchema(*conn)) || (err = DemoData::populate(*conn, options))) {
            conn.reset();
            QFile::remove(tmp);
            return err;
        }
    }
    // Only a complete database replaces the old one.
    QFile::remove(db);
    if (!QFile::rename(tmp, db))
        return {75, QStringLiteral("Cannot move %1 to %2").arg(tmp, db)};

    QSaveFile reg(registryPath(dir));
    if (!reg.open(QIODevice::WriteOnly))
        return {75, QStringLiteral("Cannot write %1: %2").arg(registryPath(dir), reg.errorString())};
    reg.write(registryText(db).toUtf8());
    if (!reg.commit())
        return {75, QStringLiteral("Cannot write %1: %2").arg(registryPath(dir), reg.errorString())};
    return {};
}

} // namespace fw
