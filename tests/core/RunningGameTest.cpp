#include <gtest/gtest.h>

#include <unistd.h>

#include "discovery/RunningGame.h"
#include "records/Errors.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;
using namespace std::string_literals;

namespace {
void fakeProcess(const Path& proc, const std::string& pid, const std::string& exe, const std::string& comm,
                 const std::string& cmdline) {
    makeDirs(proc / pid);
    if (!exe.empty()) {
        fs::create_symlink(exe, proc / pid / "exe");
    }
    writeFile(proc / pid / "comm", comm + "\n");
    writeFile(proc / pid / "cmdline", cmdline);
}

bool anyGame(const std::vector<RunningApplication>& apps, const std::vector<GameClient>& clients) {
    try {
        requireGameNotRunning(apps, clients);
    } catch (const ManagerError& error) {
        EXPECT_EQ(error.message(), "检测到魔兽世界仍在运行，请完全退出游戏。");
        return true;
    }
    return false;
}
} // namespace

TEST(RunningGame, FindsTheGameRunNativelyOrUnderWineAndNothingElse) {
    TempDir dir;
    Path proc = dir / "proc";
    makeDirs(proc / "self-not-a-pid");
    fakeProcess(proc, "100", "/usr/bin/bash", "bash", "bash\0-l\0"s);
    fakeProcess(proc, "101", "/usr/lib/firefox/firefox", "firefox", "firefox\0"s);
    auto harmless = runningApplications(proc);
    ASSERT_EQ(harmless.size(), 2u);
    EXPECT_FALSE(anyGame(harmless, {}));

    struct Case {
        const char* label;
        std::string exe, comm, cmdline;
    };
    std::vector<Case> games = {
        {"Windows client under Wine", "/usr/bin/wine64-preloader", "Wow.exe",
         "C:\\Program Files (x86)\\World of Warcraft\\_retail_\\Wow.exe\0"s},
        {"classic client under Wine", "/usr/lib/wine/wine64", "WowClassic.exe", "Z:\\games\\WowClassic.exe\0"s},
        {"named after the game", "/opt/launcher/run", "World of Warcraft", "run\0"s},
        {"Chinese name", "/opt/launcher/run", "魔兽世界", "run\0"s},
        {"inside a version folder", "/g/_retail_/Tools/helper", "helper", "helper\0"s},
    };
    for (const auto& game : games) {
        SCOPED_TRACE(game.label);
        TempDir single;
        fakeProcess(single / "proc", "200", game.exe, game.comm, game.cmdline);
        fakeProcess(single / "proc", "100", "/usr/bin/bash", "bash", "bash\0"s);
        EXPECT_TRUE(anyGame(runningApplications(single / "proc"), {GameClient(Path("/g/_retail_"))}));
    }
    // A version folder's name alone is not a game: only programs inside found folders count.
    EXPECT_FALSE(anyGame({RunningApplication{Path("/g/_retail_x"), Path("/g/_retail_x/tool"), "tool"}},
                         {GameClient(Path("/g/_retail_"))}));
}

TEST(RunningGame, ReadsTheRealProcessTable) {
    auto apps = runningApplications();
    char self[4096];
    ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(length, 0);
    std::string me(self, static_cast<size_t>(length));
    bool found = false;
    for (const auto& app : apps) {
        found = found || (app.executableURL && app.executableURL->native() == me);
    }
    EXPECT_TRUE(found);
}
