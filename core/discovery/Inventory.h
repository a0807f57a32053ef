#pragma once

// The installed add-on inventory: one row per add-on folder under Interface/AddOns, filled
// from the .toc file the version folder's game would read. It only reads: no lease, no writes.

#include <string_view>
#include <vector>

#include "records/GameClient.h"
#include "records/Records.h"

namespace olvex {

// The add-on folders of a version folder in byte order of their names; hidden entries and
// files are skipped, a link or special file among them fails the listing. A missing
// Interface/AddOns is an empty inventory.
std::vector<InstalledAddon> listInstalledAddons(const GameClient& client);

// The add-on search of both fronts: the query is found, ignoring letter case (ICU full
// lowercasing), in the title, the folder name or the author. An empty query matches every add-on.
bool addonMatchesSearch(const InstalledAddon& addon, std::string_view query);

} // namespace olvex
