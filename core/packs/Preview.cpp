#include "packs/Preview.h"

#include <array>
#include <cstring>
#include <set>

#include "archive/ExtractZip.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "fs/FileSafety.h"
#include "packs/AddonLayout.h"
#include "packs/PackRegistry.h"

namespace olvex {

namespace {

int isCancelled(void* context) {
    return context != nullptr && static_cast<OperationControl*>(context)->isCancelled() ? 1 : 0;
}

void reportExtraction(void* context, uint64_t done, uint64_t total) {
    if (context != nullptr) {
        const auto* control = static_cast<const OperationControl*>(context);
        control->expectBytes(static_cast<std::int64_t>(total));
        control->advanceTo(static_cast<std::int64_t>(done));
    }
}

} // namespace

void extractPack(const Path& zip, const Path& staging, OperationControl* control) {
    std::array<char, 1024> message{};
    int extracted = archive::extractZip(zip.c_str(), staging.c_str(), message.data(), message.size(), isCancelled,
                                        control, archive::ExtractLimits{}, {reportExtraction, control});
    if (control != nullptr) {
        control->report(OperationStage::validating);
    }
    if (extracted != 0) {
        throw ManagerError(text::validUtf8(std::string(message.data(), strnlen(message.data(), message.size()))));
    }
    FileSafety::checkTree(staging);
}

Path locatePackAddons(const Path& staging, const GameClient& client) {
    Path addonRoot = locateAddons(staging);
    for (const auto& component : addonRoot.lexically_relative(staging)) {
        std::string name = component.native();
        if (GameClient::isFlavor(name)) {
            if (name != client.folderName()) {
                throw ManagerError("包内版本 " + name + " 与所选 " + client.folderName() + " 不符，请切换游戏版本。");
            }
            break;
        }
    }
    return addonRoot;
}

std::optional<PackManifest> readManifest(const Path& addonRoot, const GameClient& client) {
    Path file = addonRoot / kManifestName;
    FileSafety::checkPath(file);
    if (!FileSafety::exists(file)) {
        return std::nullopt;
    }
    const std::string text = FileSafety::readFile(file, kManifestByteLimit, "整合包清单超过大小限制。");
    PackManifest manifest = decodeManifest(text);
    validateManifest(manifest, client);
    return manifest;
}

std::vector<std::string> liveAddonNames(const Path& live) {
    FileSafety::checkTree(live);
    std::vector<std::string> names;
    try {
        for (auto& entry : FileSafety::list(live)) {
            names.push_back(std::move(entry.name));
        }
    } catch (const std::exception&) {
        return {};
    }
    return names;
}

ImportPreview planImport(const std::vector<std::string>& addons, const std::optional<PackManifest>& manifest,
                         const std::vector<std::string>& liveNames, const std::vector<ManagedPack>& registry) {
    checkOwnership(addons, manifest, registry);
    std::set<std::string> present;
    for (const auto& name : liveNames) {
        present.insert(addonNameKey(name));
    }
    ImportPreview preview{};
    preview.addons = addons;
    for (const auto& name : addons) {
        if (present.count(addonNameKey(name)) != 0) {
            preview.replacing.push_back(name);
        }
    }
    preview.pack = manifest;
    if (const ManagedPack* previous = manifest ? findPack(registry, manifest->identifier) : nullptr) {
        preview.previousVersion = previous->manifest.version;
        for (const auto& old : previous->addons) {
            if (!containsAddon(addons, old)) {
                preview.retiredAddons.push_back(old);
            }
        }
    }
    return preview;
}

} // namespace olvex
