#pragma once

// The retained pack preview: the staging folder and the lease that keeps housekeeping away
// from it, held by the service between a preview and its installation. Private to service/.

#include <memory>

#include "fs/ClientLock.h"
#include "packs/PackRecords.h"
#include "service/ManagerService.h"

namespace olvex {

struct ManagerService::Prepared {
    ImportPreview preview;
    Path staging;
    Path addonRoot;
    std::unique_ptr<ClientLock> lease;
};

} // namespace olvex
