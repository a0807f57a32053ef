// Installing a confirmed preview: the current add-on folder is copied into a work folder, the
// incoming add-ons replace their namesakes there (the add-on name fold), a managed pack's
// record with its digests and retired add-ons is written into the copy's registry, and the
// transaction swaps the copy into place after backing up the current folder.

#include <algorithm>

#include "packs/AddonLayout.h"
#include "packs/PackRegistry.h"
#include "packs/Prepared.h"
#include "records/Errors.h"
#include "records/FileSafety.h"
#include "service/ManagerService.h"

namespace olvex {

namespace {

bool containsAddon(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& other) { return sameAddonName(other, name); });
}

} // namespace

void ManagerService::install(const Uuid& token, OperationControl* control) {
    ControlScope scope(*this, control);
    if (control != nullptr) {
        control->report(OperationStage::validating);
    }
    if (!m_prepared || m_prepared->preview.token != token) {
        throw ManagerError("导入预览已过期，请重新选择 ZIP。");
    }
    const ImportPreview preview = m_prepared->preview;
    const Path addonRoot = m_prepared->addonRoot;
    const GameClient& client = preview.client;

    locked(client, [&] {
        Path live = targetFolder(BackupKind::addons, client);
        std::int64_t incoming = FileSafety::byteSize(addonRoot);
        installationCheck(client, incoming);
        std::vector<ManagedPack> registry = readRegistry(live);
        checkOwnership(preview.addons, preview.pack, registry);

        transaction(BackupKind::addons, client, "安装 " + preview.archiveName + " 前自动备份", [&](const Path& next) {
            // Copies here may defer their flushes: the transaction flushes the volume before
            // its journal makes the new folder reachable.
            if (m_control != nullptr) {
                m_control->expectMoreBytes(2 * incoming); // the pack is copied, then digested
            }
            if (FileSafety::exists(live)) {
                FileSafety::copyTree(live, next, m_control, FileSafety::Flush::deferred);
            } else {
                FileSafety::directory(next);
            }
            for (const auto& name : preview.addons) {
                for (const auto& entry : FileSafety::list(next)) {
                    if (sameAddonName(entry.name, name)) {
                        FileSafety::remove(next / entry.name);
                    }
                }
                FileSafety::copyTree(addonRoot / name, next / name, m_control, FileSafety::Flush::deferred);
            }
            if (!preview.pack) {
                return;
            }
            const PackManifest& manifest = *preview.pack;
            auto previous = std::find_if(registry.begin(), registry.end(), [&](const ManagedPack& record) {
                return record.manifest.identifier == manifest.identifier;
            });
            ManagedPack record;
            record.manifest = manifest;
            record.addons = preview.addons;
            if (previous != registry.end()) {
                record.retired = previous->retired;
                for (const auto& old : previous->addons) {
                    auto digests = previous->digests.find(old);
                    if (!containsAddon(preview.addons, old) && digests != previous->digests.end()) {
                        record.retired[old] = digests->second;
                    }
                }
            }
            for (auto it = record.retired.begin(); it != record.retired.end();) {
                it = containsAddon(preview.addons, it->first) ? record.retired.erase(it) : std::next(it);
            }
            for (const auto& name : preview.addons) {
                record.digests[name] = fileDigests(next / name);
            }
            record.installedAt = Date::now();
            registry.erase(std::remove_if(registry.begin(), registry.end(),
                                          [&](const ManagedPack& other) {
                                              return other.manifest.identifier == manifest.identifier;
                                          }),
                           registry.end());
            registry.push_back(std::move(record));
            writeRegistry(registry, next);
        });
    });

    discardPreview();
    if (control != nullptr) {
        control->report(OperationStage::finished);
    }
}

} // namespace olvex
