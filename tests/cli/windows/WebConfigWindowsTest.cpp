#include "cli/WebConfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

// The Windows build has no bcrypt: a configuration with users is refused with the reason when it is read, never
// served without the passwords being checked; a hash made on Linux is not taken for a match either.
TEST(WebConfigWindows, BasicAuthUsersAreRefusedWithTheReason)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath("web.yml");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    // htpasswd -nbB prometheus secret, made on Linux
    f.write("basic_auth_users:\n  prometheus: $2y$05$sNh7ZRyBtNLzQtpnqLS3DOaRjvtmEd0WQ8ujQ9RX/mtlFiBexmQ9O\n");
    f.close();
    const Result<WebConfig> c = WebConfig::load(path);
    ASSERT_FALSE(c);
    EXPECT_TRUE(c.error().description.endsWith(
        "basic_auth_users is not supported on Windows (this build has no bcrypt); check clients by certificate instead "
        "(tls_server_config: client_ca_file with client_auth_type RequireAndVerifyClientCert)"))
        << c.error().description.toStdString();
    EXPECT_FALSE(bcryptMatches("secret", "$2y$05$sNh7ZRyBtNLzQtpnqLS3DOaRjvtmEd0WQ8ujQ9RX/mtlFiBexmQ9O"));
}
