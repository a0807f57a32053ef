#include <gtest/gtest.h>

#include "base/Errors.h"
#include "packs/FileDigests.h"
#include "packs/PackRegistry.h"
#include "records/Backup.h"
#include "service/ManagerService.h"
#include "support/GameFixture.h"

using namespace olvex;
using namespace olvex::test;

namespace {

using Tree = std::map<std::string, std::string>;
const std::string kNotRemovable = "插件没有可信的历史归属、已被其他整合包使用或已修改，不能自动清理。";

// A version folder whose pack "pack.a" retired "Old" (an unchanged folder), "Gone" (deleted
// by hand) and "Claimed" (now shipped by "pack.b" as "claimed").
struct Game : GameFixture {
    static ManagedPack pack(const std::string& id, std::vector<std::string> addons) {
        return {{id, "包 " + id, "2.0", "_retail_", ""}, Date{700'000'000.5}, std::move(addons), {}, {}};
    }
    std::vector<ManagedPack> registry;

    Game() {
        writeFile(addons() / "Current/Current.toc", "## Title: Current\n");
        writeFile(addons() / "Old/Old.toc", "## Title: Old\n");
        writeFile(addons() / "Old/libs/.hidden", "h");
        writeFile(addons() / "Old/libs/lib.lua", "return 1");
        makeDirs(addons() / "Old/empty");
        writeFile(addons() / "Claimed/Claimed.toc", "## Title: Claimed\n");
        ManagedPack a = pack("pack.a", {"Current"}), b = pack("pack.b", {"claimed"});
        a.digests["Current"] = fileDigests(addons() / "Current");
        a.retired["Old"] = fileDigests(addons() / "Old");
        a.retired["Claimed"] = b.digests["claimed"] = fileDigests(addons() / "Claimed");
        a.retired["Gone"] = {{"Gone.toc", std::string(64, '0')}};
        registry = {a, b};
        writeRegistry(registry, addons());
    }
    std::string remove(OperationControl* control = nullptr, const std::string& packID = "pack.a",
                       const std::string& name = "Old") {
        return failure([&] { service.removeRetiredAddon(packID, name, client, control); });
    }
    bool canRemoveOld() {
        return service.retiredAddons(client) ==
               std::vector<RetiredAddon>{{"pack.a", "Claimed", false}, {"pack.a", "Old", true}};
    }
    // The add-ons as given, `backups` backup folders and, once the background deletion is
    // done, no work folder or set-aside old content left.
    void expectLeft(const Tree& addonsTree, size_t backups = 0) {
        service.waitForDeletions();
        EXPECT_EQ(snapshotTree(addons()), addonsTree);
        size_t found = 0;
        for (const auto& [name, content] : snapshotTree(manager())) {
            EXPECT_TRUE(name.rfind("work-", 0) != 0 && name.rfind("trash-", 0) != 0) << name;
            found += name.rfind("backups/", 0) == 0 && name.find('/', 8) == std::string::npos;
        }
        EXPECT_EQ(found, backups);
    }
};

} // namespace

