// The built olvex executable run as a script or a person would: exit statuses, --json output,
// messages on standard error, Ctrl-C, the confirmation on a terminal.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <pty.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

#include "base/Uuid.h"
#include "fs/ClientLock.h"
#include "support/TestSupport.h"
#include "support/ZipBuilder.h"

namespace olvex::test {
namespace {

using nlohmann::json;
using Words = std::vector<std::string>;

struct Result {
    int status = -1; // the exit status, or 128 + the signal that ended the process
    std::string out, err;
    bool acted = false; // Ctrl-C was sent, or the answer typed
};

// Zips add-on folders (a .toc and a core.lua each) with the manifest of the pack "pack.test".
std::string zip(const fs::path& path, const Words& names) {
    std::vector<ZipEntry> entries{ZipEntry::file(
        ".olvex-pack.json",
        R"({"identifier":"pack.test","name":"测试整合包","version":"1","gameFlavor":"_retail_","source":"本地"})")};
    for (const auto& name : names) {
        entries.push_back(ZipEntry::file(name + "/" + name + ".toc", "## Title: " + name + "\n## Author: 测试\n"));
        entries.push_back(ZipEntry::file(name + "/core.lua", "-- " + name));
    }
    writeZip(path, entries);
    return path.native();
}

json parse(const Result& result) {
    return json::parse(result.out); // throws, failing the test, when the output is no JSON
}

// A game (Wow.exe, as under Wine) in a temporary folder, the only default root; a private TMPDIR.
class Olvex : public ::testing::Test {
protected:
    Olvex() {
        makeDirs(m_addons);
        makeDirs(m_tmp);
        writeFile(m_game / "Wow.exe", "MZ");
    }

