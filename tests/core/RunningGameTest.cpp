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
        // The Wine of each launcher: Lutris, Proton, Bottles (Flatpak), PlayOnLinux, a WoW64 Wine.
        {"/home/p/.local/share/lutris/runners/wine/wine-ge-8-26-x86_64/bin/wine64-preloader", "Wow.exe",
         "C:\\Program Files (x86)\\World of Warcraft\\_retail_\\Wow.exe\0"s},
        {"/home/p/.local/share/Steam/steamapps/common/Proton 9.0 (Beta)/files/bin/wine64-preloader", "WowB.exe",
         "C:\\Program Files (x86)\\World of Warcraft\\_beta_\\WowB.exe\0"s},
        {"/home/p/.var/app/com.usebottles.bottles/data/bottles/runners/soda-9.0-1/bin/wine64-preloader", "WowT.exe",
         "D:\\Games\\魔兽世界\\_ptr_\\WowT.exe\0"s},
        {"/home/p/.PlayOnLinux/wine/linux-amd64/8.0/bin/wine-preloader", "WowClassicT.exe",
         "C:\\Program Files\\World of Warcraft\\_classic_ptr_\\WowClassicT.exe\0"s},
        {"/usr/lib/wine/wine", "WowClassicB.exe", "C:\\WoW\\_classic_beta_\\WowClassicB.exe\0"s},
        // The launcher and its agent are not the game.
        {"/home/p/.local/share/lutris/runners/wine/wine-ge-8-26-x86_64/bin/wine64-preloader", "Battle.net.exe",
         "C:\\Program Files (x86)\\Battle.net\\Battle.net.exe\0"s},
        {"/usr/lib/wine/wine64-preloader", "Agent.exe", "C:\\ProgramData\\Battle.net\\Agent\\Agent.exe\0"s},
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
    std::multiset<std::string> games;
    for (const auto& app : apps) {
        if (countsAsGame(app, clients)) {
            games.insert(app.localizedName.value_or("?"));
        }
    }
    EXPECT_EQ(games,
              (std::multiset<std::string>{"Wow.exe", "Wow.exe", "WowClassic.exe", "World of Warcraft", "魔兽世界",
                                          "helper", "WowB.exe", "WowT.exe", "WowClassicT.exe", "WowClassicB.exe"}));
    EXPECT_EQ(failure([&] { requireGameNotRunning(apps, clients); }), "检测到魔兽世界仍在运行，请完全退出游戏。");
    std::erase_if(apps, [&](const RunningApplication& app) { return countsAsGame(app, clients); });
    EXPECT_EQ(failure([&] { requireGameNotRunning(apps, clients); }), "");
}
