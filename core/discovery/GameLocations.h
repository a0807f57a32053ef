#pragma once

// Where this platform keeps the game: the one place that knows it. On Linux the game always
// lives in a Wine prefix, so the places are the prefixes of Wine, Lutris, Bottles, Steam and
// PlayOnLinux (native and Flatpak) and the folders where removable and shared drives are
// mounted; on macOS the folders the game's installer uses. Which folders these are depends on
// the user's environment, which is passed in (never read here), so that tests use fake homes.

#include <optional>
#include <string>
#include <vector>

#include "base/Path.h"

namespace olvex {

// How a version folder was found: shown under its name, so the player knows which
// installation it is.
struct ClientSource {
    enum class Kind { picked, usualFolder, wine, lutris, bottles, steam, playOnLinux, mountedDrive };
    Kind kind = Kind::picked;
    // The launcher's name for the game or prefix (Lutris "world-of-warcraft", the bottle
    // "Battle.net"), the folder of a mounted drive, a WINEPREFIX; empty where there is none.
    std::string name;

    // The Chinese text shown for it: "Lutris：world-of-warcraft", "手动选择", …
    std::string displayText() const;
    // A stable English word for scripts: "lutris", "picked", …
    std::string kindName() const;

    friend bool operator==(const ClientSource&, const ClientSource&) = default;
};

// The user's environment as far as it names places: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME,
// WINEPREFIX and the folders that USER's drives are mounted under.
struct UserEnvironment {
    Path home;
    Path configHome;                // $XDG_CONFIG_HOME, or ~/.config
    Path dataHome;                  // $XDG_DATA_HOME, or ~/.local/share
    std::optional<Path> winePrefix; // $WINEPREFIX
    std::vector<Path> mountRoots;   // /media/$USER, /run/media/$USER, /mnt

    // The defaults for a home folder and user name (no WINEPREFIX).
    static UserEnvironment forHome(const Path& home, const std::string& user);
    // Read from this process's environment; the fronts call it, the core never does.
    static UserEnvironment fromProcess();
};

// One folder to search and how a version folder found there was found.
struct SearchPlace {
    Path folder;
    ClientSource source;
    // A configuration named this folder, so its absence is news (a drive offline); the
    // platform's usual folders are simply absent on most machines.
    bool reportMissing = false;
};

// The default places for an environment, read from the launchers' own records. `launchers`
// are searched before the folders the user picked, `drives` after them: a whole mounted drive
// is the broadest search and must not use up the folder count before the user's own folders.
struct DefaultPlaces {
    std::vector<SearchPlace> launchers;
    std::vector<SearchPlace> drives;
    std::vector<Path> unreadableFiles; // launcher records that were damaged, too large or unreadable
    std::vector<Path> inaccessible;    // launcher folders that could not be listed
};

namespace GameLocations {

DefaultPlaces defaultPlaces(const UserEnvironment& environment);

} // namespace GameLocations
} // namespace olvex
