#include "packs/PackRegistry.h"

#include <algorithm>
#include <set>
#include <utility>

#include "base/Errors.h"
#include "base/Text.h"
#include "fs/FileSafety.h"
#include "packs/AddonLayout.h"

namespace olvex {

namespace {

constexpr const char* kInvalidManifest = "整合包清单标识、名称或版本无效。";
constexpr const char* kWrongFlavor = "整合包清单的游戏版本与所选目录不符。";
constexpr const char* kRegistryTooLarge = "本地整合包记录过大，已停止操作。";
constexpr const char* kDuplicateIdentifier = "本地整合包标识重复。";
constexpr const char* kRegistryWriteTooLarge = "整合包记录超过 16 MiB，已停止操作并保留原状态。";

// ICU's "$" also matches before a final line terminator, which would let "pack\n" through;
// "\z" anchors at the very end of the text so only the listed characters ever pass.
constexpr const char* kIdentifierPattern = "^[A-Za-z0-9][A-Za-z0-9._-]{0,127}\\z";

constexpr size_t kNameLimit = 128;
constexpr size_t kVersionLimit = 64;
constexpr size_t kSourceLimit = 2'048;

json::Json toJson(const DigestMap& digests) {
    json::Json object = json::Json::object();
    for (const auto& [path, digest] : digests) {
        object[path] = digest;
    }
    return object;
}

json::Json toJson(const std::map<std::string, DigestMap>& maps) {
    json::Json object = json::Json::object();
    for (const auto& [name, digests] : maps) {
        object[name] = toJson(digests);
    }
    return object;
}

DigestMap digestMapFromJson(const json::Json& object, const std::string& where) {
    if (!object.is_object()) {
        throw json::DecodeError(where + "不是对象");
    }
    DigestMap digests;
    for (const auto& [path, digest] : object.items()) {
        if (!digest.is_string()) {
            throw json::DecodeError(where + "中有摘要不是文本");
        }
        digests.emplace(path, digest.get<std::string>());
    }
    return digests;
}

std::map<std::string, DigestMap> digestMapsFromJson(const json::Json& record, const char* key) {
    const json::Json& object = json::require(record, key);
    if (!object.is_object()) {
        throw json::DecodeError(std::string("字段“") + key + "”不是对象");
    }
    std::map<std::string, DigestMap> maps;
    for (const auto& [name, digests] : object.items()) {
        maps.emplace(name, digestMapFromJson(digests, std::string("字段“") + key + "”的“" + name + "”"));
    }
    return maps;
}

Path registryFile(const Path& addonFolder) {
    return addonFolder / kRegistryName;
}

} // namespace

json::Json toJson(const PackManifest& manifest) {
    json::Json object = json::Json::object();
    object["identifier"] = manifest.identifier;
    object["name"] = manifest.name;
    object["version"] = manifest.version;
    object["gameFlavor"] = manifest.gameFlavor;
    object["source"] = manifest.source;
    return object;
}

PackManifest packManifestFromJson(const json::Json& object) {
    PackManifest manifest;
    manifest.identifier = json::requireString(object, "identifier");
    manifest.name = json::requireString(object, "name");
    manifest.version = json::requireString(object, "version");
    manifest.gameFlavor = json::requireString(object, "gameFlavor");
    manifest.source = json::requireString(object, "source");
    return manifest;
}

PackManifest decodeManifest(std::string_view text) {
    return json::decodeFile(text, std::string("整合包清单（") + kManifestName + "）", packManifestFromJson);
}

json::Json toJson(const ManagedPack& pack) {
    json::Json object = json::Json::object();
    object["manifest"] = toJson(pack.manifest);
    object["installedAt"] = pack.installedAt.sinceReference;
    object["addons"] = pack.addons;
    object["digests"] = toJson(pack.digests);
    object["retired"] = toJson(pack.retired);
    return object;
}

ManagedPack managedPackFromJson(const json::Json& object) {
    ManagedPack pack;
    pack.manifest = packManifestFromJson(json::require(object, "manifest"));
    pack.installedAt = json::requireDate(object, "installedAt");
    const json::Json& addons = json::require(object, "addons");
    if (!addons.is_array()) {
        throw json::DecodeError("字段“addons”不是数组");
    }
    for (const auto& name : addons) {
        if (!name.is_string()) {
            throw json::DecodeError("字段“addons”中有名称不是文本");
        }
        pack.addons.push_back(name.get<std::string>());
    }
    pack.digests = digestMapsFromJson(object, "digests");
    pack.retired = digestMapsFromJson(object, "retired");
    return pack;
}

std::string encodeRegistry(const std::vector<ManagedPack>& registry) {
    json::Json array = json::Json::array();
    for (const auto& pack : registry) {
        array.push_back(toJson(pack));
    }
    return json::encode(array);
}

std::vector<ManagedPack> registryFromJson(const json::Json& array) {
    if (!array.is_array()) {
        throw json::DecodeError("顶层不是数组");
    }
    std::vector<ManagedPack> registry;
    registry.reserve(array.size());
    for (const auto& record : array) {
        registry.push_back(managedPackFromJson(record));
    }
    return registry;
}

std::vector<ManagedPack> decodeRegistry(std::string_view text) {
    return registryFromJson(json::decode(text));
}

bool isAddonComponent(std::string_view name) {
    // A leading "." also rules out "." and "..".
    return !name.empty() && name.front() != '.' && name.find_first_of(std::string_view("/\\:\0", 4)) == name.npos;
}

void validateManifest(const PackManifest& manifest, const GameClient& client) {
    static const text::Regex identifier(kIdentifierPattern);
    auto within = [](const std::string& value, size_t least, size_t most) {
        size_t count = text::characterCount(value);
        return count >= least && count <= most;
    };
    if (!identifier.search(manifest.identifier) || !within(manifest.version, 1, kVersionLimit) ||
        !within(manifest.name, 1, kNameLimit) || !within(manifest.source, 0, kSourceLimit)) {
        throw ManagerError(kInvalidManifest);
    }
    if (manifest.gameFlavor != client.folderName()) {
        throw ManagerError(kWrongFlavor);
    }
}

void checkOwnership(const std::vector<std::string>& addons, const std::optional<PackManifest>& manifest,
                    const std::vector<ManagedPack>& registry) {
    for (const auto& record : registry) {
        if (manifest && record.manifest.identifier == manifest->identifier) {
            continue; // an upgrade of the same pack may replace its own folders
        }
        for (const auto& owned : record.addons) {
            for (const auto& incoming : addons) {
                if (sameAddonName(owned, incoming)) {
                    throw ManagerError(owned + " 由整合包「" + record.manifest.name +
                                       "」管理，无法用其他包覆盖。请使用相同标识的整合包升级，或先恢复安装前快照。");
                }
            }
        }
    }
}

std::vector<ManagedPack> readRegistry(const Path& addonFolder) {
    const Path file = registryFile(addonFolder);
    FileSafety::checkPath(file);
    std::optional<std::string> data = FileSafety::readBounded(file, kRegistryByteLimit, kRegistryTooLarge);
    if (!data) {
        return {}; // a missing file is an empty registry
    }
    std::vector<ManagedPack> registry =
        json::decodeFile(*data, "本地整合包记录“" + file.native() + "”",
                         [](const json::Json& array) { return registryFromJson(array); });
    std::set<std::string> identifiers;
    for (const auto& pack : registry) {
        identifiers.insert(pack.manifest.identifier);
    }
    if (identifiers.size() < registry.size()) {
        throw ManagerError(kDuplicateIdentifier);
    }
    return registry;
}

void writeRegistry(const std::vector<ManagedPack>& registry, const Path& addonFolder) {
    const Path file = registryFile(addonFolder);
    FileSafety::checkPath(file);
    std::string data = encodeRegistry(registry);
    if (static_cast<std::int64_t>(data.size()) > kRegistryByteLimit) {
        throw ManagerError(kRegistryWriteTooLarge);
    }
    FileSafety::writeFileAtomically(file, data);
}

const ManagedPack* findPack(const std::vector<ManagedPack>& registry, std::string_view identifier) {
    auto it = std::find_if(registry.begin(), registry.end(),
                           [&](const ManagedPack& record) { return record.manifest.identifier == identifier; });
    return it == registry.end() ? nullptr : &*it;
}

ManagedPack* findPack(std::vector<ManagedPack>& registry, std::string_view identifier) {
    return const_cast<ManagedPack*>(findPack(std::as_const(registry), identifier));
}

} // namespace olvex
