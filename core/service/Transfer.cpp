// Export of a backup to a folder of the user's choice with a digest manifest, and import of
// an exported WTF backup into a version folder.
//
// An export is built in a hidden staging folder beside the destination and appears there
// only through the final rename, so a failed or cancelled export leaves nothing behind. Its
// digests are those the backup recorded when it was made, when every file of its read-only
// payload still has its recorded length and time after the copy; otherwise (a backup of an
// earlier version, or one changed since) they are taken from the staged copy. Either way the
// manifest describes the bytes that left the manager folder. An import copies the package into
// the transaction's work folder and checks every digest on that copy: the bytes compared are the
// bytes that will become WTF, whatever happens to the package meanwhile.

#include <cerrno>

#include "base/Errors.h"
#include "base/Json.h"
#include "base/OperationControl.h"
#include "fs/FileSafety.h"
#include "fs/SharedCopy.h"
#include "packs/FileDigests.h"
#include "service/BackupDigests.h"
#include "service/ManagerService.h"

namespace olvex {

namespace {

constexpr std::int64_t kManifestLimit = 16'777'216;
constexpr std::int64_t kFormat = 1;

const char* const kBadDestination = "请选择游戏目录以外、尚不存在的导出目标。";
const char* const kNotAnExport = "请选择由本工具导出的 WTF 配置备份。";
const char* const kNotWtfLayout = "迁移包不是有效 WTF 布局（缺少 Account 或 Config.wtf）。";
const char* const kDigestMismatch = "配置文件摘要不匹配，迁移包可能损坏或已修改；未覆盖本地配置。";

// The manifest travelling with an export: "format", "kind" and the payload's digest map.
struct TransferManifest {
    std::int64_t format = kFormat;
    BackupKind kind = BackupKind::wtf;
    DigestMap files;
};

// The files object is filled through its underlying vector: the ordered object's own
// insertion searches for the key first, which makes 50,000 members a quadratic affair. The
// digest map's keys are unique and already sorted.
std::string encodeManifest(const TransferManifest& manifest) {
    json::Json files = json::Json::object();
    auto& members = files.get_ref<json::Json::object_t&>();
    members.reserve(manifest.files.size());
    for (const auto& [path, digest] : manifest.files) {
        members.emplace_back(path, digest);
    }
    json::Json object = json::Json::object();
    object["format"] = manifest.format;
    object["kind"] = rawValue(manifest.kind);
    object["files"] = std::move(files);
    return json::encode(object);
}

// A required member of a manifest object; fails the whole manifest when it is missing.
const nlohmann::json& member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) {
        throw json::DecodeError(std::string("应为含字段“") + key + "”的对象");
    }
    auto it = object.find(key);
    if (it == object.end()) {
        throw json::DecodeError(std::string("缺少字段“") + key + "”");
    }
    return *it;
}

// Fails the whole manifest on a missing key, a wrong type or an unknown kind; the format's
// value is judged by the caller, so that a newer format gets the user-facing refusal. Parsed
// into a tree-backed object rather than the ordered one of json::decode, whose insertion is
// linear in the object's size; key order means nothing to a reader.
TransferManifest manifestFromJson(const nlohmann::json& object) {
    TransferManifest manifest;
    const nlohmann::json& format = member(object, "format");
    if (!format.is_number_integer()) {
        throw json::DecodeError("字段“format”不是整数");
    }
    // Unsigned values beyond the signed range wrap to negatives: never 1.
    manifest.format = format.get<std::int64_t>();
    const nlohmann::json& kindText = member(object, "kind");
    std::optional<BackupKind> kind;
    if (kindText.is_string()) {
        kind = backupKindFromRaw(kindText.get<std::string>());
    }
    if (!kind) {
        throw json::DecodeError("字段“kind”既不是“addons”也不是“wtf”");
    }
    manifest.kind = *kind;
    const nlohmann::json& files = member(object, "files");
    if (!files.is_object()) {
        throw json::DecodeError("字段“files”不是对象");
    }
    for (const auto& [path, digest] : files.items()) {
        if (!digest.is_string()) {
            throw json::DecodeError("字段“files”中有摘要不是文本");
        }
        manifest.files.emplace_hint(manifest.files.end(), path, digest.get<std::string>());
    }
    return manifest;
}

// The path as an absolute one, with empty components dropped; "." and ".." were refused by
// the path check already, so nothing needs resolving.
std::vector<std::string> components(const Path& path) {
    std::vector<std::string> parts;
    for (const auto& part : std::filesystem::absolute(path)) {
        if (!part.empty() && part != "/") {
            parts.push_back(part.native());
        }
    }
    return parts;
}

// True when `path` lies below `folder`, compared component by component so that a sibling
// named like the folder with more letters ("_retail_2") is not taken for it.
bool isInside(const Path& path, const Path& folder) {
    const auto inner = components(path);
    const auto outer = components(folder);
    return inner.size() > outer.size() && std::equal(outer.begin(), outer.end(), inner.begin());
}

