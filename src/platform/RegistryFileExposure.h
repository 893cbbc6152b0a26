#pragma once
#include <QByteArray>
#include <QString>

class QFileDevice;

namespace fw {

// True when a registry file's text holds a database password: a PWD= (or Password=) with a value in a connection string,
// commented out or not. UTF-16 (with its byte-order mark) and UTF-8 files are read alike.
bool holdsDatabasePassword(const QByteArray& fileContents);

// What to say on stderr when the registry file at `path` holds a database password and every user of the
// computer can read it (as ssh says of a private key); empty when there is nothing to say or the file is not a
// regular file the tools would read.
QString passwordExposureWarning(const QString& path);

// The platform's part (platform/linux, platform/windows): whether every user of the computer can read the file (the
// mode's "other" bits; the Everyone entry of its access list), and the command that stops that.
bool everyoneCanRead(const QString& path);
QString unreadableToOthersCommand(const QString& path);
// Makes an open file (a QSaveFile's too, before its rename) its owner's alone: mode 0600 on Linux; on Windows an
// access list of its own, not inherited, that lets its owner in and nobody else. False when that cannot be done.
bool keepToOwner(QFileDevice& file);

} // namespace fw