    // Once the output shows `when`, Ctrl-C is sent or `answer` typed on the pseudo-terminal that
    // then holds all streams (else stdin is /dev/null, stdout a file, stderr a pipe read as it comes).
    Result olvex(Words arguments, const std::string& procRoot = "", const std::string& when = "",
                 const std::string& answer = "") {
        const bool terminal = !answer.empty();
        const std::string outPath = (m_temp / "stdout").native();
        int ends[2] = {-1, -1};
        EXPECT_EQ(terminal ? 0 : ::pipe(ends), 0);
        int reading = ends[0];
        const pid_t pid = terminal ? ::forkpty(&reading, nullptr, nullptr, nullptr) : ::fork();
        if (pid == 0) {
            if (!terminal) {
                ::dup2(::open("/dev/null", O_RDONLY), 0);
                ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
                ::dup2(ends[1], 2);
            }
            ::setenv("TMPDIR", m_tmp.c_str(), 1);
            ::setenv("OLVEX_DEFAULT_ROOTS", (m_temp / "Games").c_str(), 1);
            procRoot.empty() ? ::unsetenv("OLVEX_PROC_ROOT") : ::setenv("OLVEX_PROC_ROOT", procRoot.c_str(), 1);
            for (const auto& [name, value] : m_variables) {
                value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
            }
            arguments.insert(arguments.begin(), OLVEX_EXECUTABLE);
            std::vector<char*> argv(arguments.size() + 1, nullptr);
            std::transform(arguments.begin(), arguments.end(), argv.begin(), [](auto& word) { return word.data(); });
            ::execv(OLVEX_EXECUTABLE, argv.data());
            ::_exit(127);
        }
        ::close(ends[1]);
        Result result;
        std::string& shown = terminal ? result.out : result.err;
        char buffer[65536];
        // Until the end of the stream (a terminal reports EIO once the child closed its side).
        for (ssize_t n; (n = ::read(reading, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);) {
            shown.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
            if (!result.acted && !when.empty() && shown.find(when) != std::string::npos) {
                result.acted = terminal ? ::write(reading, answer.data(), answer.size()) > 0 : ::kill(pid, SIGINT) == 0;
            }
        }
        ::close(reading);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out += terminal ? "" : readFile(outPath);
        return result;
    }

    TempDir m_temp;
    // Set (or, without a value, unset) in the environment of the runs after the defaults above.
    std::vector<std::pair<std::string, std::optional<std::string>>> m_variables;
    const fs::path m_game = m_temp / "Games/World of Warcraft/_retail_";
    const fs::path m_addons = m_game / "Interface/AddOns";
    const fs::path m_tmp = m_temp / "tmp"; // preview staging folders must never stay here
    const std::string m_dir = m_game.native();
};

// The JSON answers and what the command line does itself (missing roots named, add-on search,
// backup id prefixes, the ids moved); what the service does to the folder is the core's business.
TEST_F(Olvex, ScriptedRoundPrintsJsonAndReachesTheService) {
    const std::string missing = (m_temp / "offline").native();
    EXPECT_EQ(
        parse(olvex({"scan", missing, "--json"})),
        json::parse(
            R"({"clients":[{"path":")" + m_dir +
            R"(","folderName":"_retail_","title":"正式服","source":{"kind":"picked","name":"","text":"手动选择"}}],)" +
            R"("missingRoots":[")" + missing +
            R"("],"inaccessibleRoots":[],"unreadableFiles":[],"reachedLimit":false})"));
    EXPECT_EQ(olvex({"scan", "--no-default-roots", missing}).out,
              "未扫描到游戏。请指定 World of Warcraft 或版本文件夹所在的目录。\n有 1 个指定位置不存在或磁盘离线：\n  " +
                  missing + "\n");

    writeFile(m_addons / "Mine/Mine.toc", "## Title: 我的插件\n## Author: 玩家\n");
    writeFile(m_game / "WTF/Config.wtf", "SET a 1\n");
    writeFile(m_game / "WTF/Account/ACC/Realm/Hero/layout.txt", "hero");
    auto result = olvex({"install", m_dir, zip(m_temp / "p.zip", {"Alpha", "Gamma"}), "--yes", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    json answer = parse(result);
    EXPECT_EQ(answer["message"], "已安装 2 个插件。同名插件已替换，其余插件和 WTF 配置已保留。");
    EXPECT_EQ(answer["preview"]["addons"], json::array({"Alpha", "Gamma"}));
    EXPECT_EQ(parse(olvex({"addons", m_dir, "--search", "GAM", "--json"}))[0]["folder"], "Gamma");
    EXPECT_EQ(parse(olvex({"addons", m_dir, "--search=玩家", "--json"})),
              json::parse(R"([{"folder":"Mine","path":")" + (m_addons / "Mine").native() +
                          R"(","title":"我的插件","version":"未声明","author":"玩家","dependencies":"无",)"
                          R"("interface":"未声明"}])"));

    json backup = parse(olvex({"backup-wtf", m_dir, "--json"}))["backup"];
    const std::string id = backup["id"];
    EXPECT_EQ(backup["kind"], "wtf");
    EXPECT_TRUE(std::regex_match(backup["date"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    writeFile(m_game / "WTF/Config.wtf", "SET a 2\n"); // outside the scope: kept
    std::string prefix = id.substr(0, 8);
    std::transform(prefix.begin(), prefix.end(), prefix.begin(), ::tolower);
    result = olvex({"restore", m_dir, prefix, "--scope", "Account/ACC/Realm/Hero"});
    EXPECT_EQ(result.out, "已恢复WTF 配置，恢复前的状态也已自动备份。\n") << result.err;
    EXPECT_EQ(readFile(m_game / "WTF/Config.wtf"), "SET a 2\n");

    // One backup of the add-ons, two of WTF: keeping one of each sets the manual backup aside.
    EXPECT_EQ(parse(olvex({"retain", m_dir, "1", "--json"}))["recycled"], json::array({id}));
    EXPECT_EQ(parse(olvex({"recover-recycled", m_dir, "--json"}))["recovered"], json::array({id}));
    EXPECT_GT(parse(olvex({"backups", m_dir, "--json"}))[0]["bytes"].get<std::int64_t>(), 0);
    EXPECT_EQ(
        parse(olvex({"status", m_dir, "--json"})),
        json::parse(R"({"client":{"path":")" + m_dir +
                    R"(","folderName":"_retail_","title":"正式服"},)"
                    R"("operationRunning":false,"pendingRecovery":false,"recoveryProblem":null,"addons":3,"packs":1,)"
                    R"("backups":3,"retiredAddons":0,"leftovers":0,"damagedBackups":[]})"));
    EXPECT_TRUE(fs::is_empty(m_tmp));
}

