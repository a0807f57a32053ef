#pragma once

#include <cstdint>
#include <string>

namespace olvex {

// A byte count in decimal file-size style, as file browsers show it: "999 字节", "87 KB",
// "87.1 MB", "1.23 GB".
std::string formatByteCount(std::int64_t bytes);

} // namespace olvex
