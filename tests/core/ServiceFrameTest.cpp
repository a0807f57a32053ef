#include <gtest/gtest.h>

#include <numeric>
#include <thread>

#include "records/Errors.h"
#include "records/FileSafety.h"
#include "service/ManagerService.h"
#include "service/SerialExecutor.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

struct Game {
    TempDir dir;
    Path root = dir / "_retail_";
    GameClient client{root};
    Game() { makeDirs(root); }
    Path manager() const { return root / ".olvex-manager"; }
    Path addons() const { return root / "Interface/AddOns"; }
    // Backup folders currently in the store, by name.
    std::vector<std::string> backupNames() const {
        std::vector<std::string> names;
        if (fs::exists(manager() / "backups")) {
            for (const auto& entry : fs::directory_iterator(manager() / "backups")) {
                names.push_back(entry.path().filename());
            }
        }
        return names;
    }
    std::vector<std::string> workFolders() const {
        std::vector<std::string> names;
        if (fs::exists(manager())) {
            for (const auto& entry : fs::directory_iterator(manager())) {
                std::string name = entry.path().filename();
                if (name.rfind("work-", 0) == 0 || name.rfind("recover-", 0) == 0) {
                    names.push_back(name);
                }
            }
        }
        return names;
    }
};

void fillAddons(const Path& folder) {
    writeFile(folder / "One/One.toc", "## Title: One\n");
    writeFile(folder / "One/sub/deep/file.lua", "print(1)");
    writeFile(folder / ".hidden", "h");
    makeDirs(folder / "Empty");
}

} // namespace

TEST(Transaction, ReplacesTheTargetAndKeepsABackupOfTheOldOne) {
    Game game;
    fillAddons(game.addons());
    auto before = snapshotTree(game.addons());
    ManagerService service;
    std::string journalDuringCommit;
    ManagerService hooked({}, [&] { journalDuringCommit = readFile(game.manager() / "active.json"); });
    hooked.locked(game.client, [&] {
        hooked.transaction(BackupKind::addons, game.client, "测试",
                           [](const Path& next) { writeFile(next / "Two/Two.toc", "## Title: Two\n"); });
    });
    EXPECT_EQ(snapshotTree(game.addons()),
              (std::map<std::string, std::string>{{"Two", "<dir>"}, {"Two/Two.toc", "## Title: Two\n"}}));
    auto backups = game.backupNames();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(journalDuringCommit, R"({"kind":"addons","backup":")" + backups[0] + "\"}");
    EXPECT_EQ(snapshotTree(game.manager() / "backups" / backups[0] / "payload"), before);
    auto record =
        localBackupFromJson(json::decode(readFile(game.manager() / "backups" / backups[0] / "metadata.json")));
    EXPECT_EQ(record.reason, "测试");
    EXPECT_EQ(record.kind, BackupKind::addons);
    EXPECT_EQ(record.byteCount, 1 + 8 + 14);
    EXPECT_FALSE(fs::exists(game.manager() / "active.json"));
    EXPECT_TRUE(game.workFolders().empty());
}

TEST(Transaction, CreatingAMissingTargetTakesNoBackupAndARolledBackCreationLeavesNothing) {
    Game game;
    std::string journal;
    ManagerService service({}, [&] { journal = readFile(game.manager() / "active.json"); });
    service.locked(game.client, [&] {
        service.transaction(BackupKind::wtf, game.client, "r",
                            [](const Path& next) { writeFile(next / "Config.wtf", "x"); });
    });
    EXPECT_EQ(journal, R"({"kind":"wtf"})");
    EXPECT_EQ(readFile(game.root / "WTF/Config.wtf"), "x");
    EXPECT_TRUE(game.backupNames().empty());

    Game second;
    ManagerService failing({}, [] { throw ManagerError("钩子失败"); });
    std::string message = failure([&] {
        failing.locked(second.client, [&] {
            failing.transaction(BackupKind::wtf, second.client, "r",
                                [](const Path& next) { writeFile(next / "Config.wtf", "x"); });
        });
    });
    EXPECT_EQ(message, "操作失败，已恢复操作前状态：钩子失败");
    EXPECT_FALSE(fs::exists(second.root / "WTF"));
    EXPECT_FALSE(fs::exists(second.manager() / "active.json"));
}