// With no roots and no replacement of the default places, the scan looks where the launchers of
// the user (HOME) keep the game, and says for each version folder how it was found.
TEST_F(Olvex, ScanFindsTheGameWhereTheUsersLaunchersKeepIt) {
    const fs::path home = m_temp / "home", media = m_temp / "media";
    writeFile(home / ".config/lutris/games/world-of-warcraft-1.yml",
              "game:\n  prefix: ~/Games/world-of-warcraft\ngame_slug: world-of-warcraft\n");
    writeFile(home / ".local/share/Steam/steamapps/libraryfolders.vdf", "\"libraryfolders\" { \"1\" \"/nowhere\" {");
    const std::map<fs::path, std::pair<std::string, std::string>> expected{
        {home / "Games/world-of-warcraft/drive_c/Program Files (x86)/World of Warcraft/_retail_",
         {"正式服", "Lutris：world-of-warcraft"}},
        {home / ".local/share/bottles/bottles/Battle.net/drive_c/Program Files (x86)/World of Warcraft/_classic_",
         {"进度怀旧服", "Bottles：Battle.net"}},
        {home / ".wine/drive_c/魔兽世界/_classic_era_", {"经典旧世 / 专家 / 赛季服", "Wine"}},
        {media / "Windows/Program Files/World of Warcraft/_ptr_",
         {"正式服测试服", "已挂载的磁盘：" + (media / "Windows").native()}},
    };
    for (const auto& [folder, shown] : expected) {
        makeDirs(folder);
    }
    m_variables = {
        {"HOME", home.native()},           {"OLVEX_DEFAULT_ROOTS", std::nullopt}, {"OLVEX_MOUNT_ROOTS", media.native()},
        {"XDG_CONFIG_HOME", std::nullopt}, {"XDG_DATA_HOME", std::nullopt},       {"WINEPREFIX", std::nullopt}};
    std::string text = "找到 4 个版本目录：\n";
    json clients = json::array();
    for (const auto& [folder, shown] : expected) {
        text += "  " + folder.native() + "  " + shown.first + "（" + shown.second + "）\n";
        clients.push_back(folder.native() + " " + shown.second);
    }
    const std::string vdf = (home / ".local/share/Steam/steamapps/libraryfolders.vdf").native();
    EXPECT_EQ(olvex({"scan"}).out, text + "有 1 个启动器记录已损坏或无法读取，未检查：\n  " + vdf + "\n");
    json answer = parse(olvex({"scan", "--json"}));
    json found = json::array();
    for (const auto& client : answer["clients"]) {
        found.push_back(client["path"].get<std::string>() + " " + client["source"]["text"].get<std::string>());
    }
    EXPECT_EQ(found, clients);
    EXPECT_EQ(answer["clients"][1]["source"], json::parse(R"({"kind":"wine","name":"","text":"Wine"})"));
    EXPECT_EQ(answer["unreadableFiles"], json::array({vdf}));
}

TEST_F(Olvex, WrongUsageExitsTwoFailuresAndARunningGameExitOneWithTheMessageOnStandardError) {
    writeFile(m_game / "WTF/Config.wtf", "SET a 1\n");
    const std::string id = parse(olvex({"backup-wtf", m_dir, "--json"}))["backup"]["id"];
    // The game's Windows client under Wine: the kernel sees the loader, the .exe is on its command line.
    const std::string proc = (m_temp / "proc").native();
    writeFile(proc + "/4242/cmdline", std::string("C:\\Program Files\\World of Warcraft\\_retail_\\Wow.exe") + '\0');
    writeFile(proc + "/4242/comm", "Wow.exe\n");
    fs::create_symlink("/usr/bin/wine64-preloader", proc + "/4242/exe");
    const std::string running = "检测到魔兽世界仍在运行，请完全退出游戏。";
    const std::string nowhere = (m_temp / "nowhere/_retail_").native();
    const std::vector<std::tuple<Words, int, std::string>> cases{
        {{"bogus"}, 2, "未知命令：bogus"},
        {{"help", "nosuch"}, 2, "未知命令：nosuch"},
        {{"addons"}, 2, "参数不足。用法：olvex addons 目录 [--search 文字]"},
        {{"addons", m_dir, "extra"}, 2, "参数过多。用法：olvex addons 目录 [--search 文字]"},
        {{"backups", m_dir, "--yes"}, 2, "命令 backups 不接受选项 --yes。"},
        {{"addons", m_dir, "--search"}, 2, "选项 --search 需要一个值。"},
        {{"status", m_dir, "--frobnicate"}, 2, "未知选项：--frobnicate"},
        {{"retain", m_dir, "five"}, 2, "份数必须是整数：five"},
        {{"restore", m_dir, ""}, 2, "备份编号不能为空。"},
        {{"status", ""}, 2, "路径参数不能为空。"},
        // Standard input is no terminal here: no one could confirm.
        {{"install", m_dir, "/p.zip"}, 2, "标准输入不是终端，无法确认安装；核对预览后请加 --yes。"},
        {{"recover", m_dir, "--set-aside-journal"},
         2,
         "标准输入不是终端，无法确认移开恢复日志；核对插件和 WTF 目录后请加 --yes。"},
        {{"status", nowhere}, 1, "找不到目录“" + nowhere + "”。"},
        {{"restore", m_dir, "FFFF"}, 1, "找不到编号以“FFFF”开头的备份。"},
        {{"install", m_dir, "/p.zip", "--yes"}, 1, running},
        {{"remove-retired", m_dir, "pack.test", "Alpha"}, 1, running},
        {{"backup-wtf", m_dir}, 1, running},
        {{"restore", m_dir, id}, 1, running},
        {{"import", m_dir, "/wtf.olvexbackup"}, 1, running},
        {{"recover", m_dir}, 1, running},
        {{"repair", m_dir}, 2, "请指定要修复的文件（见 health），或使用 --all。"},
        {{"repair", m_dir, "--all"}, 2, "标准输入不是终端，无法确认修复；核对 health 的结果后请加 --yes。"},
        {{"repair", m_dir, "--all", "--yes"}, 1, running},
        {{"restore", m_dir, id, "--addon", "Alpha"}, 1, running}};
    const auto before = snapshotTree(m_game);
    for (const auto& [arguments, status, message] : cases) {
        SCOPED_TRACE(message);
        auto result = olvex(arguments, message == running ? proc : "");
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, status == 2 ? "用法错误：" + message + "\n运行“olvex help”查看用法。\n" : message + "\n");
    }
    EXPECT_EQ(snapshotTree(m_game), before);
    EXPECT_TRUE(fs::is_empty(m_tmp));
    // Reading, exporting and setting backups aside work while the game runs, as in the window.
    for (const auto& arguments : std::vector<Words>{
             {"backups", m_dir}, {"export", m_dir, id, (m_temp / "x").native()}, {"recycle", m_dir, id}}) {
        EXPECT_EQ(olvex(arguments, proc).status, 0) << arguments.front();
    }
}

