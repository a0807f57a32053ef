#include "base/Gzip.h"

#include <stdexcept>
#include <zlib.h>

namespace olvex::gzip {

namespace {

// zlib's window bits for a gzip wrapper rather than a bare zlib stream.
constexpr int kGzipWindow = 15 + 16;
constexpr std::size_t kChunk = 256 * 1024;

Bytef* input(std::string_view data) {
    return reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
}

} // namespace

std::string compress(std::string_view data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, kGzipWindow, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::bad_alloc();
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = input(data);
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    // deflateBound leaves room for the whole member, so one call finishes it.
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        throw std::bad_alloc();
    }
    return out;
}

std::optional<std::string> decompress(std::string_view data, std::size_t limit) {
    z_stream stream{};
    if (inflateInit2(&stream, kGzipWindow) != Z_OK) {
        throw std::bad_alloc();
    }
    stream.next_in = input(data);
    stream.avail_in = static_cast<uInt>(data.size());
    std::string out;
    int result = Z_OK;
    while (result == Z_OK) {
        const std::size_t used = out.size();
        if (used > limit) {
            break;
        }
        out.resize(used + kChunk);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + used);
        stream.avail_out = static_cast<uInt>(kChunk);
        result = inflate(&stream, Z_NO_FLUSH);
        out.resize(used + kChunk - stream.avail_out);
    }
    const bool whole = result == Z_STREAM_END && stream.avail_in == 0 && out.size() <= limit;
    inflateEnd(&stream);
    if (!whole) {
        return std::nullopt;
    }
    return out;
}

} // namespace olvex::gzip
