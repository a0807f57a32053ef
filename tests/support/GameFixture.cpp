#include "support/GameFixture.h"

#include "base/Json.h"

namespace olvex::test {

std::vector<ZipEntry> packEntries(const std::vector<std::string>& addons, const std::string& prefix,
                                  const std::string& version, const std::string& identifier,
                                  const std::string& flavor) {
    std::vector<ZipEntry> entries;
    for (const auto& name : addons) {
        entries.push_back(ZipEntry::file(prefix + name + "/" + name + ".toc", "## Title: " + name + "\n"));
        entries.push_back(ZipEntry::file(prefix + name + "/core.lua", "-- " + name + " " + version));
    }
    if (!version.empty()) {
        const json::Json manifest = {{"identifier", identifier},
                                     {"name", "测试整合包"},
                                     {"version", version},
                                     {"gameFlavor", flavor},
                                     {"source", "本地"}};
        entries.push_back(ZipEntry::file(prefix + ".olvex-pack.json", manifest.dump()));
    }
    return entries;
}

Path GameFixture::root(const std::string& flavor) const {
    const Path folder = game / flavor;
    if (!fs::exists(folder)) {
        makeDirs(folder / "Interface/AddOns");
        writeFile(folder / "Wow.exe", "game"); // a Windows client: installs check for the game
    }
    return folder;
}

Path GameFixture::temporary() const {
    const Path folder = dir / ".tmp/_classic_";
    makeDirs(folder);
    return folder;
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
    writeZip(dir / file, packEntries(addons, "", version));
    return dir / file;
}

LocalBackup GameFixture::snapshot(BackupKind kind, const std::string& flavor) const {
    ManagerService other({}, {}, temporary());
    const GameClient version(root(flavor));
    return other.locked(version, [&] { return other.snapshot(kind, version, "测试"); });
}

std::map<std::string, std::string> GameFixture::payload(const LocalBackup& backup) const {
    return snapshotTree(ManagerService::backupFolder(client, backup.id) / "payload");
}

} // namespace olvex::test