// Ctrl-C cancels until the commit point (status 130, folder unchanged), not after it.
TEST_F(Olvex, HealthRepairAndAddonRestore) {
    const std::string account = "WTF/Account/ACC/SavedVariables/";
    const std::string hero = "WTF/Account/ACC/Realm/Hero/SavedVariables/";
    writeFile(m_game / (account + "Alpha.lua"), "Alpha = { 1 }\n");
    writeFile(m_game / (hero + "Beta.lua"), "Beta = 'ok'\n");
    const std::string id = parse(olvex({"backup-wtf", m_dir, "--json"}))["backup"]["id"];
    const std::string date = parse(olvex({"backups", m_dir, "--json"}))[0]["date"];
    const std::string localDate = olvex({"backups", m_dir}).out.substr(38, 19); // after the id
    writeFile(m_game / (account + "Alpha.lua"), "Alpha = {\n 1,");
    writeFile(m_game / (hero + "Beta.lua"), "");
    writeFile(m_game / (hero + "Gamma.lua"), "Gamma = 1 +");

    auto health = olvex({"health", m_dir, "--json"});
    ASSERT_EQ(health.status, 0) << health.err;
    EXPECT_EQ(parse(health), json::parse(R"({"checkedFiles":3,"damaged":[)"
                                         R"({"path":")" +
                                         account +
                                         R"(Alpha.lua","addon":"Alpha","state":"truncated",)"
                                         R"("line":2,"source":")" +
                                         id + R"(","sourceDate":")" + date +
                                         R"("},)"
                                         R"({"path":")" +
                                         hero +
                                         R"(Beta.lua","addon":"Beta","state":"empty",)"
                                         R"("line":null,"source":")" +
                                         id + R"(","sourceDate":")" + date +
                                         R"("},)"
                                         R"({"path":")" +
                                         hero +
                                         R"(Gamma.lua","addon":"Gamma","state":"malformed",)"
                                         R"("line":1,"source":null,"sourceDate":null}]})"));

    auto repaired = olvex({"repair", m_dir, hero + "Beta.lua", "--yes"});
    EXPECT_EQ(repaired.out, hero + "Beta.lua  ← 备份 " + id.substr(0, 8) + "（" + localDate +
                                "）\n已修复 1 个插件配置文件（修复前的 WTF 已自动备份）。\n")
        << repaired.err;
    EXPECT_EQ(readFile(m_game / (hero + "Beta.lua")), "Beta = 'ok'\n");
    EXPECT_EQ(readFile(m_game / (account + "Alpha.lua")), "Alpha = {\n 1,");

    // The add-on's settings alone come back from the backup; the rest stays as it is.
    writeFile(m_game / (hero + "Beta.lua"), "Beta = 'changed'\n");
    const auto before = snapshotTree(m_game / "WTF");
    auto restored = olvex({"restore", m_dir, id, "--addon", "Alpha", "--json"});
    EXPECT_EQ(parse(restored)["message"], "已恢复插件“Alpha”的配置，其余文件未改动（恢复前的 WTF 已自动备份）。");
    auto expected = before;
    expected["Account/ACC/SavedVariables/Alpha.lua"] = "Alpha = { 1 }\n";
    EXPECT_EQ(snapshotTree(m_game / "WTF"), expected);
    EXPECT_EQ(olvex({"health", m_dir}).out,
              hero + "Gamma.lua  格式错误（第 1 行）  角色 ACC / Realm / Hero  修复来源：无完好副本\n"
                     "1 个插件配置文件已损坏（共 3 个）\n");
}

