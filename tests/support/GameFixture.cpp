#include "support/GameFixture.h"

#include "records/Json.h"
#include "service/ManagerService.h"
#include "support/ZipBuilder.h"

namespace olvex::test {

Path GameFixture::root(const std::string& flavor) const {
    const Path folder = game / flavor;
    if (!fs::exists(folder)) {
        makeDirs(folder / "Interface/AddOns");
        writeFile(folder / "Wow.exe", "game"); // a Windows client: installs check for the game
    }
    return folder;
}

Path GameFixture::temporary() const {
    makeDirs(dir / "tmp");
    return dir / "tmp";
}

void GameFixture::addAddon(const std::string& name, const std::string& flavor) const {
    writeFile(addons(flavor) / name / (name + ".toc"), "## Title: " + name + "\n");
    writeFile(addons(flavor) / name / "core.lua", "-- " + name);
}

void GameFixture::addCharacter(const std::string& account, const std::string& realm, const std::string& character,
                               const std::string& content, const std::string& flavor) const {
    const Path folder = wtf(flavor) / "Account" / account;
    writeFile(folder / "SavedVariables/Shared.lua", "shared = true");
    writeFile(folder / realm / character / "AddOns.txt", content);
}

Path GameFixture::pack(const std::string& file, const std::vector<std::string>& addons,
                       const std::string& version) const {
    std::vector<ZipEntry> entries;
    for (const auto& name : addons) {
        entries.push_back(ZipEntry::file(name + "/" + name + ".toc", "## Title: " + name + "\n"));
        entries.push_back(ZipEntry::file(name + "/core.lua", "-- " + name + " " + version));
    }
    if (!version.empty()) {
        const json::Json manifest = {{"identifier", "pack.one"},
                                     {"name", "测试整合包"},
                                     {"version", version},
                                     {"gameFlavor", "_retail_"},
                                     {"source", "本地"}};
        entries.push_back(ZipEntry::file(".olvex-pack.json", manifest.dump()));
    }
    writeZip(dir / file, entries);
    return dir / file;
}

LocalBackup GameFixture::snapshot(BackupKind kind, const std::string& flavor) const {
    ManagerService service({}, {}, temporary());
    const GameClient client(root(flavor));
    return service.locked(client, [&] { return service.snapshot(kind, client, "测试"); });
}

} // namespace olvex::test
