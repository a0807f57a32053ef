#pragma once

// Where a pack's add-on folders lie inside an unpacked ZIP, and which names they have.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "base/Text.h"
#include "records/GameClient.h"

namespace olvex {

// The one comparison of add-on folder names, wherever two are matched: the installation
// replaces a folder whose name differs only in letter case, accents or normalisation form, so
// ownership, the preview's "replacing" and retired add-ons must take such names for the same.
inline std::string addonNameKey(std::string_view name) {
    return text::foldCaseAndDiacritics(name);
}
inline bool sameAddonName(std::string_view a, std::string_view b) {
    return text::equalIgnoringCaseAndDiacritics(a, b);
}
inline bool containsAddon(const std::vector<std::string>& names, std::string_view name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& other) { return sameAddonName(other, name); });
}

// The one folder that holds the add-on folders: the root itself, "AddOns", "Interface/AddOns"
// or "<flavour>/Interface/AddOns", also below one enclosing folder. Fails with a ManagerError
// when there is none or more than one.
Path locateAddons(const Path& root);

// The add-on folder names of an add-on root in code point order. Every visible entry must be
// a folder holding a TOC named after it (optionally with a "_suffix"); names that fold to the
// same text ignoring case, accents and normalisation collide. Fails with a ManagerError.
std::vector<std::string> addonNames(const Path& folder);

} // namespace olvex