// Every change to the folder makes it unremovable, and removal refuses whatever the listing
// does not allow, leaving everything as it was.
TEST(RetiredAddons, RemovalRefusesChangedFoldersAndWhatTheListingDoesNotAllow) {
    struct Case {
        const char* label;
        std::function<void(const Path& old)> change; // null: the folder stays as listed
        std::string packID = "pack.a", name = "Old";
    };
    const Case cases[] = {
        {"hidden file changed", [](const Path& old) { writeFile(old / "libs/.hidden", "H"); }},
        {"file deleted", [](const Path& old) { fs::remove(old / "libs/lib.lua"); }},
        {"empty folder added", [](const Path& old) { makeDirs(old / "libs/more"); }},
        {"file renamed", [](const Path& old) { fs::rename(old / "Old.toc", old / "old.toc"); }},
        {"now a file", [](const Path& old) { fs::remove_all(old), writeFile(old, "not a folder"); }},
        {"identifier in other case", nullptr, "Pack.A"},
        {"name in other case", nullptr, "pack.a", "old"},
        {"claimed by another pack", nullptr, "pack.a", "Claimed"},
        {"folder gone", nullptr, "pack.a", "Gone"},
        {"not retired", nullptr, "pack.a", "Current"},
        {"other pack", nullptr, "pack.b"},
        {"path outside", nullptr, "pack.a", "../Old"},
        {"hidden name", nullptr, "pack.a", ".olvex-manager"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Game game;
        if (c.change) {
            c.change(game.addons() / "Old");
            EXPECT_FALSE(game.canRemoveOld());
        }
        auto before = snapshotTree(game.addons());
        EXPECT_EQ(game.remove(nullptr, c.packID, c.name), kNotRemovable);
        game.expectLeft(before);
    }
    Game game;
    EXPECT_EQ(failure([&] { game.service.removeRetiredAddon("pack.a", "Old", GameClient(game.dir / "_retail_x")); }),
              "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。");
}

TEST(RetiredAddons, AnInvalidRecordedNameFailsTheListing) {
    for (const std::string& bad :
         std::vector<std::string>{"a/b", ".hidden", "a:b", "a\\b", "", std::string("a\0b", 3)}) {
        SCOPED_TRACE(bad);
        Game game;
        game.registry[0].retired[bad] = {};
        writeRegistry(game.registry, game.addons());
        EXPECT_EQ(failure([&] { game.service.retiredAddons(game.client); }), "整合包归属记录含无效目录名。");
        EXPECT_EQ(game.remove(), "整合包归属记录含无效目录名。");
        EXPECT_TRUE(fs::exists(game.addons() / "Old"));
    }
}

TEST(RetiredAddons, ACancelChangesNothingAndRemovalTakesABackupDeletesTheFolderAndDropsOnlyItsEntry) {
    Game game;
    auto before = snapshotTree(game.addons());
    OperationControl cancelled;
    cancelled.cancel();
    // Nothing before the listing's digest walk checks the control, so the walk is what stops.
    EXPECT_THROW(game.service.removeRetiredAddon("pack.a", "Old", game.client, &cancelled), CancellationError);
    game.expectLeft(before);
    ASSERT_TRUE(game.canRemoveOld()); // without a control the same tree is digested in full

    std::vector<OperationStage> stages;
    OperationControl control([&](OperationStage stage) { stages.push_back(stage); });
    ASSERT_EQ(game.remove(&control), "");

    EXPECT_FALSE(fs::exists(game.addons() / "Old"));
    EXPECT_TRUE(fs::exists(game.addons() / "Claimed"));
    auto expected = game.registry;
    expected[0].retired.erase("Old");
    EXPECT_EQ(game.service.installedPacks(game.client), expected);
    EXPECT_EQ(stages, (std::vector<OperationStage>{OperationStage::preparing, OperationStage::backingUp,
                                                   OperationStage::committing}));
    auto backups = game.service.backups(game.client);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0].reason, "清理旧整合包插件前自动备份");
    EXPECT_EQ(backups[0].kind, BackupKind::addons);
    EXPECT_EQ(game.payload(backups[0]), before);
    game.expectLeft(snapshotTree(game.addons()), 1);
    EXPECT_EQ(game.service.control(), nullptr);
}

TEST(RetiredAddons, AFolderChangedBetweenTheListingAndTheWorkCopyIsNotRemoved) {
    const std::vector<std::pair<const char*, std::function<void(Game&)>>> cases = {
        {"file changed", [](Game& game) { writeFile(game.addons() / "Old/libs/lib.lua", "return 2"); }},
        {"folder deleted", [](Game& game) { fs::remove_all(game.addons() / "Old"); }},
        {"entry dropped from the registry",
         [](Game& game) {
             game.registry[0].retired.erase("Old");
             writeRegistry(game.registry, game.addons());
         }},
        {"pack record dropped", [](Game& game) { writeRegistry({game.registry[1]}, game.addons()); }},
    };
    for (const auto& [label, change] : cases) {
        SCOPED_TRACE(label);
        Game game;
        Tree changed;
        // "preparing" comes after the listing and before the copy of the live folder: the
        // moment another program could change the add-on.
        OperationControl control([&](OperationStage stage) {
            if (stage == OperationStage::preparing) {
                change(game);
                changed = snapshotTree(game.addons());
            }
        });
        EXPECT_EQ(game.remove(&control), "插件在校验后发生变化，已停止清理。");
        game.expectLeft(changed);
    }
}
