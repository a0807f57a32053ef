// The pack requests: the preview, which unpacks a ZIP into a private staging folder under its
// own lease and keeps it (with the lease) as the one retained preview until it is installed
// or discarded, so that the archive is read exactly once; the installation of that preview as
// one transaction; and the listing and removal of retired add-ons, whose proof is checked
// once in the live folder and again in the work copy that the transaction commits.

#include "base/Errors.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"
#include "packs/AddonLayout.h"
#include "packs/FileDigests.h"
#include "packs/Install.h"
#include "packs/PackRegistry.h"
#include "packs/Preview.h"
#include "packs/RetiredAddons.h"
#include "packs/Staging.h"
#include "service/ManagerService.h"
#include "service/Prepared.h"

namespace olvex {

namespace {

constexpr const char* kNotRemovable = "插件没有可信的历史归属、已被其他整合包使用或已修改，不能自动清理。";

} // namespace

std::vector<ManagedPack> ManagerService::installedPacks(const GameClient& client) {
    checkClient(client);
    return readRegistry(targetFolder(BackupKind::addons, client));
}

ImportPreview ManagerService::preview(const Path& zip, const GameClient& client, OperationControl* control) {
    ControlScope scope(*this, control);
    checkClient(client);
    // An installation that the version folder's lease would refuse is refused before the ZIP is
    // unpacked, not after.
    if (ClientLock::isHeld(managerFolder(client))) {
        throw LeaseHeldError();
    }
    if (control != nullptr) {
        control->report(OperationStage::extracting);
    }
    discardPreview();
    // The player's own choice of file is resolved once (a link to a ZIP is that ZIP); what it
    // names is then opened without following anything further.
    std::string resolved;
    const Path archive = sys::realpath(zip.c_str(), resolved) ? Path(resolved) : zip;

    const Path staging = newStagingFolder(resolvedTemporaryFolder(m_temporaryFolder));
    FileSafety::directory(staging);
    return FileSafety::removeOnFailure(staging, [&] {
        auto prepared = std::make_unique<Prepared>();
        prepared->lease = std::make_unique<ClientLock>(stagingLease(staging));
        extractPack(archive, staging, control);
        const Path addonRoot = locatePackAddons(staging, client);
        const std::vector<std::string> addons = addonNames(addonRoot);
        const Path live = targetFolder(BackupKind::addons, client);
        const std::vector<std::string> liveNames = liveAddonNames(live);
        const std::optional<PackManifest> manifest = readManifest(addonRoot, client);

        ImportPreview preview = planImport(addons, manifest, liveNames, readRegistry(live));
        preview.token = Uuid::random();
        preview.archiveName = zip.filename().native();
        preview.client = client;
        prepared->preview = preview;
        prepared->staging = staging;
        prepared->addonRoot = addonRoot;
        m_prepared = std::move(prepared);
        return preview;
    });
}

void ManagerService::discardPreview() {
    if (!m_prepared) {
        return;
    }
    // Deleted in the background, under its lease until the deletion ends.
    m_deleter.removeStaging(m_prepared->staging, std::move(m_prepared->lease));
    m_prepared.reset();
}

// The current add-on folder is copied into a work folder, the incoming add-ons replace their
// namesakes there, a managed pack's record is written into the copy's registry, and the
// transaction swaps the copy into place after backing up the current folder.
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
        const Path live = targetFolder(BackupKind::addons, client);
        const std::int64_t incoming = FileSafety::byteSize(addonRoot);
        installationCheck(client, incoming);
        const std::vector<ManagedPack> registry = readRegistry(live);
        checkOwnership(preview.addons, preview.pack, registry);

        transaction(BackupKind::addons, client, "安装 " + preview.archiveName + " 前自动备份", [&](const Path& next) {
            if (control != nullptr) {
                // The add-on folders are copied, then for a pack with a manifest digested; the
                // rest of the unpacked ZIP (the manifest itself) is neither.
                std::int64_t copied = 0;
                for (const auto& name : preview.addons) {
                    copied += FileSafety::byteSize(addonRoot / name);
                }
                control->expectMoreBytes((preview.pack ? 2 : 1) * copied);
            }
            buildInstalledFolder(live, addonRoot, preview.addons, next, control);
            if (!preview.pack) {
                return;
            }
            std::map<std::string, DigestMap> digests;
            for (const auto& name : preview.addons) {
                digests[name] = fileDigests(next / name, control);
            }
            writeRegistry(registryAfterInstall(registry, preview, std::move(digests), now()), next);
        });
    });

    discardPreview();
    if (control != nullptr) {
        control->report(OperationStage::finished);
    }
}

std::vector<RetiredAddon> ManagerService::retiredAddons(const GameClient& client) {
    const std::vector<ManagedPack> packs = installedPacks(client);
    return listRetiredAddons(packs, targetFolder(BackupKind::addons, client), m_control);
}

void ManagerService::removeRetiredAddon(const std::string& packID, const std::string& name, const GameClient& client,
                                        OperationControl* control) {
    ControlScope scope(*this, control);
    locked(client, [&] {
        // A name that could leave the add-on folder is refused before anything is read.
        if (!isAddonComponent(name) || !isRemovable(retiredAddons(client), packID, name)) {
            throw ManagerError(kNotRemovable);
        }
        const Path live = targetFolder(BackupKind::addons, client);
        transaction(BackupKind::addons, client, "清理旧整合包插件前自动备份", [&](const Path& next) {
            // The transaction flushes the volume before its journal, so the copy may defer.
            FileSafety::copyTree(live, next, control, FileSafety::Flush::deferred);
            // Only this copy's content ends up in place, so the proof is checked again here.
            removeRetiredAddonIn(next, packID, name, control);
        });
    });
}

} // namespace olvex
