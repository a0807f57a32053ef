#pragma once

// Records that are large and mostly repetitive text (a backup's digest list runs to megabytes)
// are stored gzip-compressed: a third of the size on disk, readable with zcat, and fast enough
// at the lowest level to cost a backup next to nothing.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace olvex::gzip {

// One gzip member holding `data`.
std::string compress(std::string_view data);
// The content of one whole gzip member; nothing when the bytes are not one (damaged, cut short,
// trailing bytes) or its content would exceed `limit` bytes.
std::optional<std::string> decompress(std::string_view data, std::size_t limit);

} // namespace olvex::gzip
