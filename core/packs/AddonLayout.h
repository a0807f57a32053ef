#pragma once

// Where a pack's add-on folders lie inside an unpacked ZIP, and which names they have.

#include <string>
#include <vector>

#include "records/GameClient.h"

namespace olvex {

// The one folder that holds the add-on folders: the root itself, "AddOns", "Interface/AddOns"
// or "<flavour>/Interface/AddOns", also below one enclosing folder. Fails with a ManagerError
// when there is none or more than one.
Path locateAddons(const Path& root);

// The add-on folder names of an add-on root in code point order. Every visible entry must be
// a folder holding a TOC named after it (optionally with a "_suffix"); names that fold to the
// same text ignoring case, accents and normalisation collide. Fails with a ManagerError.
std::vector<std::string> addonNames(const Path& folder);

} // namespace olvex