TEST_F(Olvex, CtrlCCancelsBeforeTheCommitAndNotAfterIt) {
    writeFile(m_game / "WTF/Config.wtf", "SET a 1\n");
    ASSERT_EQ(olvex({"backup-wtf", m_dir}).status, 0); // the manager folder exists from here on
    // 256 MiB of zeros: a small archive whose extraction takes long enough to be interrupted.
    writeZip(m_temp / "huge.zip", {ZipEntry::file("Huge/Huge.toc", "## Title: Huge\n"),
                                   ZipEntry::file("Huge/data.bin", std::string(256u << 20, '\0'))});
    const auto before = snapshotTree(m_game);
    auto result = olvex({"install", m_dir, (m_temp / "huge.zip").native(), "--yes"}, "", "正在解压");
    EXPECT_TRUE(result.acted);
    EXPECT_EQ(result.status, 130);
    EXPECT_TRUE(result.err.ends_with("已取消，游戏文件保持操作前状态。\n")) << result.err;
    EXPECT_EQ(result.err.find("正在提交"), std::string::npos) << result.err;
    EXPECT_EQ(snapshotTree(m_game), before);
    EXPECT_TRUE(fs::is_empty(m_tmp));

    result = olvex({"install", m_dir, zip(m_temp / "p.zip", {"Alpha", "Beta"}), "--yes"}, "", "正在提交，请勿退出");
    EXPECT_TRUE(result.acted);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.ends_with("已安装 2 个插件。同名插件已替换，其余插件和 WTF 配置已保留。\n")) << result.out;
    EXPECT_EQ(readFile(m_addons / "Beta/core.lua"), "-- Beta");
    EXPECT_TRUE(fs::is_empty(m_tmp));
}

TEST_F(Olvex, InstallAsksOnATerminal) {
    const Words install{"install", m_dir, zip(m_temp / "p.zip", {"Alpha"})};
    const std::string prompt = "输入 y 或 是 继续：";
    const auto before = snapshotTree(m_game);
    auto declined = olvex(install, "", prompt, "n\n");
    EXPECT_EQ(declined.status, 1) << declined.out;
    EXPECT_NE(declined.out.find("将安装 1 个插件：Alpha"), std::string::npos) << declined.out;
    EXPECT_NE(declined.out.find("已放弃安装，游戏文件未改动。"), std::string::npos) << declined.out;
    EXPECT_EQ(snapshotTree(m_game), before);
    EXPECT_TRUE(fs::is_empty(m_tmp));

    auto accepted = olvex(install, "", prompt, "是\n");
    EXPECT_EQ(accepted.status, 0) << accepted.out;
    EXPECT_TRUE(fs::exists(m_addons / "Alpha/Alpha.toc"));
}

