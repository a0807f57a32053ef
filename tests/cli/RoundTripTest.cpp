// The whole round of a player's scripted session through the olvex executable: install,
// list, back up, restore, export, import, recycle, retain, bring back, with the files on disk
// and the JSON output checked at each step.

#include <regex>

#include "CliRunner.h"

namespace olvex::test {
namespace {

using nlohmann::json;

const std::regex kIsoDate(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");

std::vector<std::string> field(const json& array, const char* name) {
    std::vector<std::string> values;
    for (const auto& item : array) {
        values.push_back(item.at(name).get<std::string>());
    }
    return values;
}

std::map<std::string, int> kinds(const json& backups) {
    std::map<std::string, int> counts;
    for (const auto& backup : backups) {
        ++counts[backup.at("kind").get<std::string>()];
    }
    return counts;
}

TEST_F(CliTest, ScanReportsClientsMissingRootsAndTheLimitFlag) {
    const std::string missing = (m_temp / "offline").native();
    auto result = olvex({"scan", missing, "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    json report = parse(result);
    EXPECT_EQ(field(report["clients"], "path"), std::vector<std::string>{m_game.native()});
    EXPECT_EQ(report["clients"][0]["title"], "正式服");
    EXPECT_EQ(report["missingRoots"], json::array({missing}));
    EXPECT_EQ(report["inaccessibleRoots"], json::array());
    EXPECT_EQ(report["reachedLimit"], false);

    // Without the default roots only the named folder is scanned; people see it reported.
    result = olvex({"scan", "--no-default-roots", missing});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("未扫描到游戏"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("有 1 个指定位置不存在或磁盘离线：\n  " + missing), std::string::npos) << result.out;
}

TEST_F(CliTest, FullRoundThroughTheExecutable) {
    const std::string dir = m_game.native();
    writeFile(m_addons / "Mine/Mine.toc", "## Title: 我的插件\n## Author: 玩家\n");
    writeFile(m_game / "WTF/Config.wtf", "SET a 1\n");
    writeFile(m_game / "WTF/Account/ACC/Realm/Hero/layout.txt", "hero");
    writeZip(m_temp / "v1.zip", packEntries({"Alpha", "Beta", "Gamma"}, "1"));
    writeZip(m_temp / "v2.zip", packEntries({"Alpha", "Beta"}, "2", "2"));

    // Install, then a newer release that drops Gamma, then clean Gamma away.
    auto result = olvex({"install", dir, (m_temp / "v1.zip").native(), "--yes", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    json answer = parse(result);
    EXPECT_EQ(answer["message"], "已安装 3 个插件。同名插件已替换，其余插件和 WTF 配置已保留。");
    EXPECT_EQ(answer["preview"]["addons"], json::array({"Alpha", "Beta", "Gamma"}));
    EXPECT_EQ(answer["preview"]["pack"]["identifier"], "pack.test");
    EXPECT_EQ(answer["preview"]["previousVersion"], nullptr);
    for (const char* stage : {"正在解压\n", "正在校验\n", "正在备份\n", "正在提交，请勿退出\n", "操作完成\n"}) {
        EXPECT_NE(result.err.find(stage), std::string::npos) << stage << result.err;
    }
    EXPECT_EQ(readFile(m_addons / "Alpha/core.lua"), "-- Alpha 1");
    EXPECT_EQ(readFile(m_addons / "Mine/Mine.toc"), "## Title: 我的插件\n## Author: 玩家\n");

    result = olvex({"install", dir, (m_temp / "v2.zip").native(), "--yes", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(parse(result)["preview"]["previousVersion"], "1");
    EXPECT_EQ(readFile(m_addons / "Alpha/core.lua"), "-- Alpha 2");
    result = olvex({"retired", dir, "--json"});
    EXPECT_EQ(parse(result), json::parse(R"([{"packID":"pack.test","name":"Gamma","canRemove":true}])"));
    result = olvex({"remove-retired", dir, "pack.test", "Gamma"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "已备份并清理旧整合包插件，其他插件保留。\n");
    EXPECT_FALSE(fs::exists(m_addons / "Gamma"));
    EXPECT_EQ(parse(olvex({"retired", dir, "--json"})), json::array());

    // Listings.
    json addons = parse(olvex({"addons", dir, "--json"}));
    EXPECT_EQ(field(addons, "folder"), (std::vector<std::string>{"Alpha", "Beta", "Mine"}));
    EXPECT_EQ(addons[2]["title"], "我的插件");
    EXPECT_EQ(addons[2]["path"], (m_addons / "Mine").native());
    EXPECT_EQ(field(parse(olvex({"addons", dir, "--search", "ALP", "--json"})), "folder"),
              std::vector<std::string>{"Alpha"});
    EXPECT_EQ(field(parse(olvex({"addons", dir, "--search=玩家", "--json"})), "folder"),
              std::vector<std::string>{"Mine"});
    json packs = parse(olvex({"packs", dir, "--json"}));
    ASSERT_EQ(packs.size(), 1u);
    EXPECT_EQ(packs[0]["version"], "2");
    EXPECT_EQ(packs[0]["addons"], json::array({"Alpha", "Beta"}));
    EXPECT_TRUE(std::regex_match(packs[0]["installedAt"].get<std::string>(), kIsoDate)) << packs[0];

    // Back up WTF, spoil it, restore it whole by a short id prefix.
    result = olvex({"backup-wtf", dir, "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    json backup = parse(result)["backup"];
    const std::string id = backup["id"];
    EXPECT_EQ(backup["kind"], "wtf");
    EXPECT_EQ(backup["reason"], "手动配置备份");
    EXPECT_TRUE(std::regex_match(backup["date"].get<std::string>(), kIsoDate)) << backup;
    const auto wtfBefore = snapshotTree(m_game / "WTF");
    writeFile(m_game / "WTF/Config.wtf", "SET a 2\n");
    fs::remove(m_game / "WTF/Account/ACC/Realm/Hero/layout.txt");
    result = olvex({"restore", dir, id.substr(0, 8)});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "已恢复WTF 配置，恢复前的状态也已自动备份。\n");
    EXPECT_EQ(snapshotTree(m_game / "WTF"), wtfBefore);

    // Restore one character only: the rest of WTF keeps its newer state.
    json scopes = parse(olvex({"scopes", dir, id, "--json"}));
    EXPECT_EQ(field(scopes, "relativePath"),
              (std::vector<std::string>{"Account/ACC", "Account/ACC/Realm", "Account/ACC/Realm/Hero"}));
    EXPECT_EQ(scopes[2]["title"], "角色：ACC / Realm / Hero");
    writeFile(m_game / "WTF/Account/ACC/Realm/Hero/layout.txt", "changed");
    writeFile(m_game / "WTF/Config.wtf", "SET a 3\n");
    result = olvex({"restore", dir, id, "--scope", "Account/ACC/Realm/Hero"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(m_game / "WTF/Account/ACC/Realm/Hero/layout.txt"), "hero");
    EXPECT_EQ(readFile(m_game / "WTF/Config.wtf"), "SET a 3\n");

    // Export the manual backup, spoil WTF, import the package.
    const fs::path package = m_temp / "wtf.olvexbackup";
    result = olvex({"export", dir, id, package.native(), "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(parse(result)["destination"], package.native());
    EXPECT_TRUE(fs::is_regular_file(package / "transfer.json"));
    EXPECT_EQ(snapshotTree(package / "payload"), wtfBefore);
    writeFile(m_game / "WTF/Config.wtf", "SET a 4\n");
    result = olvex({"import", dir, package.native()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "配置已校验并导入，原配置已自动备份。\n");
    EXPECT_EQ(snapshotTree(m_game / "WTF"), wtfBefore);

    // Every change above left an automatic backup: three of the add-ons, three of WTF besides
    // the manual one.
    json listed = parse(olvex({"backups", dir, "--json"}));
    EXPECT_EQ(kinds(listed), (std::map<std::string, int>{{"addons", 3}, {"wtf", 4}}));
    for (const auto& item : listed) {
        EXPECT_GT(item["bytes"].get<std::int64_t>(), 0) << item;
    }

    // Recycle the manual backup, keep one of each kind, then bring everything back.
    const fs::path manager = m_game / ".olvex-manager";
    result = olvex({"recycle", dir, id});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(fs::is_directory(manager / "recycled-backups" / id));
    EXPECT_FALSE(fs::exists(manager / "backups" / id));
    result = olvex({"retain", dir, "1", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(parse(result)["recycled"].size(), 4u);
    listed = parse(olvex({"backups", dir, "--json"}));
    EXPECT_EQ(kinds(listed), (std::map<std::string, int>{{"addons", 1}, {"wtf", 1}}));
    result = olvex({"recover-recycled", dir, "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(parse(result)["recovered"].size(), 5u);
    EXPECT_EQ(kinds(parse(olvex({"backups", dir, "--json"}))), (std::map<std::string, int>{{"addons", 3}, {"wtf", 4}}));

    json status = parse(olvex({"status", dir, "--json"}));
    EXPECT_EQ(status, json::parse(R"({"client":{"path":")" + dir +
                                  R"(","folderName":"_retail_","title":"正式服"},"pendingRecovery":false,)"
                                  R"("addons":3,"packs":1,"backups":7,"retiredAddons":0})"));
    EXPECT_EQ(stagingLeft(), std::vector<std::string>{});
}

} // namespace
} // namespace olvex::test
