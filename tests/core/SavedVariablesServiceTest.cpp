// The service's add-on settings requests: the health of a version folder with each damaged
// file's repair source, repairs from the game's .bak and from a backup, and the restore of one
// add-on's settings, each compared on the whole tree.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "base/Errors.h"
#include "fs/FileSafety.h"
#include "service/ManagerService.h"
#include "support/GameFixture.h"

using namespace olvex;
using namespace olvex::test;

namespace {

using Tree = std::map<std::string, std::string>;

const std::string kAccount = "WTF/Account/ACCT/SavedVariables/";
const std::string kHero = "WTF/Account/ACCT/艾露恩/Hero/SavedVariables/";

Date modified(const Path& file) {
    struct ::stat status {};
    EXPECT_EQ(::stat(file.c_str(), &status), 0);
    return FileSafety::modificationDate(status);
}

// A WTF folder with healthy files at both levels, and files that are not saved variables.
void fillSettings(const GameFixture& game) {
    writeFile(game.root() / (kAccount + "Alpha.lua"), "Alpha = { [\"x\"] = 1 }\n");
    writeFile(game.root() / (kAccount + "Beta.lua"), "Beta = {\n\t\"one\",\n}\n");
    writeFile(game.root() / (kAccount + "Gamma.lua"), "Gamma = true\n");
    writeFile(game.root() / (kAccount + "Gamma.lua.bak"), "Gamma = false\n");
    writeFile(game.root() / (kHero + "Beta.lua"), "Beta = { hero = 1 }\n");
    writeFile(game.root() / (kHero + "Beta.lua.bak"), "Beta = { hero = 0 }\n");
    writeFile(game.root() / (kHero + "Delta.lua"), "Delta = nil\n");
    writeFile(game.root() / "WTF/Account/ACCT/艾露恩/Hero/AddOns.txt", "Beta: enabled\n");
    writeFile(game.root() / "WTF/Account/ACCT/SavedVariables/notes.txt", "{{{");
    writeFile(game.root() / "WTF/Config.wtf", "SET a \"1\"\n");
}

} // namespace

TEST(SavedVariablesService, HealthNamesEachDamagedFileWithTheNewestHealthyCopy) {
    GameFixture game;
    fillSettings(game);
    EXPECT_EQ(game.service.savedVariablesHealth(game.client).summary(), "插件配置完好（5 个文件）");

    const LocalBackup older = game.snapshot(BackupKind::wtf);
    // The game cut Alpha off mid-way; its .bak is healthy.
    writeFile(game.root() / (kAccount + "Alpha.lua"), "Alpha = { [\"x\"");
    writeFile(game.root() / (kAccount + "Alpha.lua.bak"), "Alpha = { [\"x\"] = 0 }\n");
    // Beta at character level is empty and its .bak damaged too: the backup has it.
    writeFile(game.root() / (kHero + "Beta.lua"), "");
    writeFile(game.root() / (kHero + "Beta.lua.bak"), "Beta = {");
    const LocalBackup newer = game.snapshot(BackupKind::wtf); // holds Beta empty: skipped
    // Delta is malformed and no copy of it was ever healthy after this.
    writeFile(game.root() / (kHero + "Delta.lua"), "Delta = {\n1\n2 }");
    writeFile(game.root() / "WTF/Account/ACCT/SavedVariables/New.lua", "New = \"\\300\"");

    const SavedVariablesHealth health = game.service.savedVariablesHealth(game.client);
    EXPECT_EQ(health.checkedFiles, 6);
    EXPECT_EQ(health.summary(), "4 个插件配置文件已损坏（共 6 个）");
    const std::vector<DamagedSavedVariables> expected{
        {kAccount + "Alpha.lua",
         "Alpha",
         {"ACCT", std::nullopt, std::nullopt},
         {SavedVariablesState::truncated, 1, false},
         SavedVariablesSource{std::nullopt, modified(game.root() / (kAccount + "Alpha.lua.bak"))}},
        {kAccount + "New.lua",
         "New",
         {"ACCT", std::nullopt, std::nullopt},
         {SavedVariablesState::malformed, 1, false},
         std::nullopt},
        {kHero + "Beta.lua",
         "Beta",
         {"ACCT", "艾露恩", "Hero"},
         {SavedVariablesState::empty, std::nullopt, false},
         SavedVariablesSource{older, older.date}},
        {kHero + "Delta.lua",
         "Delta",
         {"ACCT", "艾露恩", "Hero"},
         {SavedVariablesState::malformed, 3, false},
         SavedVariablesSource{newer, newer.date}},
    };
    EXPECT_EQ(health.damaged, expected);
    EXPECT_EQ(health.damaged[0].stateText(), "内容被截断（第 1 行）");
    EXPECT_EQ(health.damaged[2].stateText(), "空文件");
    EXPECT_EQ(health.damaged[2].place.text(), "角色 ACCT / 艾露恩 / Hero");
    EXPECT_EQ(health.damaged[0].place.text(), "账号 ACCT");
    EXPECT_EQ(health.damaged[0].source->text(), "游戏自动保存的 .bak 副本");

    // A file changed since the last check is read again, whatever the cache holds.
    writeFile(game.root() / (kAccount + "New.lua"), "New = \"\\200\"");
    EXPECT_EQ(game.service.savedVariablesHealth(game.client).damaged.size(), 3u);
}

