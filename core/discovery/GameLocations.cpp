#include "discovery/GameLocations.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <pwd.h>
#include <set>
#include <unistd.h>

#include "base/Errors.h"
#include "discovery/LauncherFiles.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex {

namespace {

struct KindText {
    const char* word;
    const char* label;
};

KindText kindText(ClientSource::Kind kind) {
    switch (kind) {
    case ClientSource::Kind::usualFolder:
        return {"usualFolder", "常用位置"};
    case ClientSource::Kind::wine:
        return {"wine", "Wine"};
    case ClientSource::Kind::lutris:
        return {"lutris", "Lutris"};
    case ClientSource::Kind::bottles:
        return {"bottles", "Bottles"};
    case ClientSource::Kind::steam:
        return {"steam", "Steam"};
    case ClientSource::Kind::playOnLinux:
        return {"playOnLinux", "PlayOnLinux"};
    case ClientSource::Kind::mountedDrive:
        return {"mountedDrive", "已挂载的磁盘"};
    case ClientSource::Kind::picked:
        break;
    }
    return {"picked", "手动选择"};
}

// An absolute path from the environment, or nothing (unset, empty or relative, which the XDG
// rules say to ignore).
std::optional<Path> absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return normalizedDirectory(Path(value));
}

} // namespace

std::string ClientSource::displayText() const {
    std::string text = kindText(kind).label;
    return name.empty() ? text : text + "：" + name;
}

std::string ClientSource::kindName() const {
    return kindText(kind).word;
}

UserEnvironment UserEnvironment::forHome(const Path& home, const std::string& user) {
    UserEnvironment environment;
    environment.home = home;
    environment.configHome = home / ".config";
    environment.dataHome = home / ".local/share";
#ifndef __APPLE__
    if (!user.empty() && user.find('/') == std::string::npos && user != "." && user != "..") {
        environment.mountRoots = {Path("/media") / user, Path("/run/media") / user};
    }
    environment.mountRoots.emplace_back("/mnt");
#endif
    return environment;
}

UserEnvironment UserEnvironment::fromProcess() {
    const passwd* entry = ::getpwuid(::getuid());
    Path home = absoluteVariable("HOME").value_or(Path(entry != nullptr ? entry->pw_dir : "/"));
    const char* user = std::getenv("USER");
    UserEnvironment environment = forHome(home, user != nullptr && *user != '\0' ? user
                                                : entry != nullptr               ? entry->pw_name
                                                                                 : "");
    environment.configHome = absoluteVariable("XDG_CONFIG_HOME").value_or(environment.configHome);
    environment.dataHome = absoluteVariable("XDG_DATA_HOME").value_or(environment.dataHome);
    environment.winePrefix = absoluteVariable("WINEPREFIX");
    return environment;
}

namespace GameLocations {

namespace {

// The most records read from one launcher folder; a folder of thousands is no launcher's.
constexpr size_t kMaxRecords = 1000;

class Collector {
public:
    explicit Collector(DefaultPlaces& places) : m_places(places) {}

    // A place by the name the environment or a launcher gives it. That name may be a link
    // (~/.steam/steam, a prefix under a linked ~/Games): it is resolved once, here, so that
    // every folder below is reached and reported by its real path; nothing below a place
    // is ever followed.
    static Path named(const Path& path) {
        std::string real;
        return sys::realpath(path.c_str(), real) ? Path(real) : normalizedDirectory(path);
    }

    // A launcher record's text; nothing when absent, and a damaged or unreadable one noted.
    std::optional<std::string> read(const Path& file) {
        try {
            return FileSafety::readBounded(file, launcher::kMaxFileSize, "too large");
        } catch (const std::exception&) {
            m_places.unreadableFiles.push_back(file);
            return std::nullopt;
        }
    }

    // A launcher folder's entries, sorted so that the places come in a stable order; none when
    // it is absent, and one that cannot be listed noted.
    std::vector<sys::DirEntry> list(const Path& folder) {
        std::vector<sys::DirEntry> entries;
        try {
            if (FileSafety::exists(folder)) {
                entries = FileSafety::list(folder);
            }
        } catch (const std::exception&) {
            m_places.inaccessible.push_back(folder);
        }
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
        if (entries.size() > kMaxRecords) {
            entries.resize(kMaxRecords);
        }
        return entries;
    }

    // Parses a record; a damaged one is noted like an unreadable one.
    template <typename Reader> auto parse(const Path& file, Reader reader) -> std::optional<decltype(reader(""))> {
        auto text = read(file);
        if (!text) {
            return std::nullopt;
        }
        try {
            return reader(*text);
        } catch (const launcher::DamagedLauncherFile&) {
            m_places.unreadableFiles.push_back(file);
            return std::nullopt;
        }
    }

    void add(const Path& folder, ClientSource::Kind kind, std::string name, bool reportMissing) {
        m_places.launchers.push_back({folder, {kind, std::move(name)}, reportMissing});
    }

