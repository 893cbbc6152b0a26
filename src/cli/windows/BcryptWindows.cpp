#include "cli/WebConfig.h"

namespace fw {

// No bcrypt in the Windows build: the system has none, and the library the Linux build uses (libxcrypt) is not
// built for Windows. A password file that cannot be checked is refused when the configuration is read, never
// passed as open.
QString basicAuthUnsupported()
{
    return QStringLiteral("basic_auth_users is not supported on Windows (this build has no bcrypt); "
                          "check clients by certificate instead (tls_server_config: client_ca_file with client_auth_type "
                          "RequireAndVerifyClientCert)");
}

bool bcryptMatches(const QByteArray&, const QByteArray&)
{
    return false;
}

} // namespace fw
