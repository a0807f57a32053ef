// The installed add-on inventory of a version folder (see discovery/Inventory.h).

#include "discovery/Inventory.h"
#include "service/ManagerService.h"

namespace olvex {

std::vector<InstalledAddon> ManagerService::installedAddons(const GameClient& client) {
    checkClient(client);
    return listInstalledAddons(client);
}

} // namespace olvex
