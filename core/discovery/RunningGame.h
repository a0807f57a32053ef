#pragma once

// Whether the game is running: the one check shared by the window and the command line
// before they change a version folder. A changed add-on folder under a running game is
// overwritten by the game when it quits, so every changing command refuses while it runs.

#include <optional>
#include <string>
#include <vector>

#include "records/GameClient.h"

namespace olvex {

// One running program as the platform describes it.
struct RunningApplication {
    std::optional<Path> bundleURL;     // the application bundle (or folder) it runs from
    std::optional<Path> executableURL; // its executable; for a Windows program under Wine, the .exe
    std::optional<std::string> localizedName;
};

// The running programs of this machine, read from a proc file system (Linux: "/proc"). For a
// program run under Wine, the executable is the Windows .exe named on its command line, not
// the Wine loader. Processes that vanish or cannot be read are skipped.
std::vector<RunningApplication> runningApplications(const Path& procRoot = Path("/proc"));

// Whether a program counts as the game: it runs from inside one of the version folders; or its
// executable (lower case, a trailing ".exe" dropped) is wow, wowb, wowt, wowclassic,
// wowclassicb or wowclassict; or its name and executable mention "warcraft" (any case) or
// "魔兽世界".
bool countsAsGame(const RunningApplication& application, const std::vector<GameClient>& clients);

// Fails with "检测到魔兽世界仍在运行，请完全退出游戏。" when any program counts as the game.
void requireGameNotRunning(const std::vector<RunningApplication>& applications, const std::vector<GameClient>& clients);

} // namespace olvex