TEST(Transaction, AFailingCommitIsRolledBackAndAFailedRollbackKeepsTheJournal) {
    Game game;
    fillAddons(game.addons());
    auto before = snapshotTree(game.addons());
    ManagerService failing({}, [] { throw ManagerError("钩子失败"); });
    auto build = [](const Path& next) { writeFile(next / "New/New.toc", "n"); };
    EXPECT_EQ(failure([&] {
                  failing.locked(game.client,
                                 [&] { failing.transaction(BackupKind::addons, game.client, "r", build); });
              }),
              "操作失败，已恢复操作前状态：钩子失败");
    EXPECT_EQ(snapshotTree(game.addons()), before);
    EXPECT_FALSE(fs::exists(game.manager() / "active.json"));
    EXPECT_TRUE(game.workFolders().empty());
    EXPECT_EQ(game.backupNames().size(), 1u);

    // The hook also deletes the backup's payload, so the rollback cannot finish.
    ManagerService destructive({}, [&] {
        for (const auto& name : game.backupNames()) {
            fs::remove_all(game.manager() / "backups" / name / "payload");
        }
        throw ManagerError("钩子失败");
    });
    std::string message = failure([&] {
        destructive.locked(game.client, [&] { destructive.transaction(BackupKind::addons, game.client, "r", build); });
    });
    EXPECT_EQ(message, "操作失败且自动回滚未完成：恢复备份丢失，已停止操作。。备份和 active.json 已保留，请勿删除 "
                       ".olvex-manager；重试或重新打开此目录可恢复。原错误：钩子失败");
    EXPECT_TRUE(fs::exists(game.manager() / "active.json"));
    EXPECT_TRUE(ManagerService().hasPendingRecovery(game.client));
    // Every later locked operation refuses until the cause is removed.
    EXPECT_EQ(failure([&] { ManagerService().recover(game.client); }), "恢复备份丢失，已停止操作。");
}

TEST(Recovery, RestoresFromTheJournalsBackupAndRefusesAMismatchedOne) {
    Game game;
    fillAddons(game.addons());
    auto before = snapshotTree(game.addons());
    ManagerService service;
    LocalBackup backup =
        service.locked(game.client, [&] { return service.snapshot(BackupKind::addons, game.client, "r"); });
    // An interrupted commit: the journal names the backup, the target is half replaced.
    fs::remove_all(game.addons() / "One/sub");
    writeFile(game.addons() / "Half/x", "half");
    writeFile(game.manager() / "active.json", R"({"kind":"addons","backup":")" + backup.id.text() + "\"}");
    EXPECT_TRUE(service.hasPendingRecovery(game.client));
    service.recover(game.client);
    EXPECT_EQ(snapshotTree(game.addons()), before);
    EXPECT_FALSE(service.hasPendingRecovery(game.client));
    EXPECT_EQ(game.backupNames().size(), 1u); // recovery keeps the backup it used

    const std::string other = Uuid::random().text();
    const std::string journals[] = {
        R"({"kind":"wtf","backup":")" + backup.id.text() + "\"}", // kind differs from the record
        R"({"kind":"addons","backup":")" + other + "\"}",         // folder missing entirely
    };
    EXPECT_EQ(failure([&] {
                  writeFile(game.manager() / "active.json", journals[0]);
                  service.recover(game.client);
              }),
              "恢复日志与备份不匹配。");
    EXPECT_TRUE(service.hasPendingRecovery(game.client));
    writeFile(game.manager() / "backups" / other / "metadata.json",
              json::encode(toJson(LocalBackup{Uuid::random(), Date{}, BackupKind::addons, "r", 1})));
    writeFile(game.manager() / "active.json", journals[1]);
    EXPECT_EQ(failure([&] { service.recover(game.client); }), "恢复日志与备份不匹配。");
    writeFile(game.manager() / "active.json", R"({"kind":"config"})");
    EXPECT_NE(failure([&] { service.recover(game.client); }), "");
    EXPECT_EQ(snapshotTree(game.addons()), before);
}

