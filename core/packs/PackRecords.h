#pragma once

// The records of managed add-on packs: the manifest a pack carries, the registry entry of an
// installed pack, and the file digest map that proves a folder is unchanged.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Date.h"
#include "base/Uuid.h"
#include "records/GameClient.h"

namespace olvex {

// Relative path → lower-case SHA-256 hex; folders as "path/" → "directory".
using DigestMap = std::map<std::string, std::string>;

struct PackManifest {
    std::string identifier;
    std::string name;
    std::string version;
    std::string gameFlavor;
    std::string source;

    friend bool operator==(const PackManifest&, const PackManifest&) = default;
};

struct ManagedPack {
    PackManifest manifest;
    Date installedAt;
    std::vector<std::string> addons;
    std::map<std::string, DigestMap> digests;
    std::map<std::string, DigestMap> retired;

    const std::string& id() const { return manifest.identifier; }
    friend bool operator==(const ManagedPack&, const ManagedPack&) = default;
};

// What a pack preview shows before the user confirms the installation.
struct ImportPreview {
    Uuid token;
    std::string archiveName;
    std::vector<std::string> addons;
    std::vector<std::string> replacing;
    GameClient client{Path("/")};
    std::optional<PackManifest> pack;
    std::optional<std::string> previousVersion;
    std::vector<std::string> retiredAddons;
};

// Reserved for online pack sources and configuration sync; declared so that the formats
// stay stable, and implemented by nothing yet.
struct PackRelease {
    std::string identifier;
    std::string version;
    std::string downloadURL;
    std::string sha256;
};

class AuthorizedPackSource {
public:
    virtual ~AuthorizedPackSource() = default;
    virtual std::string displayName() const = 0;
    virtual std::vector<PackRelease> releases(const std::string& identifier) = 0;
};

class ConfigurationSyncProvider {
public:
    virtual ~ConfigurationSyncProvider() = default;
    virtual void upload(const Path& package) = 0;
    virtual Path download(const std::string& identifier) = 0;
};

} // namespace olvex
