#pragma once

#include <functional>
#include <map>
#include <string>

#include "base/Path.h"

namespace olvex {

// One game version folder such as "/Games/World of Warcraft/_retail_". Built from a path's
// text with trailing slashes dropped, so two spellings of one folder give equal clients.
class GameClient {
public:
    explicit GameClient(const Path& url);

    const Path& url() const { return m_url; }
    // The folder's path text: the identity kept by lists and selections.
    const std::string& id() const { return m_url.native(); }
    // The flavour table's title for the folder name, or the folder name itself.
    std::string title() const;
    // The version folder's own name, e.g. "_retail_".
    std::string folderName() const { return m_url.filename().native(); }

    // Folder name → display title. Only these exact names are version folders.
    static const std::map<std::string, std::string>& flavors();
    static bool isFlavor(const std::string& folderName);

    friend bool operator==(const GameClient&, const GameClient&) = default;
    friend bool operator<(const GameClient& a, const GameClient& b) { return a.id() < b.id(); }

private:
    Path m_url;
};

} // namespace olvex

template <> struct std::hash<olvex::GameClient> {
    size_t operator()(const olvex::GameClient& client) const noexcept { return std::hash<std::string>{}(client.id()); }
};