TEST(Frame, SweepsLeftoverWorkFoldersAndRefusesNonVersionFolders) {
    Game game;
    std::string work = "work-" + Uuid::random().text();
    std::string recoverFolder = "recover-" + Uuid::random().text();
    writeFile(game.manager() / work / "next/x", "x");
    makeDirs(game.manager() / recoverFolder);
    makeDirs(game.manager() / "work-old");
    ManagerService service;
    service.recover(game.client);
    EXPECT_FALSE(fs::exists(game.manager() / work));
    EXPECT_FALSE(fs::exists(game.manager() / recoverFolder));
    EXPECT_TRUE(fs::exists(game.manager() / "work-old"));

    TempDir dir;
    makeDirs(dir / "_retail_x");
    writeFile(dir / "_classic_", "a file");
    for (const char* name : {"_retail_x", "_classic_", "_ptr_"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(failure([&] { service.recover(GameClient(dir / name)); }),
                  "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。");
        EXPECT_FALSE(fs::exists(dir / name / ".olvex-manager"));
    }
    fs::create_directory_symlink(game.root, dir / "_beta_");
    EXPECT_EQ(failure([&] { service.recover(GameClient(dir / "_beta_")); }),
              "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。");
}

TEST(Frame, CancellationBeforeCommittingLeavesTheTargetAndNoWorkFolder) {
    Game game;
    fillAddons(game.addons());
    auto before = snapshotTree(game.addons());
    std::vector<OperationStage> stages;
    OperationControl control([&](OperationStage stage) { stages.push_back(stage); });
    ManagerService service;
    ManagerService::ControlScope scope(service, &control);
    // Cancelled during the build: the backup's stage report refuses to go on.
    EXPECT_THROW(service.locked(game.client,
                                [&] {
                                    service.transaction(BackupKind::addons, game.client, "r", [&](const Path& next) {
                                        FileSafety::copyTree(game.addons(), next, &control);
                                        control.cancel();
                                    });
                                }),
                 CancellationError);
    EXPECT_EQ(stages, (std::vector<OperationStage>{OperationStage::preparing}));
    EXPECT_EQ(snapshotTree(game.addons()), before);
    EXPECT_TRUE(game.workFolders().empty());
    EXPECT_TRUE(game.backupNames().empty());

    // Once committing has been reported, a cancel is ignored and the change completes.
    OperationControl late([&](OperationStage stage) {
        if (stage == OperationStage::committing) {
            late.cancel();
        }
    });
    ManagerService::ControlScope lateScope(service, &late);
    service.locked(game.client, [&] {
        service.transaction(BackupKind::addons, game.client, "r",
                            [](const Path& next) { writeFile(next / "A/A.toc", "a"); });
    });
    EXPECT_EQ(readFile(game.addons() / "A/A.toc"), "a");
    EXPECT_FALSE(late.isCancelled());
}

TEST(RequireSpace, ExactFreeSpacePassesAndOneByteLessFails) {
    Game game;
    std::int64_t free = 100'000'000;
    ManagerService service([&](const Path&) { return free; });
    EXPECT_EQ(service.requireSpace(game.client, 100'000'000), 100'000'000);
    free = 99'999'999;
    EXPECT_EQ(failure([&] { service.requireSpace(game.client, 100'000'000); }),
              "磁盘空间不足：至少需要 100 MB，剩余 100 MB。请导出旧备份或释放空间后重试。");
    free = 87'108'863;
    EXPECT_EQ(failure([&] { service.requireSpace(game.client, 87'108'864); }),
              "磁盘空间不足：至少需要 87.1 MB，剩余 87.1 MB。请导出旧备份或释放空间后重试。");
    // The real volume query answers something for a real folder.
    EXPECT_GE(ManagerService().requireSpace(game.client, 0), 0);
}

TEST(SerialExecutor, RunsRequestsOneAtATimeInOrderAndReturnsFailures) {
    SerialExecutor executor;
    std::vector<int> order;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::future<int>> results;
    for (int i = 0; i < 20; ++i) {
        results.push_back(executor.submit([&, i] {
            if (++inside > 1) {
                overlapped = true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            order.push_back(i);
            --inside;
            return i * i;
        }));
    }
    auto failing = executor.submit([]() -> int { throw ManagerError("失败"); });
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(results[i].get(), i * i);
    }
    EXPECT_THROW(failing.get(), ManagerError);
    EXPECT_FALSE(overlapped);
    std::vector<int> expected(20);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}
