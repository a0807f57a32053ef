#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "records/Errors.h"
#include "service/ManagerService.h"
#include "service/SerialExecutor.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kJournalAdvice = "无法据此自动恢复，游戏文件未被改动，备份都还在。请核对插件和 WTF 目录（需要时从备份"
                                   "恢复），然后把这个文件移到一旁再继续；请勿删除 .olvex-manager。";

using Names = std::vector<std::string>;

Names names(const Path& folder) {
    Names found;
    for (const auto& entry : fs::exists(folder) ? fs::directory_iterator(folder) : fs::directory_iterator()) {
        found.push_back(entry.path().filename());
    }
    std::sort(found.begin(), found.end());
    return found;
}

struct Game {
    TempDir dir;
    Path root = dir / "_retail_";
    GameClient client{root};
    Game() {
        writeFile(addons() / "One/One.toc", "## Title: One\n");
        writeFile(addons() / "One/sub/deep/file.lua", "print(1)");
        writeFile(addons() / ".hidden", "h");
        makeDirs(addons() / "Empty");
    }
    Path manager() const { return root / ".olvex-manager"; }
    Path addons() const { return root / "Interface/AddOns"; }
    Names backups() const { return names(manager() / "backups"); }
    void run(ManagerService& service, BackupKind kind, const ManagerService::Build& build) {
        service.locked(client, [&] { service.transaction(kind, client, "测试", build); });
    }
};

} // namespace

TEST(Transaction, ReplacesTheTargetJournallingItsBackupAndSweepsOnlyItsOwnWorkFolders) {
    Game game;
    auto before = snapshotTree(game.addons());
    writeFile(game.manager() / ("work-" + Uuid::random().text()) / "next/x", "x");
    makeDirs(game.manager() / ("recover-" + Uuid::random().text()));
    makeDirs(game.manager() / "work-old");
    std::string journal;
    std::map<std::string, std::string> setAside;
    // At the commit the old target is gone from the game folder in one piece, set aside whole.
    ManagerService service({}, [&] {
        journal = readFile(game.manager() / "active.json");
        EXPECT_FALSE(fs::exists(game.addons()));
        for (const auto& entry : fs::directory_iterator(game.manager())) {
            if (fs::exists(entry.path() / "previous")) {
                setAside = snapshotTree(entry.path() / "previous");
            }
        }
    });
    game.run(service, BackupKind::addons, [](const Path& next) { writeFile(next / "Two/Two.toc", "2"); });
    EXPECT_EQ(setAside, before);
    EXPECT_EQ(snapshotTree(game.addons()),
              (std::map<std::string, std::string>{{"Two", "<dir>"}, {"Two/Two.toc", "2"}}));
    const std::string id = game.backups().at(0);
    EXPECT_EQ(journal, R"({"kind":"addons","backup":")" + id + "\"}");
    EXPECT_EQ(snapshotTree(game.manager() / "backups" / id / "payload"), before);
    LocalBackup record = localBackupFromJson(json::decode(readFile(game.manager() / "backups" / id / "metadata.json")));
    EXPECT_EQ(record, (LocalBackup{*Uuid::parse(id), record.date, BackupKind::addons, "测试", 14 + 8 + 1}));
    EXPECT_EQ(names(game.manager()), (Names{"backups", "operation.lock", "work-old"}));

    fs::remove_all(game.root / "Interface"); // created with its parent, and nothing to back up
    game.run(service, BackupKind::addons, [](const Path& next) { writeFile(next / "A.toc", "a"); });
    EXPECT_EQ(journal, R"({"kind":"addons"})");
    EXPECT_EQ(snapshotTree(game.root / "Interface"),
              (std::map<std::string, std::string>{{"AddOns", "<dir>"}, {"AddOns/A.toc", "a"}}));
    EXPECT_EQ(game.backups().size(), 1u);
}

