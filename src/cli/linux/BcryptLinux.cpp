#include "cli/WebConfig.h"

#include <memory>

#include <crypt.h>

namespace fw {

QString basicAuthUnsupported()
{
    return QString();
}

bool bcryptMatches(const QByteArray& password, const QByteArray& hash)
{
    if (!isBcryptHash(hash))
        return false;
    auto data = std::make_unique<crypt_data>(); // zeroed, as crypt_rn wants it
    const char* out = crypt_rn(password.constData(), hash.constData(), data.get(), sizeof(crypt_data));
    if (!out || qstrlen(out) != static_cast<size_t>(hash.size()))
        return false;
    unsigned char diff = 0; // the same time whatever the first difference
    for (qsizetype i = 0; i < hash.size(); ++i)
        diff |= static_cast<unsigned char>(out[i] ^ hash[i]);
    return diff == 0;
}

} // namespace fw