TEST(SavedVariablesService, RepairReplacesOnlyTheDamagedFilesAfterABackupOfThem) {
    GameFixture game;
    fillSettings(game);
    const LocalBackup backup = game.snapshot(BackupKind::wtf);
    writeFile(game.root() / (kAccount + "Alpha.lua"), "Alpha = { [\"x\"");
    writeFile(game.root() / (kAccount + "Alpha.lua.bak"), "Alpha = { [\"x\"] = 0 }\n");
    writeFile(game.root() / (kHero + "Beta.lua"), "");
    writeFile(game.root() / (kHero + "Beta.lua.bak"), "Beta = {");
    writeFile(game.root() / (kAccount + "Lost.lua"), "Lost = {");
    // The version folder without the manager's own folder, where the backups go.
    auto live = [&] {
        game.service.waitForDeletions();
        Tree tree = snapshotTree(game.root());
        std::erase_if(tree, [](const auto& entry) { return entry.first.starts_with(".olvex-manager"); });
        return tree;
    };
    const Tree before = live();

    // Refusals change nothing: a healthy file, an unknown path, a damaged file without source.
    for (const auto& [path, message] : std::vector<std::pair<std::string, std::string>>{
             {kAccount + "Beta.lua", "“" + kAccount + "Beta.lua”不是已损坏的插件配置文件，请重新检查。"},
             {"WTF/../x.lua", "“WTF/../x.lua”不是已损坏的插件配置文件，请重新检查。"},
             {kAccount + "Lost.lua",
              "“" + kAccount + "Lost.lua”没有完好的副本（游戏的 .bak 或 WTF 备份），无法修复。"}}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(failure([&] { game.service.repairSavedVariables(game.client, {path}); }), message);
    }
    EXPECT_EQ(live(), before);

    // One file by name: from the .bak beside it.
    const auto repaired = game.service.repairSavedVariables(game.client, {kAccount + "Alpha.lua"});
    ASSERT_EQ(repaired.size(), 1u);
    Tree expected = before;
    expected[kAccount + "Alpha.lua"] = "Alpha = { [\"x\"] = 0 }\n";
    const LocalBackup first = game.service.backups(game.client).front();
    EXPECT_EQ(first.reason, "修复插件配置前自动备份");
    EXPECT_EQ(live(), expected);
    // The backup keeps the damaged file.
    EXPECT_EQ(game.payload(first).at("Account/ACCT/SavedVariables/Alpha.lua"), "Alpha = { [\"x\"");

    // All: Beta from the backup that holds it whole; Lost has no source and stays.
    const auto all = game.service.repairSavedVariables(game.client, {});
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].relativePath, kHero + "Beta.lua");
    EXPECT_EQ(all[0].source->backup, backup);
    expected[kHero + "Beta.lua"] = "Beta = { hero = 1 }\n";
    EXPECT_EQ(live(), expected);
    EXPECT_EQ(failure([&] { game.service.repairSavedVariables(game.client, {}); }),
              "没有可修复的插件配置文件：损坏的文件都没有完好的副本。");
}

