#include "packs/Install.h"

#include <algorithm>

#include "packs/AddonLayout.h"
#include "packs/PackRegistry.h"
#include "records/FileSafety.h"

namespace olvex {

void buildInstalledFolder(const Path& live, const Path& addonRoot, const std::vector<std::string>& addons,
                          const Path& next, const OperationControl* control) {
    if (FileSafety::exists(live)) {
        FileSafety::copyTree(live, next, control, FileSafety::Flush::deferred);
    } else {
        FileSafety::directory(next);
    }
    for (const auto& name : addons) {
        for (const auto& entry : FileSafety::list(next)) {
            if (sameAddonName(entry.name, name)) {
                FileSafety::remove(next / entry.name);
            }
        }
        FileSafety::copyTree(addonRoot / name, next / name, control, FileSafety::Flush::deferred);
    }
}

std::vector<ManagedPack> registryAfterInstall(std::vector<ManagedPack> registry, const ImportPreview& preview,
                                              std::map<std::string, DigestMap> digests, Date installedAt) {
    const PackManifest& manifest = preview.pack.value();
    ManagedPack record{manifest, installedAt, preview.addons, std::move(digests), {}};
    if (const ManagedPack* previous = findPack(registry, manifest.identifier)) {
        record.retired = previous->retired;
        for (const auto& old : previous->addons) {
            auto recorded = previous->digests.find(old);
            if (!containsAddon(preview.addons, old) && recorded != previous->digests.end()) {
                record.retired[old] = recorded->second;
            }
        }
    }
    std::erase_if(record.retired, [&](const auto& retired) { return containsAddon(preview.addons, retired.first); });
    std::erase_if(registry, [&](const ManagedPack& other) { return other.manifest.identifier == manifest.identifier; });
    registry.push_back(std::move(record));
    return registry;
}

} // namespace olvex