TEST(Transaction, FailuresAndRecoveryRestoreOnlyFromTheBackupTheJournalNames) {
    Game game;
    auto before = snapshotTree(game.addons());
    bool losePayloads = false;
    ManagerService service({}, [&] {
        for (const auto& name : losePayloads ? game.backups() : Names{}) {
            fs::remove_all(game.manager() / "backups" / name / "payload");
        }
        throw ManagerError("钩子失败");
    });
    auto attempt = [&] { return failure([&] { game.run(service, BackupKind::addons, [](const Path&) {}); }); };
    EXPECT_EQ(attempt(), "操作失败，已恢复操作前状态：钩子失败");
    const std::string id = game.backups().at(0); // kept after the rollback

    fs::remove_all(game.addons() / "One/sub"); // an interrupted commit: the target is half replaced
    writeFile(game.addons() / "Half/x", "half");
    auto half = snapshotTree(game.addons());
    const std::string other = Uuid::random().text(); // a folder holding another backup's record
    writeFile(game.manager() / "backups" / other / "metadata.json",
              json::encode(toJson(LocalBackup{Uuid::random(), Date{}, BackupKind::addons, "r", 1})));
    const std::pair<std::string, std::string> refused[] = {
        {R"({"kind":"wtf","backup":")" + id + "\"}", "恢复日志与备份不匹配。"},
        {R"({"kind":"addons","backup":")" + other + "\"}", "恢复日志与备份不匹配。"},
        {R"({"kind":"config"})", "恢复日志“" + (game.manager() / "active.json").native() +
                                     "”已损坏：字段“kind”既不是“addons”也不是“wtf”。" + kJournalAdvice},
    };
    for (const auto& [journal, message] : refused) {
        SCOPED_TRACE(journal);
        writeFile(game.manager() / "active.json", journal);
        EXPECT_EQ(failure([&] { service.recover(game.client); }), message);
        EXPECT_EQ(snapshotTree(game.addons()), half);
    }
    EXPECT_TRUE(service.hasPendingRecovery(game.client));
    writeFile(game.manager() / "active.json", R"({"kind":"addons","backup":")" + id + "\"}");
    service.recover(game.client);
    EXPECT_EQ(snapshotTree(game.addons()), before);
    EXPECT_EQ(names(game.manager()), (Names{"backups", "operation.lock"}));
    EXPECT_TRUE(fs::is_directory(game.manager() / "backups" / id / "payload")); // kept

    losePayloads = true; // the rollback finds no backup to restore from
    EXPECT_EQ(attempt(), "操作失败且自动回滚未完成：恢复备份丢失，已停止操作。。备份和 active.json 已保留，请勿删除 "
                         ".olvex-manager；重试或重新打开此目录可恢复。原错误：钩子失败");
    EXPECT_EQ(names(game.manager()), (Names{"active.json", "backups", "operation.lock"}));
    EXPECT_EQ(failure([&] { ManagerService().recover(game.client); }), "恢复备份丢失，已停止操作。");
}

TEST(Frame, RefusesAnythingButAVersionFolder) {
    TempDir dir;
    writeFile(dir / "_classic_", "a file");
    makeDirs(dir / "real/_retail_");
    fs::create_directory_symlink(dir / "real/_retail_", dir / "_beta_");
    for (const char* name : {"_classic_", "_beta_"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(failure([&] { ManagerService().recover(GameClient(dir / name)); }),
                  "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。");
        EXPECT_FALSE(fs::exists(dir / name / ".olvex-manager"));
    }
    EXPECT_EQ(failure([&] { ManagerService().recover(GameClient(dir / "real/_retail_")); }), "");
}

TEST(SerialExecutor, RunsRequestsOneAtATimeInOrderAndReturnsFailures) {
    SerialExecutor executor;
    std::vector<int> order;
    std::atomic<bool> inside{false}, overlapped{false};
    std::future<int> last;
    for (int i = 0; i < 20; ++i) {
        last = executor.submit([&, i] {
            overlapped = overlapped || inside.exchange(true);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            order.push_back(i);
            inside = false;
            return i * i;
        });
    }
    auto failing = executor.submit([]() -> int { throw ManagerError("失败"); });
    EXPECT_EQ(last.get(), 19 * 19);
    EXPECT_EQ(failure([&] { failing.get(); }), "失败");
    EXPECT_EQ(order.size(), 20u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_FALSE(overlapped);
}