    // Every folder of a launcher's folder of prefixes (Bottles' bottles, PlayOnLinux's
    // prefixes), named after it.
    void addEach(const Path& folder, ClientSource::Kind kind) {
        for (const auto& entry : list(folder)) {
            if (entry.type == DT_DIR && entry.name.front() != '.') {
                add(folder / entry.name, kind, entry.name, false);
            }
        }
    }

private:
    DefaultPlaces& m_places;
};

#ifndef __APPLE__
// A path as a launcher wrote it: absolute, or "~/…" for the home folder; anything else names
// no place.
std::optional<Path> launcherPath(const std::string& text, const Path& home) {
    if (text == "~" || text.rfind("~/", 0) == 0) {
        return home / text.substr(std::min<size_t>(text.size(), 2));
    }
    if (text.empty() || text.front() != '/') {
        return std::nullopt;
    }
    return Path(text);
}

// Lutris keeps its records in the XDG folders (older releases in the configuration folder,
// newer in the data folder), the Flatpak in its own.
std::vector<Path> lutrisFolders(const UserEnvironment& environment) {
    const Path flatpak = environment.home / ".var/app/net.lutris.Lutris";
    return {environment.configHome / "lutris", environment.dataHome / "lutris", flatpak / "config/lutris",
            flatpak / "data/lutris"};
}

// Each game's own prefix, named after the game.
void lutrisGames(Collector& collect, const UserEnvironment& environment) {
    for (const auto& folder : lutrisFolders(environment)) {
        for (const auto& entry : collect.list(folder / "games")) {
            const std::string& name = entry.name;
            const bool yaml = name.size() > 4 && (name.ends_with(".yml") || name.ends_with(".yaml"));
            if (entry.type != DT_REG || !yaml) {
                continue;
            }
            auto game = collect.parse(folder / "games" / name, launcher::lutrisGame);
            if (game && game->prefix) {
                if (auto prefix = launcherPath(*game->prefix, environment.home)) {
                    collect.add(Collector::named(*prefix), ClientSource::Kind::lutris, game->slug, true);
                }
            }
        }
    }
}

// Lutris's folder for new games, where a game without a prefix of its own is installed.
void lutrisGameFolders(Collector& collect, const UserEnvironment& environment) {
    bool installed = false;
    for (const auto& folder : lutrisFolders(environment)) {
        installed = installed || FileSafety::isDirectory(folder);
        auto gamePath = collect.parse(folder / "system.yml", launcher::lutrisGamePath);
        if (gamePath && *gamePath) {
            if (auto path = launcherPath(**gamePath, environment.home)) {
                collect.add(Collector::named(*path), ClientSource::Kind::lutris, "", true);
            }
        }
    }
    // ~/Games is Lutris's default for that folder, and where players put games by hand.
    collect.add(Collector::named(environment.home / "Games"),
                installed ? ClientSource::Kind::lutris : ClientSource::Kind::usualFolder, "", false);
}

void steam(Collector& collect, const UserEnvironment& environment) {
    const std::vector<Path> installs{environment.home / ".steam/steam", environment.dataHome / "Steam",
                                     environment.home / ".var/app/com.valvesoftware.Steam/.local/share/Steam"};
    std::set<Path> libraries;
    for (const auto& install : installs) {
        const Path steam = Collector::named(install);
        std::vector<Path> found{steam};
        if (auto listed = collect.parse(steam / "steamapps/libraryfolders.vdf", launcher::steamLibraries)) {
            for (const auto& library : *listed) {
                if (auto path = launcherPath(library, environment.home)) {
                    found.push_back(Collector::named(*path));
                }
            }
        }
        for (const auto& library : found) {
            // A game added to Steam runs in a prefix of its own: compatdata/<app id>/pfx.
            if (libraries.insert(library).second) {
                collect.add(library / "steamapps/compatdata", ClientSource::Kind::steam, "", false);
            }
        }
    }
}

#endif

} // namespace

DefaultPlaces defaultPlaces(const UserEnvironment& given) {
    // The environment's folders name places too: a home, or a data folder kept elsewhere and
    // linked, is resolved once so that what lies below it is reached without a link.
    UserEnvironment environment = given;
    for (Path* folder : {&environment.home, &environment.configHome, &environment.dataHome}) {
        *folder = Collector::named(*folder);
    }
    DefaultPlaces places;
    Collector collect(places);
#ifdef __APPLE__
    collect.add(Path("/Applications/World of Warcraft"), ClientSource::Kind::usualFolder, "", false);
    collect.add(Path("/Applications/魔兽世界"), ClientSource::Kind::usualFolder, "", false);
    collect.add(environment.home / "Games", ClientSource::Kind::usualFolder, "", false);
    collect.add(environment.home / "Applications", ClientSource::Kind::usualFolder, "", false);
    places.drives.push_back({Path("/Volumes"), {ClientSource::Kind::mountedDrive, ""}, false});
#else
    // The launchers that name their games come first: a folder found twice keeps the first,
    // most telling, source (a Lutris prefix is also below ~/Games, and may be $WINEPREFIX).
    const Path home = environment.home;
    lutrisGames(collect, environment);
    collect.addEach(environment.dataHome / "bottles/bottles", ClientSource::Kind::bottles);
    collect.addEach(home / ".var/app/com.usebottles.bottles/data/bottles/bottles", ClientSource::Kind::bottles);
    steam(collect, environment);
    collect.addEach(home / ".PlayOnLinux/wineprefix", ClientSource::Kind::playOnLinux);
    if (environment.winePrefix) {
        collect.add(Collector::named(*environment.winePrefix), ClientSource::Kind::wine,
                    environment.winePrefix->native(), true);
    }
    collect.add(Collector::named(home / ".wine"), ClientSource::Kind::wine, "", false);
    lutrisGameFolders(collect, environment);
    // Where Linux mounts other drives, among them a Windows partition shared with Linux.
    for (const auto& root : environment.mountRoots) {
        places.drives.push_back({root, {ClientSource::Kind::mountedDrive, root.native()}, false});
    }
#endif
    return places;
}

} // namespace GameLocations
} // namespace olvex
