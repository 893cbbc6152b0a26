// The web configuration file as it is read (and refused) and the basic authentication with bcrypt: Linux's, where
// openssl makes the certificates and libcrypt checks the hashes (the Windows build refuses basic_auth_users).
#include "cli/WebConfig.h"
#include "support/TestCertificate.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace fw;

TEST(WebConfig, BcryptHashesOfEachPrefixAreChecked)
{
    const struct {
        QByteArray password;
        QByteArray hash;
        bool matches;
    } cases[] = {
        {"U*U", test::kBcryptOfUStarU, true},
        {"U*U", "$2b$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW", true},
        {"U*U", "$2y$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW", true},
        {"U*V", test::kBcryptOfUStarU, false},
        {"", test::kBcryptOfUStarU, false},
        {"U*U", "$1$CCCCCCCC$E5YPO9kmyuRGyh0XouQYb4", false}, // md5-crypt is not taken
    };
    for (const auto& c : cases)
        EXPECT_EQ(bcryptMatches(c.password, c.hash), c.matches) << c.password.toStdString() << ' ' << c.hash.toStdString();
}

// The scheme's name in any case; the whole password counts, a NUL in it included.
TEST(BasicAuth, AuthorizationValuesAreReadAsSent)
{
    BasicAuth auth({{"alice", test::kBcryptOfUStarU}});
    const auto allows = [&](const QByteArray& value) {
        const std::optional<BasicAuth::Credentials> c = auth.parse(value);
        return c && (auth.known(*c) || auth.check(*c));
    };
    const QByteArray right = QByteArray("alice:U*U").toBase64();
    const struct {
        QByteArray value;
        bool allowed;
    } cases[] = {
        {"Basic " + right, true},
        {"BASIC " + right, true},
        {"bAsIc   " + right, true},
        {"Basic " + QByteArray("alice:U*U\0junk", 14).toBase64(), false},
        {"Basic " + QByteArray("alice:U*U\0", 10).toBase64(), false},
        {"Basic " + QByteArray("alice:U*V").toBase64(), false},
        {"Basic " + QByteArray("aliceU*U").toBase64(), false},
        {"Basic !" + right, false},
        {"Basic", false},
        {"Bearer " + right, false},
        {"Basic" + right, false},
    };
    for (const auto& k : cases)
        EXPECT_EQ(allows(k.value), k.allowed) << k.value.toStdString();
}

// Credentials found right are remembered up to a bound, the oldest forgotten first.
TEST(BasicAuth, RemembersABoundedNumberOfCredentials)
{
    QHash<QString, QByteArray> users;
    for (int i = 0; i <= BasicAuth::kRemembered; ++i)
        users.insert(QStringLiteral("user%1").arg(i), test::kBcryptOfUStarU);
    BasicAuth auth(users);
    QList<BasicAuth::Credentials> offered;
    for (int i = 0; i <= BasicAuth::kRemembered; ++i) {
        offered.append(*auth.parse("Basic " + QStringLiteral("user%1:U*U").arg(i).toUtf8().toBase64()));
        EXPECT_FALSE(auth.known(offered.last()));
        EXPECT_TRUE(auth.check(offered.last()));
        EXPECT_TRUE(auth.known(offered.last()));
    }
    EXPECT_FALSE(auth.known(offered.first()));
    for (qsizetype i = 1; i < offered.size(); ++i)
        EXPECT_TRUE(auth.known(offered[i])) << i;
    EXPECT_EQ(BasicAuth::kRemembered, 16);
}

