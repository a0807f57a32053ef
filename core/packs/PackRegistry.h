#pragma once

// The two pack file formats: the manifest a pack ZIP carries (".olvex-pack.json") and the
// installed-pack registry kept in each version folder's Interface/AddOns
// (".olvex-installed-packs.json"), with the size limits that bound their decoding.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "packs/PackRecords.h"
#include "records/Json.h"

namespace olvex {

inline constexpr const char* kManifestName = ".olvex-pack.json";
// Both files are read whole; these caps bound the memory that decoding can take.
inline constexpr std::int64_t kManifestByteLimit = 65'536;
inline constexpr std::int64_t kRegistryByteLimit = 16'777'216;

// Manifest keys in the order they are written: identifier, name, version, gameFlavor, source.
json::Json toJson(const PackManifest& manifest);
// The five keys are required strings; any other key is ignored. Fails with json::DecodeError.
PackManifest packManifestFromJson(const json::Json& object);
// Parses a manifest's text: the parser's error for malformed JSON, else as above.
PackManifest decodeManifest(std::string_view text);

// A registry record: "manifest", "installedAt", "addons", "digests", "retired", all required
// when reading (other keys are ignored), digest maps as objects of strings.
json::Json toJson(const ManagedPack& pack);
ManagedPack managedPackFromJson(const json::Json& object);

// The whole registry file: a JSON array of records, compact, "/" written as "\/".
// Encoding fails (the library's type error) on text that is not valid UTF-8.
std::string encodeRegistry(const std::vector<ManagedPack>& registry);
// Records in file order. Malformed JSON, a top level that is not an array or a record that
// breaks the format fail; duplicate identifiers are left to the caller (readRegistry).
std::vector<ManagedPack> decodeRegistry(std::string_view text);
// The same from a parsed value; fails with json::DecodeError.
std::vector<ManagedPack> registryFromJson(const json::Json& array);

// Whether a name can be an add-on folder directly inside Interface/AddOns: not empty, not
// hidden (no leading "."), and free of "/", "\", ":" and NUL, so that joining it to the add-on
// folder can never name anything but one direct child.
bool isAddonComponent(std::string_view name);

} // namespace olvex
