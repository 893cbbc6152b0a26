#include "cli/Gzip.h"

#ifdef FERROWIND_HAVE_ZLIB
#include <zlib.h>
#endif

namespace fw {

#ifdef FERROWIND_HAVE_ZLIB

bool gzipAvailable()
{
    return true;
}

std::optional<QByteArray> gzipped(const QByteArray& data)
{
    z_stream z{};
    // A page is compressed for each scrape that asks: the fastest level (the names repeat, most of the gain comes
    // at once), and a window and hash no larger than the page needs: zlib's default tables (256 KiB) take longer
    // to set up than a page of a few KiB takes to compress. 16 above the window's bits: gzip's header and trailer.
    int windowBits = 9;
    while (windowBits < 15 && (qsizetype(1) << windowBits) < data.size())
        ++windowBits;
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, windowBits + 16, 6, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    QByteArray out(static_cast<qsizetype>(deflateBound(&z, static_cast<uLong>(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int done = deflate(&z, Z_FINISH);
    const auto written = static_cast<qsizetype>(z.total_out);
    deflateEnd(&z);
    if (done != Z_STREAM_END)
        return std::nullopt;
    out.truncate(written);
    return out;
}

#else

bool gzipAvailable()
{
    return false;
}

std::optional<QByteArray> gzipped(const QByteArray&)
{
    return std::nullopt;
}

#endif

} // namespace fw
