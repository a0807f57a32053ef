#include "packs/Install.h"

#include <algorithm>
#include <set>

#include "fs/FileSafety.h"
#include "packs/AddonLayout.h"
#include "packs/PackRegistry.h"

namespace olvex {

void buildInstalledFolder(const Path& live, const Path& addonRoot, const std::vector<std::string>& addons,
                          const Path& next, const OperationControl* control) {
    if (FileSafety::exists(live)) {
        std::set<std::string> replaced;
        for (const auto& name : addons) {
            replaced.insert(addonNameKey(name));
        }
        // The folders the pack replaces are left out of the copy rather than copied and deleted.
        // The step expected their bytes with the rest of the live folder, so it expects them no
        // more: the progress still ends at its total.
        std::int64_t skippedBytes = 0;
        FileSafety::copyTree(live, next, control, FileSafety::Flush::deferred, [&](const std::string& name) {
            if (!replaced.contains(addonNameKey(name))) {
                return false;
            }
            skippedBytes += FileSafety::byteSize(live / name);
            return true;
        });
        if (control != nullptr) {
            control->expectMoreBytes(-skippedBytes);
        }
    } else {
        FileSafety::directory(next);
    }
    for (const auto& name : addons) {
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
