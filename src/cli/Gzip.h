#pragma once
#include <QByteArray>
#include <optional>

namespace fw {

// Whether this build compresses answers (it was built with zlib).
bool gzipAvailable();

// `data` in the gzip format (RFC 1952); none when this build has no zlib or zlib failed.
std::optional<QByteArray> gzipped(const QByteArray& data);

} // namespace fw
