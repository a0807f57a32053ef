#include <gtest/gtest.h>

#include "packs/PackRegistry.h"
#include "records/Backup.h"
#include "records/Errors.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kNotRemovable = "插件没有可信的历史归属、已被其他整合包使用或已修改，不能自动清理。";
const std::string kChanged = "插件在校验后发生变化，已停止清理。";

std::string outcomeOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const CancellationError&) {
        return "<cancelled>";
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

ManagedPack pack(const std::string& identifier, std::vector<std::string> addons) {
    ManagedPack record;
    record.manifest = PackManifest{identifier, "包 " + identifier, "2.0", "_retail_", ""};
    record.installedAt = Date{700'000'000.5};
    record.addons = std::move(addons);
    return record;
}

// A version folder whose pack "pack.a" retired "Old" (an unchanged folder), "Gone" (deleted
// by hand) and "Claimed" (now shipped by "pack.b" as "claimed").
struct Game {
    TempDir dir;
    Path root = dir / "_retail_";
    GameClient client{root};
    ManagerService service;
    std::vector<ManagedPack> registry;

    Game() {
        writeFile(addons() / "Current/Current.toc", "## Title: Current\n");
        writeFile(addons() / "Old/Old.toc", "## Title: Old\n");
        writeFile(addons() / "Old/libs/.hidden", "h");
        writeFile(addons() / "Old/libs/lib.lua", "return 1");
        makeDirs(addons() / "Old/empty");
        writeFile(addons() / "Claimed/Claimed.toc", "## Title: Claimed\n");
        ManagedPack a = pack("pack.a", {"Current"});
        a.digests["Current"] = service.fileDigests(addons() / "Current");
        a.retired["Old"] = service.fileDigests(addons() / "Old");
        a.retired["Claimed"] = service.fileDigests(addons() / "Claimed");
        a.retired["Gone"] = {{"Gone.toc", std::string(64, '0')}};
        ManagedPack b = pack("pack.b", {"claimed"});
        b.digests["claimed"] = a.retired["Claimed"];
        registry = {a, b};
        service.writeRegistry(registry, addons());
    }
    Path addons() const { return root / "Interface/AddOns"; }
    Path manager() const { return root / ".olvex-manager"; }
    std::vector<Path> backups() const {
        std::vector<Path> folders;
        if (fs::exists(manager() / "backups")) {
            for (const auto& entry : fs::directory_iterator(manager() / "backups")) {
                folders.push_back(entry.path());
            }
        }
        return folders;
    }
    bool hasWorkFolder() const {
        for (const auto& entry : fs::directory_iterator(manager())) {
            if (entry.path().filename().native().rfind("work-", 0) == 0) {
                return true;
            }
        }
        return false;
    }
    bool canRemoveOld() {
        for (const auto& addon : service.retiredAddons(client)) {
            if (addon.packID == "pack.a" && addon.name == "Old") {
                return addon.canRemove;
            }
        }
        ADD_FAILURE() << "Old is not listed";
        return false;
    }
};

} // namespace

TEST(RetiredAddons, ListsExistingFoldersWithWhetherTheyAreUnchangedAndUnclaimed) {
    Game game;
    EXPECT_EQ(game.service.retiredAddons(game.client),
              (std::vector<RetiredAddon>{{"pack.a", "Claimed", false}, {"pack.a", "Old", true}}));

    // A retired name that is now a file instead of a folder can never be removed.
    fs::remove_all(game.addons() / "Old");
    writeFile(game.addons() / "Old", "not a folder");
    EXPECT_FALSE(game.canRemoveOld());
}

