#include <gtest/gtest.h>

#include "records/Errors.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const char* const kScopeMessage = "配置选择不属于此备份，请重新选择账号、服务器或角色。";

struct Game {
    TempDir dir;
    Path root = dir / "_retail_";
    GameClient client{root};
    Game() { makeDirs(root); }
    Path wtf() const { return root / "WTF"; }
    Path manager() const { return root / ".olvex-manager"; }

    LocalBackup backup(ManagerService& service, BackupKind kind) {
        return service.locked(client, [&] { return service.snapshot(kind, client, "测试"); });
    }
    // Every complete backup on disk, by id, read straight from its metadata.json.
    std::map<std::string, LocalBackup> records() const {
        std::map<std::string, LocalBackup> found;
        if (fs::exists(manager() / "backups")) {
            for (const auto& entry : fs::directory_iterator(manager() / "backups")) {
                if (fs::exists(entry.path() / "metadata.json")) {
                    found[entry.path().filename()] =
                        localBackupFromJson(json::decode(readFile(entry.path() / "metadata.json")));
                }
            }
        }
        return found;
    }
    Path payload(const LocalBackup& backup) const { return manager() / "backups" / backup.id.text() / "payload"; }
};

// The one record added since `before`.
LocalBackup added(const std::map<std::string, LocalBackup>& before, const std::map<std::string, LocalBackup>& after) {
    for (const auto& [name, record] : after) {
        if (!before.count(name)) {
            return record;
        }
    }
    ADD_FAILURE() << "no backup was added";
    return {};
}

} // namespace

TEST(ConfigurationScopes, ListsAccountsRealmsAndCharactersDepthFirstInCodePointOrder) {
    Game game;
    writeFile(game.wtf() / "Account/acct/SavedVariables/Addon.lua", "x");
    writeFile(game.wtf() / "Account/acct/realm1/hero2/chat.txt", "2");
    writeFile(game.wtf() / "Account/acct/realm1/hero1/chat.txt", "1");
    makeDirs(game.wtf() / "Account/acct/realm1/hero1/SavedVariables");
    makeDirs(game.wtf() / "Account/acct/.hidden");
    writeFile(game.wtf() / "Account/acct/bindings-cache.wtf", "b");
    ManagerService service;
    LocalBackup single = game.backup(service, BackupKind::wtf);
    EXPECT_EQ(service.configurationScopes(single, game.client),
              (std::vector<ConfigurationScope>{
                  {"Account/acct", "账号：acct（含共享配置）"},
                  {"Account/acct/realm1", "服务器：acct / realm1"},
                  {"Account/acct/realm1/hero1", "角色：acct / realm1 / hero1"},
                  {"Account/acct/realm1/hero2", "角色：acct / realm1 / hero2"},
              }));

    fs::remove_all(game.wtf());
    makeDirs(game.wtf() / "Account/bob/影之哀伤");
    makeDirs(game.wtf() / "Account/ALICE/zeta");
    makeDirs(game.wtf() / "Account/ALICE/Zeta");
    LocalBackup two = game.backup(service, BackupKind::wtf);
    std::vector<std::string> paths;
    for (const auto& scope : service.configurationScopes(two, game.client)) {
        paths.push_back(scope.relativePath);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"Account/ALICE", "Account/ALICE/Zeta", "Account/ALICE/zeta",
                                               "Account/bob", "Account/bob/影之哀伤"}));

    // No Account folder, or an add-on backup: nothing to choose from, and no error.
    fs::remove_all(game.wtf());
    writeFile(game.wtf() / "Config.wtf", "SET a \"1\"\n");
    EXPECT_TRUE(service.configurationScopes(game.backup(service, BackupKind::wtf), game.client).empty());
    writeFile(game.root / "Interface/AddOns/A/A.toc", "a");
    EXPECT_TRUE(service.configurationScopes(game.backup(service, BackupKind::addons), game.client).empty());

    LocalBackup stale = two;
    stale.reason = "别的原因";
    EXPECT_EQ(failure([&] { service.configurationScopes(stale, game.client); }), "备份记录不匹配。");
}

TEST(Restore, OneCharacterReplacesOnlyThatCharacterAndBacksUpTheStateBefore) {
    Game game;
    writeFile(game.wtf() / "Config.wtf", "SET old \"1\"\n");
    writeFile(game.wtf() / "Account/acct/realm1/hero1/AddOns.txt", "backed up");
    writeFile(game.wtf() / "Account/acct/realm1/hero2/AddOns.txt", "hero2 old");
    ManagerService service;
    LocalBackup backup = game.backup(service, BackupKind::wtf);

    writeFile(game.wtf() / "Config.wtf", "SET new \"1\"\n");
    writeFile(game.wtf() / "Account/acct/realm1/hero1/AddOns.txt", "changed");
    writeFile(game.wtf() / "Account/acct/realm1/hero1/extra.txt", "extra");
    writeFile(game.wtf() / "Account/acct/realm1/hero2/AddOns.txt", "hero2 new");
    auto before = snapshotTree(game.wtf());
    auto recordsBefore = game.records();

    service.restore(backup, game.client, "Account/acct/realm1/hero1");

    auto expected = before;
    expected.erase("Account/acct/realm1/hero1/extra.txt");
    expected["Account/acct/realm1/hero1/AddOns.txt"] = "backed up";
    EXPECT_EQ(snapshotTree(game.wtf()), expected);
    LocalBackup automatic = added(recordsBefore, game.records());
    EXPECT_EQ(automatic.kind, BackupKind::wtf);
    EXPECT_EQ(automatic.reason, "选择配置恢复前自动备份");
    EXPECT_EQ(snapshotTree(game.payload(automatic)), before);

    // Into a version folder without WTF: only the chosen sub-tree and its parents appear.
    fs::remove_all(game.wtf());
    service.restore(backup, game.client, "Account/acct/realm1");
    EXPECT_EQ(snapshotTree(game.wtf()), (std::map<std::string, std::string>{
                                            {"Account", "<dir>"},
                                            {"Account/acct", "<dir>"},
                                            {"Account/acct/realm1", "<dir>"},
                                            {"Account/acct/realm1/hero1", "<dir>"},
                                            {"Account/acct/realm1/hero1/AddOns.txt", "backed up"},
                                            {"Account/acct/realm1/hero2", "<dir>"},
                                            {"Account/acct/realm1/hero2/AddOns.txt", "hero2 old"},
                                        }));
}