TEST(SavedVariablesService, AddonSettingsRestoreTouchesNothingElse) {
    GameFixture game;
    fillSettings(game);
    writeFile(game.root() / "WTF/Account/ACCT/艾露恩/Alt/SavedVariables/Beta.lua", "Beta = { alt = 1 }\n");
    writeFile(game.root() / "Interface/AddOns/Beta/Beta.toc", "## Title: 贝塔动作条\n");
    const LocalBackup backup = game.snapshot(BackupKind::wtf);
    EXPECT_EQ(game.service.savedVariablesAddons(backup, game.client),
              (std::vector<SavedVariablesAddon>{
                  {"Alpha", "Alpha", 1}, {"Beta", "贝塔动作条", 3}, {"Delta", "Delta", 1}, {"Gamma", "Gamma", 1}}));

    // Afterwards: every file of the add-on changes, others too; a new character appears.
    for (const auto& path : {kAccount + "Beta.lua", kHero + "Beta.lua", kHero + "Beta.lua.bak",
                             std::string("WTF/Account/ACCT/艾露恩/Alt/SavedVariables/Beta.lua"), kAccount + "Alpha.lua",
                             kHero + "Delta.lua"}) {
        writeFile(game.root() / path, "changed = 1\n");
    }
    writeFile(game.root() / (kAccount + "Beta.lua.bak"), "added = 1\n");
    writeFile(game.root() / "WTF/Account/ACCT/艾露恩/New/SavedVariables/Beta.lua", "new = 1\n");
    const Tree before = snapshotTree(game.wtf());

    auto restored = [&](const std::vector<std::string>& paths) {
        Tree expected = before;
        for (const auto& path : paths) {
            const std::string inside = path.substr(4);
            const Tree payload = game.payload(backup);
            if (payload.contains(inside)) {
                expected[inside] = payload.at(inside);
            } else {
                expected.erase(inside);
            }
        }
        return expected;
    };
    // One character only.
    game.service.restoreAddonSettings(backup, game.client, "Beta", "Account/ACCT/艾露恩/Hero");
    EXPECT_EQ(snapshotTree(game.wtf()), restored({kHero + "Beta.lua", kHero + "Beta.lua.bak"}));
    // Every level: the account's .bak the backup lacks goes; the new character keeps its file.
    game.service.restoreAddonSettings(backup, game.client, "Beta", std::nullopt);
    EXPECT_EQ(snapshotTree(game.wtf()),
              restored({kHero + "Beta.lua", kHero + "Beta.lua.bak", kAccount + "Beta.lua", kAccount + "Beta.lua.bak",
                        "WTF/Account/ACCT/艾露恩/Alt/SavedVariables/Beta.lua"}));

    game.service.waitForDeletions();
    const Tree now = snapshotTree(game.root());
    EXPECT_EQ(failure([&] { game.service.restoreAddonSettings(backup, game.client, "Nope", std::nullopt); }),
              "此备份中没有插件“Nope”的配置。");
    EXPECT_EQ(failure([&] { game.service.restoreAddonSettings(backup, game.client, "../Beta", std::nullopt); }),
              "此备份中没有插件“../Beta”的配置。");
    EXPECT_EQ(failure([&] { game.service.restoreAddonSettings(backup, game.client, "Beta", "Account/ACCT/x"); }),
              kScopeNotInBackup);
    EXPECT_EQ(snapshotTree(game.root()), now);
}
