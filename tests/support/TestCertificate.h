#pragma once
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

namespace fw::test {

enum class KeyType { Ec, Rsa };

// A self-signed certificate for 127.0.0.1 and localhost and its unencrypted key (EC P-256, or RSA 2048), written by
// openssl as `dir`/cert.pem and `dir`/key.pem; false when openssl failed.
inline bool makeCertificate(const QString& dir, KeyType type = KeyType::Ec, const QString& name = "localhost")
{
    const QStringList key = type == KeyType::Ec ? QStringList{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1"}
                                                : QStringList{"-newkey", "rsa:2048"};
    QProcess p;
    p.start("openssl",
            QStringList{"req", "-x509"} + key +
                QStringList{"-nodes", "-keyout", QDir(dir).filePath("key.pem"), "-out", QDir(dir).filePath("cert.pem"), "-days",
                            "2", "-subj", "/CN=" + name, "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"});
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The bcrypt test vector of crypt_blowfish: the password "U*U".
inline const char* const kBcryptOfUStarU = "$2a$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW";

// Writes `text` to `dir`/`name` and returns the file's path.
inline QString writeFile(const QString& dir, const QString& name, const QByteArray& text)
{
    QFile f(QDir(dir).filePath(name));
    if (f.open(QIODevice::WriteOnly))
        f.write(text);
    return f.fileName();
}

} // namespace fw::test