TEST(Restore, RefusesScopesTheListingDidNotProduceAndTakesNoBackup) {
    Game game;
    writeFile(game.wtf() / "Config.wtf", "c");
    writeFile(game.wtf() / "Account/acct/SavedVariables/A.lua", "sv");
    writeFile(game.wtf() / "Account/acct/.hidden/h", "h");
    writeFile(game.wtf() / "Account/acct/realm1/hero1/x", "x");
    writeFile(game.root / "Interface/AddOns/A/A.toc", "a");
    ManagerService service;
    LocalBackup wtf = game.backup(service, BackupKind::wtf);
    LocalBackup addons = game.backup(service, BackupKind::addons);
    writeFile(game.wtf() / "Account/acct/realm1/hero1/x", "current");
    auto before = snapshotTree(game.root);

    const std::pair<LocalBackup, std::string> refused[] = {
        {addons, "Account/acct"},
        {wtf, "Account/acct/SavedVariables"},
        {wtf, "Account/acct/.hidden"},
        {wtf, "Account/acct/realm1/../realm1/hero1"},
        {wtf, "Account/acct/realm1/hero1/"},
        {wtf, "/Account/acct"},
        {wtf, "Account"},
        {wtf, "Config.wtf"},
        {wtf, ""},
    };
    for (const auto& [backup, scope] : refused) {
        SCOPED_TRACE(scope);
        EXPECT_EQ(failure([&] { service.restore(backup, game.client, scope); }), kScopeMessage);
    }
    EXPECT_EQ(snapshotTree(game.root), before);

    // The same backup with a listed scope goes through.
    service.restore(wtf, game.client, "Account/acct/realm1/hero1");
    EXPECT_EQ(readFile(game.wtf() / "Account/acct/realm1/hero1/x"), "x");
}

TEST(Restore, WholeRestoreReplacesTheTargetAndCreatesAMissingOneWithoutABackup) {
    Game game;
    writeFile(game.root / "Interface/AddOns/A/A.toc", "a");
    writeFile(game.root / "Interface/AddOns/.olvex-installed-packs.json", "[]");
    ManagerService service;
    LocalBackup addons = game.backup(service, BackupKind::addons);
    auto payload = snapshotTree(game.payload(addons));
    fs::remove_all(game.root / "Interface");
    auto recordsBefore = game.records();
    service.restore(addons, game.client, std::nullopt);
    EXPECT_EQ(snapshotTree(game.root / "Interface/AddOns"), payload);
    EXPECT_EQ(game.records(), recordsBefore);

    writeFile(game.wtf() / "Config.wtf", "old");
    LocalBackup wtf = game.backup(service, BackupKind::wtf);
    writeFile(game.wtf() / "Config.wtf", "new");
    writeFile(game.wtf() / "Account/A/x", "x");
    auto before = snapshotTree(game.wtf());
    recordsBefore = game.records();
    service.restore(wtf, game.client, std::nullopt);
    EXPECT_EQ(snapshotTree(game.wtf()), (std::map<std::string, std::string>{{"Config.wtf", "old"}}));
    LocalBackup automatic = added(recordsBefore, game.records());
    EXPECT_EQ(automatic.reason, "恢复前自动备份");
    EXPECT_EQ(snapshotTree(game.payload(automatic)), before);
}

TEST(Restore, RefusesAChangedRecordOrTooLittleSpaceBeforeCopyingAnything) {
    Game game;
    writeFile(game.wtf() / "Config.wtf", std::string(1000, 'o'));
    writeFile(game.wtf() / "Account/acct/realm1/hero1/x", "x");
    std::int64_t free = 0;
    ManagerService service([&](const Path&) { return free; });
    free = 1 << 30;
    LocalBackup backup = game.backup(service, BackupKind::wtf);
    writeFile(game.wtf() / "Config.wtf", std::string(3000, 'n'));
    auto before = snapshotTree(game.root);

    LocalBackup changed = backup;
    changed.reason = "另一个原因";
    for (const auto& scope : {std::optional<std::string>(), std::optional<std::string>("Account/acct")}) {
        EXPECT_EQ(failure([&] { service.restore(changed, game.client, scope); }), "备份记录不匹配。");
    }
    EXPECT_EQ(snapshotTree(game.root), before);

    // The whole restore needs room for the incoming copy on top of the transaction's own
    // margin: incoming 1001 + 2 × current 3001 + 64 MiB.
    const std::int64_t required = 1001 + 2 * 3001 + ManagerService::kMargin;
    free = required - 1;
    EXPECT_EQ(failure([&] { service.restore(backup, game.client, std::nullopt); }).rfind("磁盘空间不足：", 0), 0u);
    EXPECT_EQ(snapshotTree(game.root), before);
    free = required;
    service.restore(backup, game.client, std::nullopt);
    EXPECT_EQ(readFile(game.wtf() / "Config.wtf"), std::string(1000, 'o'));
}
