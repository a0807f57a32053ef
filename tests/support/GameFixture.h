#pragma once

// A game installation in a temporary folder, for tests that drive the whole program rather
// than one service call: "World of Warcraft" holding version folders with their add-ons and
// WTF trees, pack archives built beside it, and backups made as another process would.

#include <string>
#include <vector>

#include "records/Backup.h"
#include "records/GameClient.h"
#include "support/TestSupport.h"

namespace olvex::test {

class GameFixture {
public:
    TempDir dir;
    const Path game = dir / "World of Warcraft";

    // The version folder `flavor`, created on first use with the game and an empty AddOns folder.
    Path root(const std::string& flavor = "_retail_") const;
    Path addons(const std::string& flavor = "_retail_") const { return root(flavor) / "Interface/AddOns"; }
    Path wtf(const std::string& flavor = "_retail_") const { return root(flavor) / "WTF"; }
    // A staging folder for the service, inside the fixture so nothing leaks into /tmp.
    Path temporary() const;

    // An add-on folder with its table of contents and one Lua file.
    void addAddon(const std::string& name, const std::string& flavor = "_retail_") const;
    // WTF/Account/<account>/<realm>/<character>/AddOns.txt holding `content`, with the
    // account's shared SavedVariables beside the realm.
    void addCharacter(const std::string& account, const std::string& realm, const std::string& character,
                      const std::string& content, const std::string& flavor = "_retail_") const;
    // Writes `file` beside the game: one folder per add-on (its .toc and a core.lua naming
    // `version`), and for a version a manifest of the pack "pack.one" for _retail_.
    Path pack(const std::string& file, const std::vector<std::string>& addons, const std::string& version = "") const;
    // A backup taken by a service of its own, under the same cross-process lease as any other.
    LocalBackup snapshot(BackupKind kind, const std::string& flavor = "_retail_") const;
};

} // namespace olvex::test
