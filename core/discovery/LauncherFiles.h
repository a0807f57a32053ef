#pragma once

// Readers of the files in which Linux game launchers note where their games live: Lutris game
// records and settings (YAML), Steam's list of libraries (VDF) and the Battle.net agent's
// product database (protobuf). They read text already loaded (at most kMaxFileSize bytes) and
// never touch the disk. A file that is damaged, hostile or of another shape than expected
// throws DamagedLauncherFile; every reader is bounded in nesting depth and counts, so no input
// can crash, hang or exhaust memory.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace olvex::launcher {

// The cap on any launcher file read (real ones are a few KiB).
constexpr std::int64_t kMaxFileSize = 1024 * 1024;
// The most entries taken from one file (libraries, products); more is damage, not a library.
constexpr size_t kMaxEntries = 256;

struct DamagedLauncherFile : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One Lutris game record (games/<slug>-<id>.yml).
struct LutrisGame {
    std::string slug;                  // "world-of-warcraft" (game_slug, slug, or name)
    std::optional<std::string> prefix; // game: prefix: the Wine prefix, when the game has one
};
LutrisGame lutrisGame(const std::string& yaml);
// system: game_path: of Lutris's system.yml, the folder new games are installed into.
std::optional<std::string> lutrisGamePath(const std::string& yaml);

// The library folders of Steam's steamapps/libraryfolders.vdf, in file order (the older form,
// "1" "/path", and the newer, "1" { "path" "/path" … }).
std::vector<std::string> steamLibraries(const std::string& vdf);

// One installed product of the agent's product.db.
struct ProductInstall {
    std::string code;        // "wow", "wow_classic", …
    std::string installPath; // as the agent wrote it: "D:\\Games\\魔兽世界"
};
std::vector<ProductInstall> productInstalls(const std::string& bytes);

// A Windows path split into its drive letter (lower case) and its components; nothing for a
// path without a drive letter or with a "." or ".." component.
struct WindowsPath {
    char drive;
    std::vector<std::string> components;
};
std::optional<WindowsPath> windowsPath(const std::string& text);

} // namespace olvex::launcher