// Names and titles from a pack, a .toc or a folder never reach the terminal raw: escape
// sequences and line breaks in them are shown escaped, in listings, the preview and messages.
TEST_F(Olvex, TextFromPacksIsPrintedWithItsControlCharactersEscaped) {
    writeFile(m_addons / "Evil\x1b[2J/Evil\x1b[2J.toc", "## Title: T\x1b[31m\n## Author: A\x07\n");
    const std::string manifest = R"({"identifier":"pack.evil","name":"坏\u001b[2J包\n假行","version":"1\r",)"
                                 R"("gameFlavor":"_retail_","source":""})";
    writeZip(m_temp / "evil.zip",
             {ZipEntry::file(".olvex-pack.json", manifest), ZipEntry::file("Alpha/Alpha.toc", "## Title: Alpha\n")});
    writeZip(m_temp / "plain.zip", {ZipEntry::file("Alpha/Alpha.toc", "## Title: Alpha\n")});
    const std::string name = "坏\\u001b[2J包\\n假行";
    auto result = olvex({"preview", m_dir, (m_temp / "evil.zip").native()});
    EXPECT_EQ(result.out, "整合包：evil.zip\n版本目录：" + m_dir + "\n整合包信息：" + name +
                              " 1\\r（pack.evil）\n将安装 1 个插件：Alpha\n这只是预览，未做任何改动。\n");
    ASSERT_EQ(olvex({"install", m_dir, (m_temp / "evil.zip").native(), "--yes"}).status, 0);
    result = olvex({"packs", m_dir});
    EXPECT_TRUE(result.out.starts_with(name + " 1\\r（pack.evil）  安装于 ")) << result.out;
    result = olvex({"addons", m_dir, "--search", "Evil"});
    EXPECT_EQ(result.out, "T\\u001b[31m（Evil\\u001b[2J）  版本 未声明  作者 A\\u0007\n共 1 个插件。\n");
    result = olvex({"install", m_dir, (m_temp / "plain.zip").native(), "--yes"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.ends_with("\nAlpha 由整合包「" + name +
                                     "」管理，无法用其他包覆盖。请使用相同标识的整合包升级，或先恢复安装前快照。\n"))
        << result.err;
}

// recover always takes the lease and sweeps; a damaged journal is named with the way out, which
// sets it aside after confirmation; status shows the pending recovery first.
TEST_F(Olvex, RecoverSweepsAndADamagedJournalHasAConfirmedWayOut) {
    writeFile(m_game / "WTF/Config.wtf", "SET a 1\n");
    ASSERT_EQ(olvex({"backup-wtf", m_dir}).status, 0);
    const fs::path manager = m_game / ".olvex-manager", journal = manager / "active.json";
    const fs::path work = manager / ("work-" + Uuid::random().text());
    writeFile(work / "next/x", "left by a crash");
    {
        ClientLock held(manager);
        auto refused = olvex({"recover", m_dir});
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, "另一个管理器正在操作此游戏目录，请稍后再试。\n");
    }
    auto result = olvex({"recover", m_dir});
    EXPECT_EQ(result.out, "没有被中断的操作，无需恢复。\n") << result.err;
    EXPECT_FALSE(fs::exists(work));

    writeFile(journal, std::string(16, '\0'));
    EXPECT_TRUE(
        olvex({"status", m_dir}).out.starts_with("中断的操作：有，但无法自动恢复：恢复日志“" + journal.native()));
    result = olvex({"recover", m_dir});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "恢复日志“" + journal.native() +
                  "”已损坏：不是有效的 JSON（第 1 行第 1 "
                  "列，应为'['、'{'或值）。无法据此自动恢复，游戏文件未被改动，备份都还在。请核对插件和 WTF "
                  "目录（需要时从备份恢复），然后把这个文件移到一旁再继续；请勿删除 .olvex-manager。\n核对后"
                  "可运行“olvex recover 目录 --set-aside-journal”把它改名移到一旁（不会删除）。\n");
    result = olvex({"recover", m_dir, "--set-aside-journal", "--yes"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(fs::exists(journal));
    std::vector<fs::path> aside;
    std::copy_if(fs::directory_iterator(manager), {}, std::back_inserter(aside),
                 [](const fs::path& path) { return path.filename().native().starts_with("active.json.damaged-"); });
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readFile(aside[0]), std::string(16, '\0'));
    EXPECT_TRUE(result.out.starts_with("已把恢复日志移到“" + aside[0].native() + "”。它无法执行的原因：恢复日志“"))
        << result.out;
    EXPECT_TRUE(result.out.ends_with("\n请核对插件和 WTF 目录，需要时从备份恢复。\n")) << result.out;
    EXPECT_TRUE(olvex({"status", m_dir}).out.starts_with("中断的操作：无\n"));
    EXPECT_NE(olvex({"help", "recover"}).out.find("--set-aside-journal"), std::string::npos);
}

// A journal without "backup" once made recover delete the target: what recovery cannot prove it
// made is kept as a backup. A journal whose backup is gone is named by status with what to do,
// and the way out takes it.
TEST_F(Olvex, RecoveryKeepsWhatItCannotProveItMadeAndEveryStuckJournalHasAWayOut) {
    writeFile(m_game / "WTF/Config.wtf", "SET mine 1\n");
    const fs::path manager = m_game / ".olvex-manager", journal = manager / "active.json";
    writeFile(journal, R"({"kind":"wtf","work":")" + Uuid::random().text() + "\"}");
    auto result = olvex({"recover", m_dir});
    EXPECT_EQ(result.out, "已恢复中断操作之前的状态。\n") << result.err;
    const json backups = parse(olvex({"backups", m_dir, "--json"}));
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0]["reason"], "回滚时移出的WTF 配置（无法确认由被中断的操作写入，已保留）");
    EXPECT_EQ(readFile(manager / "backups" / backups[0]["id"].get<std::string>() / "payload/Config.wtf"),
              "SET mine 1\n");

    const std::string missing = Uuid::random().text();
    writeFile(journal, R"({"kind":"addons","backup":")" + missing + "\"}");
    const std::string problem =
        "无法读取“" + (manager / "backups" / missing / "metadata.json").native() + "”：文件或目录不存在。";
    EXPECT_TRUE(olvex({"status", m_dir}).out.starts_with("中断的操作：有，但无法自动恢复：" + problem))
        << olvex({"status", m_dir}).out;
    result = olvex({"recover", m_dir});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.starts_with(problem)) << result.err;
    EXPECT_TRUE(result.err.ends_with("可运行“olvex recover 目录 --set-aside-journal”把它改名移到一旁（不会删除）。\n"))
        << result.err;
    result = olvex({"recover", m_dir, "--set-aside-journal", "--yes"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("它无法执行的原因：" + problem), std::string::npos) << result.out;
    EXPECT_FALSE(fs::exists(journal));
}

