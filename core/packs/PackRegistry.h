#pragma once

// The two pack file formats: the manifest a pack ZIP carries (".olvex-pack.json") and the
// installed-pack registry kept in each version folder's Interface/AddOns
// (".olvex-installed-packs.json"), with the size limits that bound their decoding, and the
// rules every pack must pass: a valid manifest for the chosen flavour, and no add-on folder
// that another pack manages.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Json.h"
#include "packs/PackRecords.h"

namespace olvex {

inline constexpr const char* kManifestName = ".olvex-pack.json";
inline constexpr const char* kRegistryName = ".olvex-installed-packs.json";
// Both files are read whole; these caps bound the memory that decoding can take.
inline constexpr std::int64_t kManifestByteLimit = 65'536;
inline constexpr std::int64_t kRegistryByteLimit = 16'777'216;

// Manifest keys in the order they are written: identifier, name, version, gameFlavor, source.
json::Json toJson(const PackManifest& manifest);
// The five keys are required strings; any other key is ignored. Fails with json::DecodeError.
PackManifest packManifestFromJson(const json::Json& object);
// Parses a manifest's text; any failure is a ManagerError naming the file and saying in Chinese
// what is wrong ("整合包清单（.olvex-pack.json）已损坏：内容不完整（第 1 行第 19 列，应为带引号的文本）。").
PackManifest decodeManifest(std::string_view text);

// A registry record: "manifest", "installedAt", "addons", "digests", "retired", all required
// when reading (other keys are ignored), digest maps as objects of strings.
json::Json toJson(const ManagedPack& pack);
ManagedPack managedPackFromJson(const json::Json& object);

// The whole registry file: a JSON array of records, compact, "/" written as "\/".
// Encoding fails (the library's type error) on text that is not valid UTF-8.
std::string encodeRegistry(const std::vector<ManagedPack>& registry);
// Records in file order. Malformed JSON, a top level that is not an array or a record that
// breaks the format fail; duplicate identifiers are left to readRegistry.
std::vector<ManagedPack> decodeRegistry(std::string_view text);
// The same from a parsed value; fails with json::DecodeError.
std::vector<ManagedPack> registryFromJson(const json::Json& array);

// Whether a name can be an add-on folder directly inside Interface/AddOns: not empty, not
// hidden (no leading "."), and free of "/", "\", ":" and NUL, so that joining it to the add-on
// folder can never name anything but one direct child.
bool isAddonComponent(std::string_view name);

// Fails with a ManagerError unless the identifier, name, version and source are within their
// limits (counted in user-perceived characters) and the flavour is the client's folder name.
void validateManifest(const PackManifest& manifest, const GameClient& client);

// Fails with a ManagerError when an incoming add-on name folds to a folder that a pack other
// than `manifest`'s (compared by exact identifier) manages; an upgrade may replace its own.
void checkOwnership(const std::vector<std::string>& addons, const std::optional<PackManifest>& manifest,
                    const std::vector<ManagedPack>& registry);

// The registry of an add-on folder; a missing file is an empty registry. A file past the size
// limit, one that does not decode, or two records of one identifier fail, naming the file.
std::vector<ManagedPack> readRegistry(const Path& addonFolder);
// Writes the registry atomically; one that would encode past the size limit is refused and
// the old file stays.
void writeRegistry(const std::vector<ManagedPack>& registry, const Path& addonFolder);

// The record of the pack with this exact identifier, or null.
const ManagedPack* findPack(const std::vector<ManagedPack>& registry, std::string_view identifier);
ManagedPack* findPack(std::vector<ManagedPack>& registry, std::string_view identifier);

} // namespace olvex
