// What olvex refuses and how it ends: wrong usage (status 2), the core's failures (status 1,
// its exact message), a running game, Ctrl-C before and after the commit point (status 130,
// folder unchanged), and the confirmation prompt on a terminal.

#include <csignal>
#include <unistd.h>

#include "CliRunner.h"

namespace olvex::test {
namespace {

const char* const kCancelled = "已取消，游戏文件保持操作前状态。\n";
const char* const kGameRunning = "检测到魔兽世界仍在运行，请完全退出游戏。\n";

// A fake proc file system holding one process: the game's Windows client under Wine, seen by
// the kernel as the Wine loader with the .exe named on its command line.
fs::path fakeWineProc(const fs::path& root) {
    const fs::path process = root / "4242";
    makeDirs(process);
    fs::create_symlink("/usr/bin/wine64-preloader", process / "exe");
    writeFile(process / "cmdline", std::string("C:\\Program Files\\World of Warcraft\\_retail_\\Wow.exe") + '\0');
    writeFile(process / "comm", "Wow.exe\n");
    makeDirs(root / "self");
    return root;
}

TEST_F(CliTest, WrongUsageExitsTwoAndChangesNothing) {
    const std::string dir = m_game.native();
    writeZip(m_temp / "p.zip", packEntries({"Alpha"}));
    const auto before = snapshotTree(m_game);
    const std::vector<std::vector<std::string>> cases{
        {},
        {"bogus"},
        {"addons"},
        {"addons", dir, "extra"},
        {"backups", dir, "--yes"},
        {"addons", dir, "--search"},
        {"status", dir, "--frobnicate"},
        {"retain", dir, "five"},
        {"restore", dir, ""},
        {"status", ""},
        // Standard input is a pipe here: no one could answer the confirmation.
        {"install", dir, (m_temp / "p.zip").native()},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        auto result = olvex(arguments);
        EXPECT_EQ(result.status, 2) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(result.err.empty());
    }
    EXPECT_EQ(snapshotTree(m_game), before);
    EXPECT_EQ(stagingLeft(), std::vector<std::string>{});

    // Help is not wrong usage.
    auto help = olvex({"help", "install"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("用法：olvex install 目录 ZIP [--yes]", 0), 0u) << help.out;
    EXPECT_NE(olvex({"--help"}).out.find("remove-retired"), std::string::npos);
}

TEST_F(CliTest, FailuresPrintTheCoresMessageAndExitOne) {
    const std::string dir = m_game.native();
    writeFile(m_temp / "Games/Other/_classic_/WTF/Config.wtf", "x");
    writeZip(m_temp / "p.zip", packEntries({"Alpha"}));
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> cases{
        {{"status", (m_temp / "Games").native()}, "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。"},
        {{"status", (m_temp / "nowhere/_retail_").native()},
         "找不到目录“" + (m_temp / "nowhere/_retail_").native() + "”。"},
        {{"restore", dir, "FFFF"}, "找不到编号以“FFFF”开头的备份。"},
        {{"retain", dir, "0"}, "至少保留一份备份。"},
        {{"backup-wtf", dir}, "未找到 WTF 配置 目录，无法备份。"},
    };
    const auto before = snapshotTree(m_addons);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        auto result = olvex(c.arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, c.message + "\n");
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(snapshotTree(m_addons), before);
    EXPECT_FALSE(fs::exists(m_game / "WTF"));

    // A version folder without the game program: the preview shows, the installation refuses.
    const fs::path bare = m_temp / "Bare/_retail_";
    makeDirs(bare / "Interface/AddOns");
    auto refused = olvex({"install", bare.native(), (m_temp / "p.zip").native(), "--yes"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err.substr(refused.err.rfind("正在校验\n") + std::string("正在校验\n").size()),
              "版本目录中未找到完整游戏应用（.app/Contents/MacOS）。请在战网中修复安装或重新选择目录。\n");
    EXPECT_EQ(snapshotTree(bare / "Interface"), (std::map<std::string, std::string>{{"AddOns", "<dir>"}}));
    EXPECT_EQ(stagingLeft(), std::vector<std::string>{});

    // Control: the folder with its game program installs.
    auto result = olvex({"install", dir, (m_temp / "p.zip").native(), "--yes"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(fs::exists(m_addons / "Alpha/Alpha.toc"));
}

TEST_F(CliTest, ChangingCommandsRefuseWhileTheGameRunsUnderWine) {
    const std::string dir = m_game.native();
    writeFile(m_game / "WTF/Config.wtf", "SET a 1\n");
    writeZip(m_temp / "p.zip", packEntries({"Alpha"}));
    auto made = olvex({"backup-wtf", dir, "--json"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string id = parse(made)["backup"]["id"];
    const fs::path package = m_temp / "wtf.olvexbackup";
    ASSERT_EQ(olvex({"export", dir, id, package.native()}).status, 0);

    const std::map<std::string, std::optional<std::string>> running{
        {"OLVEX_PROC_ROOT", fakeWineProc(m_temp / "proc").native()}};
    const auto before = snapshotTree(m_game);
    const std::vector<std::vector<std::string>> changing{
        {"install", dir, (m_temp / "p.zip").native(), "--yes"},
        {"remove-retired", dir, "pack.test", "Alpha"},
        {"backup-wtf", dir},
        {"restore", dir, id},
        {"import", dir, package.native()},
        {"recover", dir},
    };
    for (const auto& arguments : changing) {
        SCOPED_TRACE(arguments.front());
        auto result = olvex(arguments, running);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, kGameRunning);
    }
    EXPECT_EQ(snapshotTree(m_game), before);
    EXPECT_EQ(stagingLeft(), std::vector<std::string>{});

    // Reading, exporting and setting backups aside work while the game runs, as in the window.
    EXPECT_EQ(olvex({"backups", dir}, running).status, 0);
    EXPECT_EQ(olvex({"export", dir, id, (m_temp / "second").native()}, running).status, 0);
    EXPECT_EQ(olvex({"recycle", dir, id}, running).status, 0);
    EXPECT_EQ(olvex({"recover-recycled", dir}, running).status, 0);
    // Control: a proc file system without the game lets the same change through.
    makeDirs(m_temp / "quiet");
    auto quiet = olvex({"backup-wtf", dir}, {{"OLVEX_PROC_ROOT", (m_temp / "quiet").native()}});
    EXPECT_EQ(quiet.status, 0) << quiet.err;
}

// Sends Ctrl-C the moment standard error shows `stage`.
std::function<void(pid_t, const std::string&)> interruptAt(const std::string& stage, bool& sent) {
    return [&sent, stage](pid_t pid, const std::string& err) {
        if (!sent && err.find(stage) != std::string::npos) {
            sent = true;
            ::kill(pid, SIGINT);
        }
    };
}

TEST_F(CliTest, CtrlCBeforeTheCommitLeavesTheFolderAsItWas) {
    const std::string dir = m_game.native();
    writeFile(m_addons / "Mine/Mine.toc", "## Title: Mine\n");
    writeFile(m_game / "WTF/Config.wtf", "SET a 1\n");
    ASSERT_EQ(olvex({"backup-wtf", dir}).status, 0); // the manager folder exists from here on
    // 256 MiB of zeros: a small archive whose extraction takes long enough to be interrupted.
    auto entries = packEntries({"Huge"});
    entries.push_back(ZipEntry::file("Huge/data.bin", std::string(256u << 20, '\0')));
    writeZip(m_temp / "huge.zip", entries);
    entries.clear();
    const auto before = snapshotTree(m_game);

    bool sent = false;
    auto result = olvex({"install", dir, (m_temp / "huge.zip").native(), "--yes"}, {}, interruptAt("正在解压", sent));
    EXPECT_TRUE(sent);
    EXPECT_EQ(result.status, 130);
    EXPECT_EQ(result.err.substr(result.err.size() - std::string(kCancelled).size()), kCancelled) << result.err;
    EXPECT_EQ(result.err.find("正在提交"), std::string::npos) << result.err;
    EXPECT_EQ(snapshotTree(m_game), before);
    EXPECT_EQ(stagingLeft(), std::vector<std::string>{});
}

TEST_F(CliTest, CtrlCAfterTheCommitLetsTheInstallFinish) {
    const std::string dir = m_game.native();
    writeZip(m_temp / "p.zip", packEntries({"Alpha", "Beta"}));
    bool sent = false;
    auto result =
        olvex({"install", dir, (m_temp / "p.zip").native(), "--yes"}, {}, interruptAt("正在提交，请勿退出", sent));
    EXPECT_TRUE(sent);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.substr(result.out.rfind("已安装")),
              "已安装 2 个插件。同名插件已替换，其余插件和 WTF 配置已保留。\n");
    EXPECT_EQ(readFile(m_addons / "Beta/core.lua"), "-- Beta 1");
    EXPECT_EQ(stagingLeft(), std::vector<std::string>{});
}

TEST_F(CliTest, InstallAsksOnATerminal) {
    const std::string dir = m_game.native();
    writeZip(m_temp / "p.zip", packEntries({"Alpha"}));
    const std::string prompt = "输入 y 或 是 继续：";
    CliRun run{{"install", dir, (m_temp / "p.zip").native()}, environment(), "", {}};
    const auto before = snapshotTree(m_game);

    auto declined = runCliOnTerminal(run, prompt, "n\n");
    EXPECT_EQ(declined.status, 1) << declined.out;
    EXPECT_NE(declined.out.find("将安装 1 个插件：Alpha"), std::string::npos) << declined.out;
    EXPECT_NE(declined.out.find("已放弃安装，游戏文件未改动。"), std::string::npos) << declined.out;
    EXPECT_EQ(snapshotTree(m_game), before);
    EXPECT_EQ(stagingLeft(), std::vector<std::string>{});

    auto accepted = runCliOnTerminal(run, prompt, "是\n");
    EXPECT_EQ(accepted.status, 0) << accepted.out;
    EXPECT_TRUE(fs::exists(m_addons / "Alpha/Alpha.toc"));
    EXPECT_EQ(stagingLeft(), std::vector<std::string>{});
}

} // namespace
} // namespace olvex::test