TEST(RetiredAddons, AnyChangeToTheFolderMakesItUnremovable) {
    struct Case {
        const char* label;
        std::function<void(const Path& old)> change;
    };
    const Case cases[] = {
        {"file content changed", [](const Path& old) { writeFile(old / "libs/lib.lua", "return 2"); }},
        {"hidden file changed", [](const Path& old) { writeFile(old / "libs/.hidden", "H"); }},
        {"hidden file added", [](const Path& old) { writeFile(old / ".new", ""); }},
        {"file deleted", [](const Path& old) { fs::remove(old / "libs/lib.lua"); }},
        {"empty folder added", [](const Path& old) { makeDirs(old / "libs/more"); }},
        {"empty folder removed", [](const Path& old) { fs::remove(old / "empty"); }},
        {"file renamed", [](const Path& old) { fs::rename(old / "Old.toc", old / "old.toc"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Game game;
        ASSERT_TRUE(game.canRemoveOld());
        c.change(game.addons() / "Old");
        auto before = snapshotTree(game.addons());
        EXPECT_FALSE(game.canRemoveOld());
        EXPECT_EQ(outcomeOf([&] { game.service.removeRetiredAddon("pack.a", "Old", game.client); }), kNotRemovable);
        EXPECT_EQ(snapshotTree(game.addons()), before);
        EXPECT_TRUE(game.backups().empty());
    }
}

TEST(RetiredAddons, AnInvalidRecordedNameFailsTheListing) {
    for (const std::string& bad :
         std::vector<std::string>{"a/b", ".hidden", "a:b", "a\\b", "", std::string("a\0b", 3)}) {
        SCOPED_TRACE(bad);
        Game game;
        game.registry[0].retired[bad] = {};
        game.service.writeRegistry(game.registry, game.addons());
        EXPECT_EQ(outcomeOf([&] { game.service.retiredAddons(game.client); }), "整合包归属记录含无效目录名。");
        EXPECT_EQ(outcomeOf([&] { game.service.removeRetiredAddon("pack.a", "Old", game.client); }),
                  "整合包归属记录含无效目录名。");
        EXPECT_TRUE(fs::exists(game.addons() / "Old"));
    }
}

TEST(RetiredAddons, RemovalTakesABackupDeletesTheFolderAndDropsOnlyItsEntry) {
    Game game;
    auto before = snapshotTree(game.addons());
    std::vector<OperationStage> stages;
    OperationControl control([&](OperationStage stage) { stages.push_back(stage); });
    game.service.removeRetiredAddon("pack.a", "Old", game.client, &control);

    EXPECT_FALSE(fs::exists(game.addons() / "Old"));
    EXPECT_TRUE(fs::exists(game.addons() / "Claimed"));
    auto expected = game.registry;
    expected[0].retired.erase("Old");
    EXPECT_EQ(game.service.installedPacks(game.client), expected);
    EXPECT_EQ(game.service.retiredAddons(game.client), (std::vector<RetiredAddon>{{"pack.a", "Claimed", false}}));
    EXPECT_EQ(stages, (std::vector<OperationStage>{OperationStage::preparing, OperationStage::backingUp,
                                                   OperationStage::committing}));

    auto backups = game.backups();
    ASSERT_EQ(backups.size(), 1u);
    LocalBackup record = localBackupFromJson(json::decode(readFile(backups[0] / "metadata.json")));
    EXPECT_EQ(record.reason, "清理旧整合包插件前自动备份");
    EXPECT_EQ(record.kind, BackupKind::addons);
    EXPECT_EQ(snapshotTree(backups[0] / "payload"), before);
    EXPECT_FALSE(game.hasWorkFolder());
    EXPECT_EQ(game.service.control(), nullptr);
}

TEST(RetiredAddons, RemovalRefusesWhatTheListingDoesNotAllow) {
    struct Case {
        const char* label;
        std::string packID;
        std::string name;
    };
    const Case cases[] = {
        {"identifier in other case", "Pack.A", "Old"},
        {"name in other case", "pack.a", "old"},
        {"claimed by another pack", "pack.a", "Claimed"},
        {"folder gone", "pack.a", "Gone"},
        {"not retired", "pack.a", "Current"},
        {"other pack", "pack.b", "Old"},
        {"path outside", "pack.a", "../Old"},
        {"hidden name", "pack.a", ".olvex-manager"},
    };
    Game game;
    auto before = snapshotTree(game.addons());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(outcomeOf([&] { game.service.removeRetiredAddon(c.packID, c.name, game.client); }), kNotRemovable);
        EXPECT_EQ(snapshotTree(game.addons()), before);
        EXPECT_TRUE(game.backups().empty());
    }
    EXPECT_EQ(outcomeOf([&] { game.service.removeRetiredAddon("pack.a", "Old", GameClient(game.dir / "_retail_x")); }),
              "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。");
}

TEST(RetiredAddons, AFolderChangedBetweenTheListingAndTheWorkCopyIsNotRemoved) {
    struct Case {
        const char* label;
        std::function<void(Game&)> change;
    };
    const Case cases[] = {
        {"file changed", [](Game& game) { writeFile(game.addons() / "Old/libs/lib.lua", "return 2"); }},
        {"folder deleted", [](Game& game) { fs::remove_all(game.addons() / "Old"); }},
        {"entry dropped from the registry",
         [](Game& game) {
             game.registry[0].retired.erase("Old");
             game.service.writeRegistry(game.registry, game.addons());
         }},
        {"pack record dropped", [](Game& game) { game.service.writeRegistry({game.registry[1]}, game.addons()); }},
        {"pack record dropped", [](Game& game) { game.service.writeRegistry({game.registry[1]}, game.addons()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Game game;
        std::map<std::string, std::string> changed;
        // The transaction reports "preparing" after the listing and before it copies the live
        // folder: the moment another program could change the add-on.
        OperationControl control([&](OperationStage stage) {
            if (stage == OperationStage::preparing) {
                c.change(game);
                changed = snapshotTree(game.addons());
            }
        });
        EXPECT_EQ(outcomeOf([&] { game.service.removeRetiredAddon("pack.a", "Old", game.client, &control); }),
                  kChanged);
        EXPECT_EQ(snapshotTree(game.addons()), changed);
        EXPECT_TRUE(game.backups().empty());
        EXPECT_FALSE(game.hasWorkFolder());
    }
}

TEST(RetiredAddons, CancellationBeforeCommittingChangesNothing) {
    Game game;
    auto before = snapshotTree(game.addons());
    OperationControl control;
    control.cancel();
    // Nothing before the listing's digest walk checks the control, so the walk is what stops.
    EXPECT_EQ(outcomeOf([&] { game.service.removeRetiredAddon("pack.a", "Old", game.client, &control); }),
              "<cancelled>");
    EXPECT_EQ(snapshotTree(game.addons()), before);
    EXPECT_TRUE(game.backups().empty());
    EXPECT_EQ(game.service.control(), nullptr);
    // Without a control the same tree is digested in full.
    EXPECT_TRUE(game.canRemoveOld());
}