// A file is refused, with what is wrong in it, rather than served in part.
TEST(WebConfig, UnknownKeysUnreadableFilesAndWeakSettingsAreRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(test::makeCertificate(dir.path()));
    test::writeFile(dir.path(), "garbage.pem", "not a certificate\n");
    QTemporaryDir other; // a second certificate: its key is not the first one's
    ASSERT_TRUE(test::makeCertificate(other.path()));
    ASSERT_TRUE(QFile::copy(other.filePath("key.pem"), dir.filePath("otherkey.pem")));
    QProcess dsa; // a small key: it is refused for its type, not its size
    dsa.start("openssl", {"genpkey", "-genparam", "-algorithm", "DSA", "-pkeyopt", "dsa_paramgen_bits:1024", "-out",
                          dir.filePath("dsaparams.pem")});
    ASSERT_TRUE(dsa.waitForFinished(60000) && dsa.exitCode() == 0) << dsa.readAllStandardError().toStdString();
    dsa.start("openssl", {"genpkey", "-paramfile", dir.filePath("dsaparams.pem"), "-out", dir.filePath("dsa.pem")});
    ASSERT_TRUE(dsa.waitForFinished(60000) && dsa.exitCode() == 0) << dsa.readAllStandardError().toStdString();
    const QByteArray tls = "tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n";
    const struct {
        QByteArray yaml;
        QString why;
    } cases[] = {
        {"tls_config:\n  cert_file: cert.pem\n", "tls_config is not a known key"},
        {"http_server_config:\n  http2: false\n", "http_server_config is not supported"},
        {tls + "  max_version: TLS13\n", "tls_server_config.max_version is not supported"},
        {tls + "  min_version: TLS11\n", "tls_server_config.min_version 'TLS11' is not supported (TLS12 or TLS13)"},
        {tls + "  min_version: tls13\n", "tls_server_config.min_version 'tls13' is not supported (TLS12 or TLS13)"},
        {tls + "  min_version: [TLS13]\n", "tls_server_config.min_version must be text"},
        {tls + "  cipher_suites: [TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256, TLS_FANCY]\n",
         "tls_server_config.cipher_suites: 'TLS_FANCY' is not a known cipher suite (IANA's names, for example "
         "TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256)"},
        {tls + "  cipher_suites: [ECDHE-ECDSA-AES128-GCM-SHA256]\n",
         "tls_server_config.cipher_suites: 'ECDHE-ECDSA-AES128-GCM-SHA256' is not a known cipher suite (IANA's names, for "
         "example TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256)"},
        {tls + "  cipher_suites: [TLS_AES_128_GCM_SHA256]\n",
         "tls_server_config.cipher_suites: 'TLS_AES_128_GCM_SHA256' is a TLS 1.3 suite: cipher_suites chooses among TLS 1.2's"},
        {tls + "  cipher_suites: [TLS_RSA_WITH_RC4_128_SHA]\n",
         "tls_server_config.cipher_suites: 'TLS_RSA_WITH_RC4_128_SHA' is not offered by the TLS library"},
        {tls + "  cipher_suites: []\n", "tls_server_config.cipher_suites names no suite"},
        {tls + "  cipher_suites: TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256\n",
         "tls_server_config.cipher_suites must be a list of names"},
        {tls + "  cipher_suites: [[TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256]]\n",
         "tls_server_config.cipher_suites must be a list of names"},
        {tls + "  min_version: TLS13\n  cipher_suites: [TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256]\n",
         "tls_server_config.cipher_suites chooses among TLS 1.2's suites, which min_version TLS13 leaves out"},
        {tls + "  cipher_suites: [TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256, TLS_RSA_WITH_AES_128_CBC_SHA]\n",
         "tls_server_config.cipher_suites has no suite for the key's type (ECDSA): TLS 1.2 clients could not connect"},
        {"tls_server_config:\n  cert_file: cert.pem\n  key_file: dsa.pem\n",
         "key_file " + dir.filePath("dsa.pem") +
             " holds a DSA key, which no TLS suite offered here takes (use an RSA or EC key)"},
        {tls + "  cert_flie: x\n", "tls_server_config.cert_flie is not a known key"},
        {"tls_server_config:\n  cert_file: cert.pem\n", "tls_server_config needs both cert_file and key_file"},
        {"tls_server_config:\n  cert_file: none.pem\n  key_file: key.pem\n",
         "cert_file " + dir.filePath("none.pem") + " cannot be read: No such file or directory"},
        {"tls_server_config:\n  cert_file: garbage.pem\n  key_file: key.pem\n",
         "cert_file " + dir.filePath("garbage.pem") + " holds no PEM certificate"},
        {"tls_server_config:\n  cert_file: cert.pem\n  key_file: cert.pem\n",
         "key_file " + dir.filePath("cert.pem") + " holds no unencrypted PEM private key (RSA or EC)"},
        {"tls_server_config:\n  cert_file: cert.pem\n  key_file: otherkey.pem\n",
         "cert_file " + dir.filePath("cert.pem") + " and key_file " + dir.filePath("otherkey.pem") +
             " make no TLS server (is the key the certificate's own?): Unable to init SSL Context"},
        {tls + "  client_auth_type: VerifyClientCertIfGiven\n",
         "client_auth_type 'VerifyClientCertIfGiven' is not supported (NoClientCert, RequestClientCert, "
         "RequireAnyClientCert or RequireAndVerifyClientCert)"},
        {tls + "  client_ca_file: cert.pem\n", "client_ca_file is given, so client_auth_type must be RequireAndVerifyClientCert"},
        {tls + "  client_auth_type: RequireAndVerifyClientCert\n",
         "client_auth_type RequireAndVerifyClientCert needs client_ca_file"},
        {"basic_auth_users:\n  bob: secret\n", "basic_auth_users: the password of 'bob' is not a bcrypt hash"},
        {"basic_auth_users:\n  bob: '$2b$03$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW'\n",
         "basic_auth_users: the bcrypt hash of 'bob' has cost 03, not 04 to 31"},
        {"basic_auth_users:\n  bob: '$2b$32$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW'\n",
         "basic_auth_users: the bcrypt hash of 'bob' has cost 32, not 04 to 31"},
        {"basic_auth_users:\n  bob: '$2b$99$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW'\n",
         "basic_auth_users: the bcrypt hash of 'bob' has cost 99, not 04 to 31"},
        {"basic_auth_users:\n  bob: '$2b$1x$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW'\n",
         "basic_auth_users: the password of 'bob' is not a bcrypt hash"},
        {"basic_auth_users:\n  bob: '$2b$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOe!'\n",
         "basic_auth_users: the password of 'bob' is not a bcrypt hash"},
        {"basic_auth_users:\n  bob: '$2b$05_CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW'\n",
         "basic_auth_users: the password of 'bob' is not a bcrypt hash"},
        {"basic_auth_users:\n  bob: '" + QByteArray(test::kBcryptOfUStarU) + "'\n  bob: '" + test::kBcryptOfUStarU + "'\n",
         "basic_auth_users has the key 'bob' twice"},
        {tls + "  cert_file: cert.pem\n", "tls_server_config has the key 'cert_file' twice"},
        {"basic_auth_users:\nbasic_auth_users:\n", "the file has the key 'basic_auth_users' twice"},
        {"basic_auth_users: [alice]\n", "basic_auth_users must be a mapping"},
        {"basic_auth_users:\n  alice: 'x\n", "is not valid YAML (line 3: found unexpected end of stream)"},
    };
    for (const auto& c : cases) {
        const QString path = test::writeFile(dir.path(), "web.yml", c.yaml);
        const Result<WebConfig> web = WebConfig::load(path);
        EXPECT_FALSE(web) << c.yaml.toStdString();
        EXPECT_EQ(web.error().description, "the web configuration " + path + " " + c.why) << c.yaml.toStdString();
        EXPECT_FALSE(web.error().description.contains("secret"));
    }
    const Result<WebConfig> absent = WebConfig::load(dir.filePath("absent.yml"));
    EXPECT_FALSE(absent);
    EXPECT_EQ(absent.error().description,
              "the web configuration " + dir.filePath("absent.yml") + " cannot be read: No such file or directory");

    const Result<WebConfig> empty = WebConfig::load(test::writeFile(dir.path(), "web.yml", ""));
    ASSERT_TRUE(empty) << empty.error().description.toStdString();
    EXPECT_FALSE(empty->tls);
    EXPECT_TRUE(empty->users.isEmpty());
}