// The limits that digesting a package enforces (fileDigests), for recorded digests alike.
bool withinDigestLimits(const FileSafety::StoredEntries& recorded) {
    std::int64_t bytes = 0;
    for (const auto& [path, entry] : recorded) {
        bytes += entry.size;
    }
    return recorded.size() <= static_cast<size_t>(kDigestEntryLimit) && bytes <= kDigestByteLimit;
}

} // namespace

void ManagerService::exportBackup(const LocalBackup& backup, const GameClient& client, const Path& to,
                                  OperationControl* control) {
    ControlScope current(*this, control);
    if (control != nullptr) {
        control->report(OperationStage::preparing);
    }
    checkClient(client);
    // Only reads from the manager folder, but holds the lease so that no other process
    // recycles or replaces the backup while it is copied. No recovery: nothing is changed.
    ClientLock lease(managerFolder(client));
    const Path folder = verifiedBackupFolder(backup, client);

    FileSafety::checkPath(to);
    const Path destination = normalizedDirectory(std::filesystem::absolute(to));
    if (FileSafety::exists(destination) || isInside(destination, client.url())) {
        throw ManagerError(kBadDestination);
    }
    const Path parent = destination.parent_path();
    // The staging copy must not create the destination's parents: they would outlive a failure.
    if (!FileSafety::isDirectory(parent)) {
        throw SystemError(SystemOperation::createDirectory, parent.native(), ENOENT);
    }
    const Path staging = parent / (".olvex-export-" + Uuid::random().text());
    std::optional<FileSafety::StoredEntries> recorded = readDigestList(folder);
    if (recorded && !withinDigestLimits(*recorded)) {
        recorded.reset(); // digesting the copy refuses it as before
    }
    if (control != nullptr && backup.byteCount) {
        control->expectBytes((recorded ? 1 : 2) * *backup.byteCount); // copied, then digested unless recorded
    }
    FileSafety::removeOnFailure(staging, [&] {
        FileSafety::VolumeFlush volume(parent);
        // The digest list stays in the store: its times mean nothing elsewhere, and a package
        // holds the record, the payload and the manifest.
        FileSafety::copyTree(folder, staging, control, FileSafety::Flush::deferred, isDigestListName);
        // Examined after the copy: the bytes copied are the recorded ones when the files still
        // are as recorded once the copy has read them.
        if (recorded && !FileSafety::unchangedSince(folder / "payload", *recorded)) {
            recorded.reset();
            if (control != nullptr && backup.byteCount) {
                control->expectMoreBytes(*backup.byteCount);
            }
        }
        TransferManifest manifest{kFormat, backup.kind,
                                  recorded ? digestMapOf(*recorded) : fileDigests(staging / "payload", control)};
        FileSafety::writeFileAtomically(staging / "transfer.json", encodeManifest(manifest));
        // The package must be durable before its name appears at the destination.
        volume.flush();
        if (control != nullptr) {
            control->check();
        }
        // rename(2) would silently replace an empty folder created there since the check.
        if (FileSafety::exists(destination)) {
            throw ManagerError(kBadDestination);
        }
        FileSafety::move(staging, destination);
    });
    try {
        FileSafety::syncDirectory(parent);
    } catch (...) {
        // The package was in place but may not survive a power loss; a reported failure
        // leaves no package behind, so it is taken away again: renamed back first, so that a
        // removal that fails part-way leaves a staging folder, never part of a package.
        bool renamed = false;
        try {
            FileSafety::move(destination, staging);
            renamed = true;
        } catch (...) {
        }
        FileSafety::removeQuietly(renamed ? staging : destination);
        throw;
    }
}

void ManagerService::importWTF(const Path& from, const GameClient& client, OperationControl* control) {
    ControlScope current(*this, control);
    if (control != nullptr) {
        control->report(OperationStage::validating);
    }
    FileSafety::checkTree(from);
    const Path manifestFile = from / "transfer.json";
    const TransferManifest manifest =
        json::decodeFile<nlohmann::json>(FileSafety::readFile(manifestFile, kManifestLimit, "迁移清单过大。"),
                                         "迁移清单“" + manifestFile.native() + "”", manifestFromJson);
    if (manifest.format != kFormat || manifest.kind != BackupKind::wtf) {
        throw ManagerError(kNotAnExport);
    }
    const Path payload = from / "payload";
    if (!FileSafety::isDirectory(payload) ||
        (!FileSafety::isDirectory(payload / "Account") && !FileSafety::exists(payload / "Config.wtf"))) {
        throw ManagerError(kNotWtfLayout);
    }

    locked(client, [&] {
        const std::int64_t incoming = FileSafety::byteSize(payload);
        const std::int64_t present = FileSafety::byteSize(targetFolder(BackupKind::wtf, client));
        requireSpace(client, incoming + 2 * present + kMargin);
        transaction(BackupKind::wtf, client, "导入配置前自动备份", [&](const Path& next) {
            if (control != nullptr) {
                control->expectBytes(2 * incoming); // copied, then digested
            }
            FileSafety::copyTree(payload, next, control, FileSafety::Flush::deferred);
            if (fileDigests(next, control) != manifest.files) {
                throw ManagerError(kDigestMismatch);
            }
        });
    });
}

} // namespace olvex
