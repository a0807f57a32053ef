#pragma once

// Add-ons that a newer release of an installed pack no longer ships: listed with whether the
// system can prove they are untouched and unclaimed, and removed only on that proof.

#include <string>
#include <vector>

#include "base/OperationControl.h"
#include "packs/PackRecords.h"
#include "records/Records.h"

namespace olvex {

// The retired add-ons of `packs` still present in `addonFolder`, by pack and then by name. One
// can be removed when no pack ships it and its folder's digests equal the recorded ones. A
// recorded name that could leave the add-on folder fails the whole listing.
std::vector<RetiredAddon> listRetiredAddons(const std::vector<ManagedPack>& packs, const Path& addonFolder,
                                            const OperationControl* control);

// Whether the listing allows removing this add-on of this pack (both compared exactly).
bool isRemovable(const std::vector<RetiredAddon>& listed, const std::string& packID, const std::string& name);

// Removes a retired add-on from `addonFolder` (the copy that will be committed) and drops it
// from the registry there, after checking once more that its record is present and its folder
// unchanged: the folder listed may have changed since. Fails with a ManagerError otherwise.
void removeRetiredAddonIn(const Path& addonFolder, const std::string& packID, const std::string& name,
                          const OperationControl* control);

} // namespace olvex