// status while another process works on the folder says so and calls none of its folders left
// over; a backup whose record is damaged is named with its folder; the lease file must be a file.
TEST_F(Olvex, StatusNamesARunningOperationDamagedRecordsAndARefusedLeaseFile) {
    writeFile(m_game / "WTF/Config.wtf", "SET a 1\n");
    ASSERT_EQ(olvex({"backup-wtf", m_dir}).status, 0);
    const fs::path manager = m_game / ".olvex-manager";
    const fs::path work = manager / ("work-" + Uuid::random().text());
    writeFile(work / "next/x", "the running operation's");
    const fs::path damaged = manager / "backups" / Uuid::random().text();
    writeFile(damaged / "metadata.json", "{");
    writeFile(damaged / "payload/Config.wtf", "SET old 1\n");
    {
        ClientLock held(manager);
        const auto result = olvex({"status", m_dir});
        EXPECT_TRUE(result.out.starts_with("中断的操作：另一个管理器正在操作此游戏目录，操作结束后再查看。\n"))
            << result.out;
        EXPECT_EQ(result.out.find("未能删除"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("备份记录已损坏（未列出，文件夹保留）：" + damaged.native() + "：备份记录“"),
                  std::string::npos)
            << result.out;
        const json answer = parse(olvex({"status", m_dir, "--json"}));
        EXPECT_EQ(answer["operationRunning"], true);
        EXPECT_EQ(answer["leftovers"], 0);
        EXPECT_EQ(answer["damagedBackups"][0]["path"], damaged.native());
    }
    EXPECT_NE(olvex({"status", m_dir}).out.find("未能删除的临时文件（下次操作时会再试）：" + work.native()),
              std::string::npos);
    fs::remove(manager / "operation.lock");
    ASSERT_EQ(::mkfifo((manager / "operation.lock").c_str(), 0600), 0);
    const auto refused = olvex({"recover", m_dir});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "拒绝链接或特殊文件：" + (manager / "operation.lock").native() + "\n");
    EXPECT_TRUE(fs::exists(work));
}

