#include "packs/RetiredAddons.h"

#include <algorithm>

#include "base/Errors.h"
#include "fs/FileSafety.h"
#include "packs/AddonLayout.h"
#include "packs/FileDigests.h"
#include "packs/PackRegistry.h"

namespace olvex {

namespace {

constexpr const char* kChangedAfterCheck = "插件在校验后发生变化，已停止清理。";

bool claimedByAnyPack(const std::vector<ManagedPack>& packs, const std::string& name) {
    return std::any_of(packs.begin(), packs.end(),
                       [&](const ManagedPack& pack) { return containsAddon(pack.addons, name); });
}

// Whether a folder is still exactly as its recorded digests say.
bool unchanged(const Path& folder, const DigestMap& recorded, const OperationControl* control) {
    return FileSafety::isDirectory(folder) && fileDigests(folder, control) == recorded;
}

} // namespace

std::vector<RetiredAddon> listRetiredAddons(const std::vector<ManagedPack>& packs, const Path& addonFolder,
                                            const OperationControl* control) {
    std::vector<RetiredAddon> listed;
    for (const auto& pack : packs) {
        // std::map keeps the retired names in ascending order.
        for (const auto& [name, recorded] : pack.retired) {
            if (!isAddonComponent(name)) {
                throw ManagerError("整合包归属记录含无效目录名。");
            }
            const Path folder = addonFolder / name;
            FileSafety::checkPath(folder);
            if (!FileSafety::exists(folder)) {
                continue; // removed by hand already
            }
            // Digested whether claimed or not: a link inside fails the listing either way.
            const bool untouched = unchanged(folder, recorded, control);
            listed.push_back(RetiredAddon{pack.manifest.identifier, name, untouched && !claimedByAnyPack(packs, name)});
        }
    }
    return listed;
}

bool isRemovable(const std::vector<RetiredAddon>& listed, const std::string& packID, const std::string& name) {
    return std::any_of(listed.begin(), listed.end(), [&](const RetiredAddon& addon) {
        return addon.packID == packID && addon.name == name && addon.canRemove;
    });
}

void removeRetiredAddonIn(const Path& addonFolder, const std::string& packID, const std::string& name,
                          const OperationControl* control) {
    std::vector<ManagedPack> registry = readRegistry(addonFolder);
    ManagedPack* pack = findPack(registry, packID);
    if (pack == nullptr) {
        throw ManagerError(kChangedAfterCheck);
    }
    const Path folder = addonFolder / name;
    auto recorded = pack->retired.find(name);
    if (recorded == pack->retired.end() || !unchanged(folder, recorded->second, control)) {
        throw ManagerError(kChangedAfterCheck);
    }
    FileSafety::remove(folder);
    pack->retired.erase(recorded);
    writeRegistry(registry, addonFolder);
}

} // namespace olvex
