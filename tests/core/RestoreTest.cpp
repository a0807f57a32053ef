#include <gtest/gtest.h>

#include "base/Errors.h"
#include "service/ManagerService.h"
#include "support/GameFixture.h"

using namespace olvex;
using namespace olvex::test;

namespace {

using Tree = std::map<std::string, std::string>;
const char* const kScopeMessage = "配置选择不属于此备份，请重新选择账号、服务器或角色。";

// The automatic backup a restore takes first.
LocalBackup latest(GameFixture& game) {
    return game.service.backups(game.client).front();
}

} // namespace

TEST(Restore, ScopesAreListedInCodePointOrderAndOnlyAListedOneIsRestoredReplacingOnlyThatPart) {
    GameFixture game;
    for (const char* path : {"WTF/Config.wtf", "WTF/Account/acct/SavedVariables/A.lua", "WTF/Account/acct/.hidden/h",
                             "WTF/Account/acct/bindings-cache.wtf", "WTF/Account/acct/realm1/hero1/AddOns.txt",
                             "WTF/Account/acct/realm1/hero1/SavedVariables/x",
                             "WTF/Account/acct/realm1/hero2/AddOns.txt", "WTF/Account/bob/影之哀伤/x",
                             "WTF/Account/ALICE/zeta/x", "WTF/Account/ALICE/Zeta/x", "Interface/AddOns/A/A.toc"}) {
        writeFile(game.root() / path, "x");
    }
    const LocalBackup wtf = game.snapshot(BackupKind::wtf), addons = game.snapshot(BackupKind::addons);
    EXPECT_EQ(game.service.configurationScopes(wtf, game.client),
              (std::vector<ConfigurationScope>{
                  {"Account/ALICE", "账号：ALICE（含共享配置）"},
                  {"Account/ALICE/Zeta", "服务器：ALICE / Zeta"},
                  {"Account/ALICE/zeta", "服务器：ALICE / zeta"},
                  {"Account/acct", "账号：acct（含共享配置）"},
                  {"Account/acct/realm1", "服务器：acct / realm1"},
                  {"Account/acct/realm1/hero1", "角色：acct / realm1 / hero1"},
                  {"Account/acct/realm1/hero2", "角色：acct / realm1 / hero2"},
                  {"Account/bob", "账号：bob（含共享配置）"},
                  {"Account/bob/影之哀伤", "服务器：bob / 影之哀伤"},
              }));
    EXPECT_TRUE(game.service.configurationScopes(addons, game.client).empty());

    writeFile(game.wtf() / "Account/acct/realm1/hero1/AddOns.txt", "changed");
    writeFile(game.wtf() / "Account/acct/realm1/hero1/extra.txt", "extra");
    writeFile(game.wtf() / "Account/acct/realm1/hero2/AddOns.txt", "hero2 new");
    const Tree before = snapshotTree(game.wtf()), all = snapshotTree(game.root());
    EXPECT_EQ(failure([&] { game.service.restore(addons, game.client, "Account/acct"); }), kScopeMessage);
    for (const char* scope :
         {"Account/acct/SavedVariables", "Account/acct/.hidden", "Account/acct/realm1/../realm1/hero1",
          "Account/acct/realm1/hero1/", "/Account/acct", "Account", "Config.wtf", ""}) {
        SCOPED_TRACE(scope);
        EXPECT_EQ(failure([&] { game.service.restore(wtf, game.client, scope); }), kScopeMessage);
    }
    EXPECT_EQ(snapshotTree(game.root()), all); // no backup taken either

    game.service.restore(wtf, game.client, "Account/acct/realm1/hero1");
    Tree expected = before;
    expected.erase("Account/acct/realm1/hero1/extra.txt");
    expected["Account/acct/realm1/hero1/AddOns.txt"] = "x";
    EXPECT_EQ(snapshotTree(game.wtf()), expected);
    EXPECT_EQ(latest(game).reason, "选择配置恢复前自动备份");
    EXPECT_EQ(game.payload(latest(game)), before);

    fs::remove_all(game.wtf()); // into no WTF: only the chosen sub-tree and its parents appear
    game.service.restore(wtf, game.client, "Account/acct/realm1");
    expected = {{"Account", "<dir>"}, {"Account/acct", "<dir>"}};
    for (const auto& [path, content] : game.payload(wtf)) {
        if (path.starts_with("Account/acct/realm1")) {
            expected[path] = content;
        }
    }
    EXPECT_EQ(snapshotTree(game.wtf()), expected);

    fs::remove_all(game.wtf() / "Account");
    EXPECT_TRUE(game.service.configurationScopes(game.snapshot(BackupKind::wtf), game.client).empty());
}

TEST(Restore, WholeRestoreNeedsTheUnchangedRecordAndRoomForTheIncomingCopy) {
    GameFixture game;
    writeFile(game.wtf() / "Config.wtf", std::string(1000, 'o'));
    writeFile(game.wtf() / "Account/acct/realm1/hero1/x", "x");
    LocalBackup backup = game.snapshot(BackupKind::wtf);
    writeFile(game.wtf() / "Config.wtf", std::string(3000, 'n'));
    writeFile(game.wtf() / "Account/acct/new.txt", ""); // must go, without changing the sizes
    const Tree before = snapshotTree(game.wtf()), all = snapshotTree(game.root());

    const LocalBackup changed{backup.id, backup.date, backup.kind, "另一个原因", backup.byteCount};
    for (const auto& scope : {std::optional<std::string>{}, std::optional<std::string>{"Account/acct"}}) {
        EXPECT_EQ(failure([&] { game.service.restore(changed, game.client, scope); }), "备份记录不匹配。");
    }
    // Room for the incoming copy on top of the transaction's own needs: 1001 + 2 × 3001 + margin.
    game.free = 1001 + 2 * 3001 + ManagerService::kMargin - 1;
    EXPECT_EQ(failure([&] { game.service.restore(backup, game.client, std::nullopt); }),
              "磁盘空间不足：至少需要 67.1 MB，剩余 67.1 MB。请导出旧备份或释放空间后重试。");
    EXPECT_EQ(snapshotTree(game.root()), all);

    game.free += 1;
    game.service.restore(backup, game.client, std::nullopt);
    EXPECT_EQ(snapshotTree(game.wtf()), game.payload(backup));
    EXPECT_EQ(latest(game).reason, "恢复前自动备份");
    EXPECT_EQ(game.payload(latest(game)), before);
}
