#pragma once

// A game installation in a temporary folder: "World of Warcraft" holding version folders with
// their add-ons and WTF trees, pack archives built beside it, and backups made as another
// process would. The retail version folder exists from the start, with a service to drive it.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records/Backup.h"
#include "records/GameClient.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"
#include "support/ZipBuilder.h"

namespace olvex::test {

// The entries of a pack: below `prefix` one folder per add-on, with its .toc and a core.lua
// naming `version`, and for a version a manifest.
std::vector<ZipEntry> packEntries(const std::vector<std::string>& addons, const std::string& prefix = "",
                                  const std::string& version = "", const std::string& identifier = "pack.one",
                                  const std::string& flavor = "_retail_");

class GameFixture {
public:
    TempDir dir;
    const Path game = dir / "World of Warcraft";
    // The retail version folder, where most tests work.
    const GameClient client{root()};
    // The free space the service sees: plenty unless a test leaves less.
    std::int64_t free = std::int64_t{1} << 40;
    ManagerService service{[this](const Path&) { return free; }, {}, temporary()};

    // The version folder `flavor`, created on first use with the game and an empty AddOns folder.
    Path root(const std::string& flavor = "_retail_") const;
    Path addons(const std::string& flavor = "_retail_") const { return root(flavor) / "Interface/AddOns"; }
    Path wtf(const std::string& flavor = "_retail_") const { return root(flavor) / "WTF"; }
    Path manager(const std::string& flavor = "_retail_") const { return root(flavor) / ".olvex-manager"; }
    // The staging folder for services, inside the fixture so nothing leaks into /tmp. It is named
    // like a version folder, since only the folders inside a pack may name its flavour, never the
    // path it was unpacked to; and hidden, so that no scan of the fixture finds it.
    Path temporary() const;

    // An add-on folder with its table of contents and one Lua file.
    void addAddon(const std::string& name, const std::string& flavor = "_retail_") const;
    // WTF/Account/<account>/<realm>/<character>/AddOns.txt holding `content`, with the
    // account's shared SavedVariables beside the realm.
    void addCharacter(const std::string& account, const std::string& realm, const std::string& character,
                      const std::string& content, const std::string& flavor = "_retail_") const;
    // Writes the pack `file` beside the game: its add-ons at the top, and for a version a
    // manifest of "pack.one" for _retail_.
    Path pack(const std::string& file, const std::vector<std::string>& addons, const std::string& version = "") const;
    // A backup taken by a service of its own, under the same cross-process lease as any other.
    LocalBackup snapshot(BackupKind kind, const std::string& flavor = "_retail_") const;
    // What a backup of the retail folder holds.
    std::map<std::string, std::string> payload(const LocalBackup& backup) const;
};

} // namespace olvex::test
