#include "platform/linux/LinuxWorkstationSource.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTextStream>

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <utmpx.h>

namespace fw {

namespace {

// The value of `key` in the [section] of an ini-style file (smb.conf, sssd.conf, krb5.conf).
QString iniValue(const QString& path, const QString& sectionPattern, const QString& key)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QRegularExpression sectionRe(QStringLiteral("^\\[\\s*(%1)\\s*\\]$").arg(sectionPattern),
                                       QRegularExpression::CaseInsensitiveOption);
    bool inSection = false;
    QTextStream in(&f);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inSection = sectionRe.match(line).hasMatch();
            continue;
        }
        if (!inSection)
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1).trimmed();
    }
    return {};
}

// First "[domain/NAME]" section of sssd.conf.
QString sssdDomain(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    static const QRegularExpression re(QStringLiteral("^\\[\\s*domain/([^\\]\\s]+)\\s*\\]"));
    QTextStream in(&f);
    while (!in.atEnd()) {
        const auto m = re.match(in.readLine().trimmed());
        if (m.hasMatch())
            return m.captured(1);
    }
    return {};
}

} // namespace

LinuxWorkstationSource::LinuxWorkstationSource(QString root) : m_root(std::move(root)) {}

QString LinuxWorkstationSource::file(const QString& rel) const
{
    return QDir(m_root).filePath(rel);
}

QString LinuxWorkstationSource::joinedDomain() const
{
    // A machine joined with sssd/realmd or winbind names its realm in its configuration.
    QString d = sssdDomain(file(QStringLiteral("etc/sssd/sssd.conf")));
    if (!d.isEmpty())
        return d.toUpper();
    const QString security = iniValue(file(QStringLiteral("etc/samba/smb.conf")), QStringLiteral("global"),
                                      QStringLiteral("security"));
    const QString realm = iniValue(file(QStringLiteral("etc/samba/smb.conf")), QStringLiteral("global"), QStringLiteral("realm"));
    if (!realm.isEmpty() && (security.isEmpty() || security.compare(QLatin1String("ads"), Qt::CaseInsensitive) == 0))
        return realm.toUpper();
    d = iniValue(file(QStringLiteral("etc/krb5.conf")), QStringLiteral("libdefaults"), QStringLiteral("default_realm"));
    if (!d.isEmpty())
        return d.toUpper();
    d = iniValue(file(QStringLiteral("etc/samba/smb.conf")), QStringLiteral("global"), QStringLiteral("workgroup"));
    if (!d.isEmpty())
        return d.toUpper();
    return {};
}

std::optional<ComputerFacts> LinuxWorkstationSource::queryComputer() const
{
    ComputerFacts c;
    c.computerName = QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0).toUpper();
    if (c.computerName.isEmpty())
        return std::nullopt;
    c.domain = joinedDomain();
    if (c.domain.isEmpty())
        c.domain = QHostInfo::localDomainName();
    if (c.domain.isEmpty())
        c.domain = QStringLiteral("WORKGROUP");
    c.platformId = 500; // the NT platform identifier: this system offers the workstation facts
    struct utsname u {};
    if (uname(&u) == 0) {
        const QStringList v = QString::fromLocal8Bit(u.release).split(QLatin1Char('.'));
        c.verMajor = v.value(0).toInt();
        c.verMinor = v.value(1).toInt();
    }
    qint32 users = 0;
    setutxent();
    while (const utmpx* e = getutxent()) {
        if (e->ut_type == USER_PROCESS)
            ++users;
    }
    endutxent();
    c.loggedOnUsers = users;
    return c;
}

std::optional<UserFacts> LinuxWorkstationSource::queryUser() const
{
    UserFacts u;
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name)
        u.userName = QString::fromLocal8Bit(pw->pw_name);
    if (u.userName.isEmpty())
        u.userName = qEnvironmentVariable("USER");
    if (u.userName.isEmpty())
        return std::nullopt;
    // Directory accounts resolved by sssd or winbind look like user@REALM or DOMAIN\user.
    if (const int at = u.userName.indexOf(QLatin1Char('@')); at > 0) {
        u.logonDomain = u.userName.mid(at + 1).toUpper();
        u.userName = u.userName.left(at);
    } else if (const int bs = u.userName.indexOf(QLatin1Char('\\')); bs > 0) {
        u.logonDomain = u.userName.left(bs).toUpper();
        u.userName = u.userName.mid(bs + 1);
    } else {
        // A local account logs on to the computer itself.
        u.logonDomain = QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0).toUpper();
    }
    u.logonServer = QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0).toUpper();
    return u;
}

} // namespace fw
