#pragma once

// What installing a previewed pack changes: the add-on folder it builds, and for a pack with
// a manifest the registry it writes into that folder.

#include <map>
#include <string>
#include <vector>

#include "base/OperationControl.h"
#include "packs/PackRecords.h"

namespace olvex {

// Builds `next` as `live` (when present) in which each of `addons`, copied from `addonRoot`,
// replaces every folder whose name folds to its own (left out of the copy of `live`, and out of
// the bytes `control` expects). Copies defer their flushes: the caller flushes the volume
// before anything relies on them.
void buildInstalledFolder(const Path& live, const Path& addonRoot, const std::vector<std::string>& addons,
                          const Path& next, const OperationControl* control);

// The registry after installing `preview`, whose pack must have a manifest: the pack's record
// (its add-ons with `digests`, installed at `installedAt`) replaces any record of the same
// identifier and goes last. Add-ons the previous release shipped and this one does not join
// the record's retired add-ons with their recorded digests; add-ons shipped again leave them.
std::vector<ManagedPack> registryAfterInstall(std::vector<ManagedPack> registry, const ImportPreview& preview,
                                              std::map<std::string, DigestMap> digests, Date installedAt);

} // namespace olvex
