#pragma once

// The steps of a pack preview, in the order the service runs them on a staging folder: the
// ZIP is unpacked and checked, its add-on folder is located (and any flavour named inside the
// pack must be the client's), its manifest is read, and the plan says what an installation
// would do.

#include <optional>
#include <string>
#include <vector>

#include "base/OperationControl.h"
#include "packs/PackRecords.h"

namespace olvex {

// Unpacks `zip` into the existing folder `staging` and checks the unpacked tree. Reports the
// extraction's progress and then the `validating` stage to `control`, which can cancel.
void extractPack(const Path& zip, const Path& staging, OperationControl* control);

// The add-on folder inside an unpacked pack. Only folders inside the pack name a flavour: the
// staging folder's own path may pass through anything, a folder called "_classic_" included.
Path locatePackAddons(const Path& staging, const GameClient& client);

// The pack's manifest beside its add-on folders, validated for the client; none when absent.
std::optional<PackManifest> readManifest(const Path& addonRoot, const GameClient& client);

// The names in the live add-on folder after its tree check; none when it is missing or
// cannot be listed, since such a folder replaces nothing.
std::vector<std::string> liveAddonNames(const Path& live);

// What installing `addons` (and `manifest`) would do to a folder holding `liveNames` under
// `registry`: the folders replaced, the version upgraded from and the add-ons retired. Fails
// as checkOwnership does. Token, archive name and client are left for the caller.
ImportPreview planImport(const std::vector<std::string>& addons, const std::optional<PackManifest>& manifest,
                         const std::vector<std::string>& liveNames, const std::vector<ManagedPack>& registry);

} // namespace olvex