// The old files an installation could not delete are named after the result; "正在校验" shows
// once; Ctrl-C while olvex waits for the background deletion ends the wait at once, saying so.
TEST_F(Olvex, InstallSaysWhatItCouldNotDeleteAndCtrlCEndsTheWaitForTheDeletion) {
    writeFile(m_addons / "Alpha/old.lua", "old");
    if (std::system(("chattr +i '" + (m_addons / "Alpha/old.lua").native() + "' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "this file system (or this user) cannot make a file undeletable";
    }
    auto result = olvex({"install", m_dir, zip(m_temp / "p.zip", {"Alpha"}), "--yes"});
    std::vector<fs::path> trash;
    std::copy_if(fs::directory_iterator(m_game / ".olvex-manager"), {}, std::back_inserter(trash),
                 [](const fs::path& path) { return path.filename().native().starts_with("trash-"); });
    for (const auto& folder : trash) {
        std::system(("chattr -R -i '" + folder.native() + "'").c_str());
    }
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.ends_with("\n已安装 1 个插件。同名插件已替换，其余插件和 WTF 配置已保留。\n")) << result.out;
    ASSERT_EQ(trash.size(), 1u);
    EXPECT_TRUE(result.err.ends_with("被替换的旧文件未能全部删除，仍占用磁盘空间（之后的操作会再试）：\n  " +
                                     trash[0].native() + "\n"))
        << result.err;
    size_t validating = 0;
    for (size_t at = 0; (at = result.err.find("正在校验", at)) != std::string::npos; ++at) {
        ++validating;
    }
    EXPECT_EQ(validating, 1u) << result.err;

    for (int i = 0; i < 15'000; ++i) {
        writeFile(m_addons / "Alpha/many" / std::to_string(i), "");
    }
    result = olvex({"install", m_dir, zip(m_temp / "p.zip", {"Alpha"}), "--yes"}, "", "正在后台删除旧文件");
    EXPECT_EQ(result.status, 0);
    if (!result.acted) {
        // A fast disk can finish the deletion before olvex starts to wait: nothing to interrupt.
        EXPECT_EQ(result.err.find("已停止等待"), std::string::npos) << result.err;
        GTEST_SKIP() << "the background deletion ended before olvex waited for it";
    }
    EXPECT_TRUE(result.err.ends_with("已停止等待后台删除；未删完的旧文件会在之后的操作中删除。\n")) << result.err;
}

// cleanup says what it removed and what it could not, in that order, and names the folder whose
// lease file is a pipe; a link inside a stale folder is removed, never followed.
TEST_F(Olvex, CleanupSaysWhatItRemovedAndWhatItCouldNot) {
    const auto staging = [&] { return m_tmp / ("Olvex-" + Uuid::random().text()); };
    const fs::path linked = staging(), piped = staging();
    writeFile(linked / ".lease/operation.lock", "");
    writeFile(linked / "Alpha/Alpha.toc", std::string(10, 'x'));
    writeFile(m_temp / "outside/keep.txt", "kept");
    fs::create_directory_symlink(m_temp / "outside", linked / "Alpha/link");
    makeDirs(piped / ".lease");
    ASSERT_EQ(::mkfifo((piped / ".lease/operation.lock").c_str(), 0600), 0);
    for (const auto& folder : {linked, piped}) {
        fs::last_write_time(folder, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    }
    const std::string skipped = "有 1 个临时文件夹无法清理，已跳过：\n  " + piped.native() + "：拒绝链接或特殊文件：" +
                                (piped / ".lease/operation.lock").native() + "\n";
    auto result = olvex({"cleanup"});
    EXPECT_EQ(result.out, "已清理 1 个遗留的临时文件夹，释放 10 字节。" + skipped) << result.err;
    EXPECT_FALSE(fs::exists(linked));
    EXPECT_EQ(readFile(m_temp / "outside/keep.txt"), "kept");
    EXPECT_EQ(olvex({"cleanup"}).out, "未清理任何临时文件夹。" + skipped);
}

// A ZIP named by a link is read; a folder named as the ZIP is told so; the version folder's lease
// is asked before anything is unpacked; --json escapes DEL and the C1 controls as text output does.
TEST_F(Olvex, TheZipPathTheLeaseFirstAndJsonEscapes) {
    zip(m_temp / "real.zip", {"Alpha"});
    fs::create_symlink(m_temp / "real.zip", m_temp / "link.zip");
    makeDirs(m_temp / "folder.zip");
    EXPECT_EQ(olvex({"preview", m_dir, (m_temp / "link.zip").native()}).status, 0);
    auto result = olvex({"preview", m_dir, (m_temp / "folder.zip").native()});
    EXPECT_TRUE(result.err.ends_with("“folder.zip”是文件夹，不是 ZIP 文件，请选择 ZIP 文件本身。\n")) << result.err;
    {
        ClientLock held(m_game / ".olvex-manager");
        result = olvex({"install", m_dir, (m_temp / "real.zip").native(), "--yes"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "另一个管理器正在操作此游戏目录，请稍后再试。\n");
    }
    EXPECT_TRUE(fs::is_empty(m_tmp));
    writeFile(m_addons / "Odd/Odd.toc", "## Title: A\xc2\x9b"
                                        "2J\x7f"
                                        "B\n");
    result = olvex({"addons", m_dir, "--json"});
    EXPECT_NE(result.out.find(R"("title": "A\u009b2J\u007fB")"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find('\x7f'), std::string::npos);
}

} // namespace
} // namespace olvex::test
