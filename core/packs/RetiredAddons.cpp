// Add-ons that a newer release of an installed pack no longer ships: listed with whether the
// system can prove they are untouched and unclaimed, and removed only on that proof, checked
// once in the live folder and again in the work copy that the transaction commits.

#include <algorithm>

#include "packs/AddonLayout.h"
#include "packs/PackRegistry.h"
#include "records/Errors.h"
#include "records/FileSafety.h"
#include "service/ManagerService.h"

namespace olvex {

namespace {

constexpr const char* kInvalidRecordedName = "整合包归属记录含无效目录名。";
constexpr const char* kNotRemovable = "插件没有可信的历史归属、已被其他整合包使用或已修改，不能自动清理。";
constexpr const char* kChangedAfterCheck = "插件在校验后发生变化，已停止清理。";
constexpr const char* kRemovalReason = "清理旧整合包插件前自动备份";

bool claimedByAnyPack(const std::vector<ManagedPack>& packs, const std::string& name) {
    return std::any_of(packs.begin(), packs.end(), [&](const ManagedPack& pack) {
        return std::any_of(pack.addons.begin(), pack.addons.end(),
                           [&](const std::string& addon) { return sameAddonName(addon, name); });
    });
}

} // namespace

std::vector<RetiredAddon> ManagerService::retiredAddons(const GameClient& client) {
    const std::vector<ManagedPack> packs = installedPacks(client);
    const Path live = targetFolder(BackupKind::addons, client);
    std::vector<RetiredAddon> listed;
    for (const auto& pack : packs) {
        // std::map keeps the retired names in ascending order.
        for (const auto& [name, recorded] : pack.retired) {
            if (!isAddonComponent(name)) {
                throw ManagerError(kInvalidRecordedName);
            }
            const Path folder = live / name;
            FileSafety::checkPath(folder);
            if (!FileSafety::exists(folder)) {
                continue; // removed by hand already
            }
            const bool unclaimed = !claimedByAnyPack(packs, name);
            const bool unchanged = FileSafety::isDirectory(folder) && fileDigests(folder) == recorded;
            listed.push_back(RetiredAddon{pack.manifest.identifier, name, unclaimed && unchanged});
        }
    }
    return listed;
}

void ManagerService::removeRetiredAddon(const std::string& packID, const std::string& name, const GameClient& client,
                                        OperationControl* control) {
    ControlScope scope(*this, control);
    locked(client, [&] {
        if (!isAddonComponent(name)) {
            throw ManagerError(kNotRemovable);
        }
        const auto listed = retiredAddons(client);
        const bool allowed = std::any_of(listed.begin(), listed.end(), [&](const RetiredAddon& addon) {
            return addon.packID == packID && addon.name == name && addon.canRemove;
        });
        if (!allowed) {
            throw ManagerError(kNotRemovable);
        }
        const Path live = targetFolder(BackupKind::addons, client);
        transaction(BackupKind::addons, client, kRemovalReason, [&](const Path& next) {
            // The transaction flushes the volume before its journal, so the copy may defer.
            FileSafety::copyTree(live, next, this->control(), FileSafety::Flush::deferred);
            // Verify again in the copy that will be committed: the live folder may have changed
            // since the listing, and only this copy's content ends up in place.
            std::vector<ManagedPack> registry = readRegistry(next);
            auto pack = std::find_if(registry.begin(), registry.end(),
                                     [&](const ManagedPack& record) { return record.manifest.identifier == packID; });
            if (pack == registry.end()) {
                throw ManagerError(kChangedAfterCheck);
            }
            const Path folder = next / name;
            auto recorded = pack->retired.find(name);
            if (recorded == pack->retired.end() || !FileSafety::isDirectory(folder) ||
                fileDigests(folder) != recorded->second) {
                throw ManagerError(kChangedAfterCheck);
            }
            FileSafety::remove(folder);
            pack->retired.erase(recorded);
            writeRegistry(registry, next);
        });
    });
}

} // namespace olvex
