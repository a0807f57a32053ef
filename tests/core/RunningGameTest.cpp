#include <gtest/gtest.h>

#include <array>
#include <set>

#include "discovery/RunningGame.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;
using namespace std::string_literals;

TEST(RunningGame, FindsTheGameRunNativelyOrUnderWineAndNothingElse) {
    TempDir dir;
    const Path proc = dir / "proc";
    makeDirs(proc / "self-not-a-pid");
    // exe link, comm, cmdline of each process.
    const std::vector<std::array<std::string, 3>> processes{
        {"/usr/bin/bash", "bash", "bash\0-l\0"s},
        {"/usr/lib/firefox/firefox", "firefox", "firefox\0"s},
        {"/g/_retail_x/tool", "tool", "tool\0"s}, // a version folder's name alone is not a game
        {"/usr/bin/wine64-preloader", "Wow.exe", "C:\\Program Files (x86)\\World of Warcraft\\_retail_\\Wow.exe\0"s},
        {"/usr/lib/wine/wine64", "WowClassic.exe", "Z:\\games\\WowClassic.exe\0"s},
        {"/opt/launcher/run", "World of Warcraft", "run\0"s},
        {"/opt/launcher/run", "魔兽世界", "run\0"s},
        {"/g/_retail_/Tools/helper", "helper", "helper\0"s}, // inside a found version folder
    };
    for (size_t i = 0; i < processes.size(); ++i) {
        const Path folder = proc / std::to_string(100 + i);
        writeFile(folder / "comm", processes[i][1] + "\n");
        writeFile(folder / "cmdline", processes[i][2]);
        fs::create_symlink(processes[i][0], folder / "exe");
    }
    auto apps = runningApplications(proc);
    ASSERT_EQ(apps.size(), processes.size());
    const std::vector<GameClient> clients{GameClient(Path("/g/_retail_"))};
    std::set<std::string> games;
    for (const auto& app : apps) {
        if (countsAsGame(app, clients)) {
            games.insert(app.localizedName.value_or("?"));
        }
    }
    EXPECT_EQ(games, (std::set<std::string>{"Wow.exe", "WowClassic.exe", "World of Warcraft", "魔兽世界", "helper"}));
    EXPECT_EQ(failure([&] { requireGameNotRunning(apps, clients); }), "检测到魔兽世界仍在运行，请完全退出游戏。");
    std::erase_if(apps, [&](const RunningApplication& app) { return countsAsGame(app, clients); });
    EXPECT_EQ(failure([&] { requireGameNotRunning(apps, clients); }), "");
}
