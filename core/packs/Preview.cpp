// The pack preview: the ZIP is unpacked into a private staging folder under its own lease,
// its add-on folders are located and checked, its manifest is validated against the
// installed-pack registry, and what an installation would do is returned. The staging
// folder stays (with its lease) as the one retained preview until it is installed or
// discarded, so the archive is read exactly once.

#include <algorithm>
#include <array>
#include <cstring>
#include <dirent.h>
#include <set>

#include "archive/ExtractZip.h"
#include "packs/AddonLayout.h"
#include "packs/PackRegistry.h"
#include "packs/Prepared.h"
#include "records/Errors.h"
#include "records/FileSafety.h"
#include "records/Sys.h"
#include "records/Text.h"
#include "service/ManagerService.h"

namespace olvex {

namespace {

const char* const kNoUniqueRoot = "无法唯一识别插件目录。请提供 AddOns/、Interface/AddOns/ 或直接包含各插件文件夹的 "
                                  "ZIP；多版本包请先拆分。";

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

bool ignoredName(const std::string& name) {
    return name.empty() || name.front() == '.' || name == "__MACOSX";
}

// The part of a file name after its last ".", as a path extension (none for ".toc" itself).
std::string extensionOf(const std::string& name) {
    auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}

std::string stemOf(const std::string& name) {
    auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Whether a folder directly holds a TOC named after it, with or without a flavour suffix.
bool hasOwnToc(const Path& folder, const std::string& name) {
    std::string lowered = text::lowercased(name);
    for (const auto& entry : FileSafety::list(folder)) {
        if (entry.type == DT_DIR || text::lowercased(extensionOf(entry.name)) != "toc") {
            continue;
        }
        std::string stem = text::lowercased(stemOf(entry.name));
        if (stem == lowered || stem.rfind(lowered + "_", 0) == 0) {
            return true;
        }
    }
    return false;
}

void removeQuietly(const Path& path) {
    try {
        FileSafety::remove(path);
    } catch (...) {
    }
}

} // namespace

// The sorted add-on folder names of an add-on root: every visible entry must be a folder that
// holds its own TOC, and no two names may fold to the same name.
std::vector<std::string> addonNames(const Path& folder) {
    std::vector<sys::DirEntry> entries;
    for (auto& entry : FileSafety::list(folder)) {
        if (!ignoredName(entry.name)) {
            entries.push_back(std::move(entry));
        }
    }
    if (entries.empty()) {
        throw ManagerError("整合包中没有插件。");
    }
    std::set<std::string> folded;
    std::vector<std::string> names;
    for (const auto& entry : entries) {
        if (entry.type != DT_DIR || !hasOwnToc(folder / entry.name, entry.name)) {
            throw ManagerError("插件目录必须直接包含与文件夹同名的 .toc（可含版本后缀）：" + entry.name +
                               "。WTF 配置不会从 ZIP 导入。");
        }
        if (!folded.insert(addonNameKey(entry.name)).second) {
            throw ManagerError("插件名存在大小写或 Unicode 冲突。");
        }
        names.push_back(entry.name);
    }
    // Byte order of UTF-8 is code point order.
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

std::vector<Path> candidatesIn(const Path& folder) {
    std::vector<Path> candidates;
    for (const char* relative : {"AddOns", "Interface/AddOns"}) {
        if (FileSafety::isDirectory(folder / relative)) {
            candidates.push_back(folder / relative);
        }
    }
    for (const auto& [flavor, title] : GameClient::flavors()) {
        if (FileSafety::isDirectory(folder / flavor / "Interface/AddOns")) {
            candidates.push_back(folder / flavor / "Interface/AddOns");
        }
    }
    try {
        addonNames(folder);
        candidates.push_back(folder);
    } catch (const std::exception&) {
        // Not an add-on root itself; the other candidates decide.
    }
    return candidates;
}

} // namespace

// The one folder inside an extraction root that holds the add-on folders, unwrapping at most
// one enclosing folder.
Path locateAddons(const Path& root) {
    std::vector<Path> candidates = candidatesIn(root);
    if (candidates.empty()) {
        std::vector<std::string> visible;
        for (const auto& entry : FileSafety::list(root)) {
            if (!ignoredName(entry.name)) {
                visible.push_back(entry.name);
            }
        }
        if (visible.size() == 1 && FileSafety::isDirectory(root / visible.front())) {
            candidates = candidatesIn(root / visible.front());
        }
    }
    if (candidates.size() != 1) {
        throw ManagerError(kNoUniqueRoot);
    }
    return candidates.front();
}

ImportPreview ManagerService::preview(const Path& zip, const GameClient& client, OperationControl* control) {
    ControlScope scope(*this, control);
    if (control != nullptr) {
        control->report(OperationStage::extracting);
    }
    checkClient(client);
    discardPreview();

    std::string temporary;
    if (!sys::realpath(m_temporaryFolder.c_str(), temporary)) {
        throw ManagerError("无法定位临时目录");
    }
    Path staging = Path(temporary) / ("Olvex-" + Uuid::random().text());
    FileSafety::directory(staging);

    auto prepared = std::make_unique<Prepared>();
    try {
        prepared->lease = std::make_unique<ClientLock>(staging / ".lease");
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
        Path addonRoot = locateAddons(staging);

        // Only folders inside the pack name a flavour: the temporary folder's own path may pass
        // through anything, a folder called "_classic_" included.
        for (const auto& component : addonRoot.lexically_relative(staging)) {
            std::string name = component.native();
            if (GameClient::isFlavor(name)) {
                if (name != client.folderName()) {
                    throw ManagerError("包内版本 " + name + " 与所选 " + client.folderName() +
                                       " 不符，请切换游戏版本。");
                }
                break;
            }
        }

        std::vector<std::string> addons = addonNames(addonRoot);
        Path live = targetFolder(BackupKind::addons, client);
        FileSafety::checkTree(live);
        std::set<std::string> liveNames;
        try {
            for (const auto& entry : FileSafety::list(live)) {
                liveNames.insert(addonNameKey(entry.name));
            }
        } catch (const std::exception&) {
            // A missing or unlistable add-on folder replaces nothing.
        }

        std::optional<PackManifest> manifest;
        Path manifestFile = addonRoot / kManifestName;
        FileSafety::checkPath(manifestFile);
        if (FileSafety::exists(manifestFile)) {
            const std::string text = FileSafety::readFile(manifestFile, kManifestByteLimit, "整合包清单超过大小限制。");
            manifest = json::decodeFile(text, std::string("整合包清单（") + kManifestName + "）", packManifestFromJson);
            validateManifest(*manifest, client);
        }

        std::vector<ManagedPack> registry = readRegistry(live);
        checkOwnership(addons, manifest, registry);
        const ManagedPack* previous = nullptr;
        if (manifest) {
            for (const auto& record : registry) {
                if (record.manifest.identifier == manifest->identifier) {
                    previous = &record;
                    break;
                }
            }
        }

        ImportPreview preview{};
        preview.token = Uuid::random();
        preview.archiveName = zip.filename().native();
        preview.addons = addons;
        for (const auto& name : addons) {
            if (liveNames.count(addonNameKey(name)) != 0) {
                preview.replacing.push_back(name);
            }
        }
        preview.client = client;
        preview.pack = manifest;
        if (previous != nullptr) {
            preview.previousVersion = previous->manifest.version;
            for (const auto& old : previous->addons) {
                bool kept = std::any_of(addons.begin(), addons.end(),
                                        [&](const std::string& name) { return sameAddonName(name, old); });
                if (!kept) {
                    preview.retiredAddons.push_back(old);
                }
            }
        }
        prepared->preview = preview;
        prepared->staging = staging;
        prepared->addonRoot = addonRoot;
        m_prepared = std::move(prepared);
        return preview;
    } catch (...) {
        prepared.reset();
        removeQuietly(staging);
        throw;
    }
}

void ManagerService::discardPreview() {
    if (!m_prepared) {
        return;
    }
    // Deleted in the background, under its lease until the deletion ends.
    m_deleter.removeStaging(m_prepared->staging, std::move(m_prepared->lease));
    m_prepared.reset();
}

} // namespace olvex
