#pragma once

#include <vector>

#include "platform/PlatformServices.h"
#include "records/GameClient.h"

namespace olvex {

// Whether a running program is the game: a program inside any found version folder, an
// executable named like the game's ("wow", "wowclassic", "wowclassicb", "wowb", "wowt" in any
// letter case; a Windows ".exe" extension is ignored, so Wine's "Wow.exe" counts), or a name
// that mentions "warcraft" in any letter case or "魔兽世界".
bool countsAsGame(const RunningApplication& app, const std::vector<GameClient>& clients);

} // namespace olvex
