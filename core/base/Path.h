#pragma once

#include <filesystem>

namespace olvex {

using Path = std::filesystem::path;

// Strips trailing slashes (never the root's) so that paths compare by their one text form.
Path normalizedDirectory(const Path& path);

} // namespace olvex
