#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sys/stat.h>
#include <thread>

#include "base/Errors.h"
#include "fs/ClientLock.h"
#include "fs/Sys.h"
#include "fs/VolumeFlush.h"
#include "service/ManagerService.h"
#include "service/SerialExecutor.h"
#include "support/FaultHarness.h"
#include "support/GameFixture.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kJournalAdvice = "无法据此自动恢复，游戏文件未被改动，备份都还在。请核对插件和 WTF 目录（需要时从备份"
                                   "恢复），然后把这个文件移到一旁再继续；请勿删除 .olvex-manager。";

const std::string kUnusableAdvice = "无法据此自动恢复，本次没有改动任何文件。请核对插件和 WTF 目录（需要时从其他备份"
                                    "恢复），然后把恢复日志移到一旁再继续；请勿删除 .olvex-manager。";

using Names = std::vector<std::string>;

// The fixture with an add-on, a hidden file and an empty folder in its AddOns.
struct Game : GameFixture {
    Game() {
        writeFile(addons() / "One/One.toc", "## Title: One\n");
        writeFile(addons() / "One/sub/deep/file.lua", "print(1)");
        writeFile(addons() / ".hidden", "h");
        makeDirs(addons() / "Empty");
    }
    Names backups() const { return names(manager() / "backups"); }
    // A transaction, and the deletion of what it replaced.
    void run(ManagerService& through, BackupKind kind, const ManagerService::Build& build) {
        through.locked(client, [&] { through.transaction(kind, client, "测试", build); });
        through.waitForDeletions();
    }
};

#ifdef OLVEX_FAULT_INJECTION
bool isRemoval(const sys::fault::Call& call) {
    const std::string name = call.name;
    return name == "unlink" || name == "rmdir" || name == "unlinkat";
}

// The whole path of what a removal removes, also when it names an entry of an open folder.
Path removedPath(const sys::fault::Call& call) {
    return std::string(call.name) == "unlinkat"
               ? fs::read_symlink("/proc/self/fd/" + std::to_string(call.fd)) / call.path
               : Path(call.path);
}
#endif

} // namespace

TEST(Transaction, ReplacesTheTargetJournallingItsBackupAndSweepsOnlyItsOwnWorkFolders) {
    Game game;
    auto before = snapshotTree(game.addons());
    writeFile(game.manager() / ("work-" + Uuid::random().text()) / "next/x", "x");
    makeDirs(game.manager() / ("recover-" + Uuid::random().text()));
    makeDirs(game.manager() / "work-old");
    std::string journal;
    std::map<std::string, std::string> setAside;
    std::string work; // the UUID of the work folder holding the new content
    // At the commit the old target is gone from the game folder in one piece, set aside whole.
    ManagerService service({}, [&] {
        journal = readFile(game.manager() / "active.json");
        EXPECT_FALSE(fs::exists(game.addons()));
        for (const auto& entry : fs::directory_iterator(game.manager())) {
            if (fs::exists(entry.path() / "previous")) {
                setAside = snapshotTree(entry.path() / "previous");
            }
            if (fs::exists(entry.path() / "next")) {
                work = entry.path().filename().native().substr(5);
            }
        }
    });
    game.run(service, BackupKind::addons, [](const Path& next) { writeFile(next / "Two/Two.toc", "2"); });
    EXPECT_EQ(setAside, before);
    EXPECT_EQ(snapshotTree(game.addons()),
              (std::map<std::string, std::string>{{"Two", "<dir>"}, {"Two/Two.toc", "2"}}));
    const std::string id = game.backups().at(0);
    EXPECT_EQ(journal, R"({"kind":"addons","backup":")" + id + R"(","work":")" + work + "\"}");
    EXPECT_EQ(snapshotTree(game.manager() / "backups" / id / "payload"), before);
    LocalBackup record = localBackupFromJson(json::decode(readFile(game.manager() / "backups" / id / "metadata.json")));
    EXPECT_EQ(record, (LocalBackup{*Uuid::parse(id), record.date, BackupKind::addons, "测试", 14 + 8 + 1}));
    EXPECT_EQ(names(game.manager()), (Names{"backups", "operation.lock", "work-old"}));

    fs::remove_all(game.root() / "Interface"); // created with its parent, and nothing to back up
    game.run(service, BackupKind::addons, [](const Path& next) { writeFile(next / "A.toc", "a"); });
    EXPECT_EQ(journal, R"({"kind":"addons","work":")" + work + "\"}");
    EXPECT_EQ(snapshotTree(game.root() / "Interface"),
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
        {R"({"kind":"wtf","backup":")" + id + "\"}", "恢复日志与备份不匹配。" + kUnusableAdvice},
        {R"({"kind":"addons","backup":")" + other + "\"}", "恢复日志与备份不匹配。" + kUnusableAdvice},
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

    losePayloads = true; // the set-aside target goes back by rename: no backup copy needed
    EXPECT_EQ(attempt(), "操作失败，已恢复操作前状态：钩子失败");
    EXPECT_EQ(snapshotTree(game.addons()), before);
    EXPECT_EQ(names(game.manager()), (Names{"backups", "operation.lock"}));
}

// A rollback that cannot finish keeps the set-aside target whole and says where it is; the
// next recovery puts it back.
TEST(Transaction, AFailedRollbackKeepsTheSetAsideTargetAndSaysWhereItIs) {
    Game game;
    auto before = snapshotTree(game.addons());
    ManagerService service({}, [&] {
        for (const auto& name : game.backups()) {
            fs::remove_all(game.manager() / "backups" / name / "payload");
        }
        fs::remove_all(game.root() / "Interface"); // a file where the target's parent was: nothing can go back
        writeFile(game.root() / "Interface", "x");
        throw ManagerError("钩子失败");
    });
    const std::string message = failure([&] { game.run(service, BackupKind::addons, [](const Path&) {}); });
    Names work = names(game.manager());
    ASSERT_EQ(work.size(), 4u) << ::testing::PrintToString(work);
    const Path previous = game.manager() / work.at(3) / "previous";
    EXPECT_EQ(snapshotTree(previous), before);
    EXPECT_EQ(message, "操作失败且自动回滚未完成：无法检查路径：" + game.addons().native() +
                           "。备份和 active.json 已保留，请勿删除 .olvex-manager；重试或重新打开此目录可恢复。原来的 "
                           "AddOns 目录完整保存在“" +
                           previous.native() + "”。原错误：钩子失败");
    fs::remove(game.root() / "Interface");
    EXPECT_TRUE(ManagerService().recover(game.client));
    EXPECT_EQ(snapshotTree(game.addons()), before);
    EXPECT_EQ(names(game.manager()), (Names{"backups", "operation.lock"}));
}

// An interruption after the journal and before the target was set aside leaves the target as
// it is, with whatever the game wrote into it since: recovery copies nothing over it.
TEST(Recovery, LeavesATargetThatWasNeverSetAsideAsItIs) {
    Game game;
    ManagerService service;
    const LocalBackup backup =
        service.locked(game.client, [&] { return service.snapshot(BackupKind::addons, game.client, "测试"); });
    const Uuid work = Uuid::random();
    writeFile(game.manager() / ("work-" + work.text()) / "next/New/New.toc", "new");
    writeFile(game.manager() / "active.json",
              R"({"kind":"addons","backup":")" + backup.id.text() + R"(","work":")" + work.text() + "\"}");
    writeFile(game.addons() / "One/SavedLater.lua", "written by the game since");
    const auto before = snapshotTree(game.addons());
    struct ::stat kept {};
    ASSERT_EQ(::stat((game.addons() / "One/One.toc").c_str(), &kept), 0);
    EXPECT_TRUE(service.recover(game.client));
    EXPECT_EQ(snapshotTree(game.addons()), before);
    struct ::stat now {};
    ASSERT_EQ(::stat((game.addons() / "One/One.toc").c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, kept.st_ino) << "the file was copied over";
    EXPECT_EQ(names(game.manager()), (Names{"backups", "operation.lock"}));
}

#ifdef OLVEX_FAULT_INJECTION
// Failures that hit the end of a transaction or its rollback: the journal never outlives the
// operation unless the target is not whole, and the message says what is true.
TEST(Transaction, RollsBackWithoutSpaceAndNeverLeavesAJournalBehindAFailure) {
    Game game;
    const auto before = snapshotTree(game.addons());
    const Path journal = game.manager() / "active.json";
    // Fails the first call that `when` picks, once.
    auto once = [](std::function<bool(const sys::fault::Call&)> when) {
        return [when, done = false](const sys::fault::Call& call) mutable {
            if (done || !when(call)) {
                return 0;
            }
            done = true;
            return EIO;
        };
    };
    struct Case {
        std::string name;
        bool inHook; // armed by the commit's hook (which then fails), else before the run
        std::function<int(const sys::fault::Call&)> inject;
        std::string message;
    };
    const std::vector<Case> cases{
        {"the disk fills up after the set-aside", true, diskFull, "操作失败，已恢复操作前状态：钩子失败"},
        {"the journal's folder entry cannot be flushed", false,
         once([&](const sys::fault::Call& call) { return std::string(call.name) == "fsync" && fs::exists(journal); }),
         "操作失败，已恢复操作前状态：无法写入磁盘“" + game.manager().native() + "”：输入/输出错误。"},
        {"the rollback's last flush fails", true,
         once([&](const sys::fault::Call& call) { return std::string(call.name) == "fsync" && !fs::exists(journal); }),
         "操作失败，已恢复操作前状态：钩子失败"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManagerService service({}, [&] {
            if (c.inHook) {
                sys::fault::arm({.inject = c.inject});
            }
            throw ManagerError("钩子失败");
        });
        if (!c.inHook) {
            sys::fault::arm({.inject = c.inject});
        }
        const std::string message = failure([&] { game.run(service, BackupKind::addons, [](const Path&) {}); });
        sys::fault::disarm();
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(snapshotTree(game.addons()), before);
        EXPECT_FALSE(fs::exists(journal));
        EXPECT_EQ(names(game.manager()), (Names{"backups", "operation.lock"}));
        fs::remove_all(game.manager() / "backups");
    }
}

// Leftovers of finished work never fail the operation that sweeps them: a folder the player
// made read-only is made writable and removed, one that still cannot be removed is listed and
// tried again next time. The temporary file of an interrupted atomic write goes too.
TEST(Sweep, LeftoversNeverBlockTheFolderAndAreListedUntilRemoved) {
    Game game;
    ManagerService service;
    service.recover(game.client);
    const Path work = game.manager() / ("work-" + Uuid::random().text());
    const Path temporary = game.manager() / (".olvex-tmp-" + Uuid::random().text());
    const auto plant = [&] {
        writeFile(work / "previous/Locked/Locked.toc", "x");
        fs::permissions(work / "previous/Locked", fs::perms(0555));
        writeFile(temporary, "{\"kind\"");
    };
    // What the kernel does for anyone but root: no removal from a folder without write permission.
    const auto permissions = [](const sys::fault::Call& call) {
        struct ::stat folder {};
        return isRemoval(call) && ::stat(removedPath(call).parent_path().c_str(), &folder) == 0 &&
                       (folder.st_mode & S_IWUSR) == 0
                   ? EACCES
                   : 0;
    };
    const auto refused = [&](const sys::fault::Call& call) {
        return isRemoval(call) && removedPath(call).native().starts_with(work.native()) ? EACCES : 0;
    };

    plant();
    sys::fault::arm({.inject = permissions});
    EXPECT_FALSE(service.recover(game.client));
    sys::fault::disarm();
    EXPECT_EQ(names(game.manager()), (Names{"operation.lock"}));

    plant();
    sys::fault::arm({.inject = refused});
    EXPECT_FALSE(service.recover(game.client));
    game.run(service, BackupKind::addons, [](const Path& next) { writeFile(next / "Two/Two.toc", "2"); });
    sys::fault::disarm();
    EXPECT_EQ(service.leftovers(game.client), std::vector<Path>{work});
    EXPECT_EQ(readFile(game.addons() / "Two/Two.toc"), "2");
    EXPECT_FALSE(service.recover(game.client));
    EXPECT_EQ(service.leftovers(game.client), std::vector<Path>{});
}

// Until the journal's removal is on disk, a power loss can bring the journal back, and its
// recovery puts back the old target set aside in the work folder: that folder is kept whole
// until a sweep has flushed the journal's removal.
TEST(Transaction, KeepsTheSetAsideTargetUntilTheJournalsRemovalIsDurable) {
    Game game;
    ManagerService service;
    service.recover(game.client);
    const auto managerFlush = [&](const sys::fault::Call& call) {
        return std::string(call.name) == "fsync" &&
               fs::read_symlink("/proc/self/fd/" + std::to_string(call.fd)) == fs::canonical(game.manager());
    };
    bool journalRemoved = false;
    sys::fault::arm({.inject = [&](const sys::fault::Call& call) {
        journalRemoved =
            journalRemoved || (std::string(call.name) == "unlink" && Path(call.path).filename() == "active.json");
        return journalRemoved && managerFlush(call) ? EIO : 0;
    }});
    game.run(service, BackupKind::addons, [](const Path& next) { writeFile(next / "Two/Two.toc", "2"); });
    sys::fault::disarm();
    EXPECT_EQ(names(game.addons()), Names{"Two"});
    const std::vector<Path> kept = service.leftovers(game.client);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(readFile(kept[0] / "previous/One/sub/deep/file.lua"), "print(1)");

    sys::fault::arm({.inject = [&](const sys::fault::Call& call) { return managerFlush(call) ? EIO : 0; }});
    service.recover(game.client);
    sys::fault::disarm();
    EXPECT_EQ(service.leftovers(game.client), kept);
    service.recover(game.client);
    EXPECT_EQ(service.leftovers(game.client), std::vector<Path>{});
}

// The volume flush's descriptor is opened before the copy it covers writes anything: one
// opened afterwards would not hear of a write-back failure that another sync collected. On a
// per-file volume (FUSE; forced here as well) there is no volume flush: each file written is
// flushed before it is closed.
TEST(Durability, TheVolumeFlushIsOpenedBeforeTheWritesItCovers) {
    Game game;
    writeFile(game.root() / "WTF/Config.wtf", "SET a \"1\"\n");
    ManagerService service;
    const LocalBackup backup =
        service.locked(game.client, [&] { return service.snapshot(BackupKind::addons, game.client, "测试"); });
    const std::vector<std::pair<std::string, std::function<void()>>> cases{
        {"backup", [&] { service.backupWTF(game.client); }},
        {"recovery from a backup",
         [&] {
             writeFile(game.manager() / "active.json", R"({"kind":"addons","backup":")" + backup.id.text() + "\"}");
             service.recover(game.client);
         }},
    };
    for (const bool perFile : {false, true}) {
        sys::fault::reportFuse(perFile);
        const bool whole = FileSafety::wholeVolumeFlush(game.root());
        for (const auto& [name, run] : cases) {
            SCOPED_TRACE(name + (whole ? " (whole volume)" : " (per file)"));
            std::vector<std::string> calls; // "write" (also a kernel copy), "syncfs", or "open folder"
            std::set<int> unflushed;
            int closedUnflushed = 0;
            sys::fault::arm({.inject = [&](const sys::fault::Call& call) {
                const std::string what = call.name;
                if (what == "write" || what == "copyFileRange") {
                    calls.push_back("write");
                    unflushed.insert(call.fd);
                } else if (what == "fsync") {
                    unflushed.erase(call.fd);
                } else if (what == "close") {
                    closedUnflushed += static_cast<int>(unflushed.erase(call.fd));
                } else if (what == "syncfs") {
                    calls.push_back(what);
                } else if (what == "open" && fs::is_directory(call.path)) {
                    calls.push_back("open folder");
                }
                return 0;
            }});
            run();
            sys::fault::disarm();
            const auto flush = std::find(calls.begin(), calls.end(), "syncfs");
            const auto written = std::find(calls.begin(), flush, "write");
            ASSERT_NE(written, flush);
            if (!whole) {
                EXPECT_EQ(flush, calls.end());
                EXPECT_EQ(closedUnflushed, 0) << "a file was closed before it was flushed";
                continue;
            }
            ASSERT_NE(flush, calls.end());
            const auto opened = std::find(std::make_reverse_iterator(flush), calls.rend(), "open folder");
            ASSERT_NE(opened, calls.rend());
            EXPECT_LT(calls.rend() - opened, written - calls.begin() + 1)
                << "the flushed folder was opened after a write";
        }
    }
    sys::fault::reportFuse(false);
}
#endif

// An empty, cut-short, overwritten or hugely grown journal is reported as a damaged journal,
// in Chinese, naming the file; nothing is changed until the player sets it aside, which keeps
// it under a dated name. A journal that still reads is never set aside.
TEST(Recovery, ADamagedJournalIsNamedInChineseAndCanOnlyBeSetAside) {
    Game game;
    ManagerService service;
    service.recover(game.client); // the manager folder exists from here on
    const Path journal = game.manager() / "active.json";
    const std::string damaged = "恢复日志“" + journal.native() + "”已损坏：";
    const auto before = snapshotTree(game.root());
    const std::vector<std::tuple<std::string, std::function<void()>, std::string>> cases{
        {"empty", [&] { writeFile(journal, ""); }, "文件是空的"},
        {"cut short", [&] { writeFile(journal, R"({"kind":"add)"); }, "内容不完整（第 1 行第 13 列）"},
        {"NUL-filled", [&] { writeFile(journal, std::string(64, '\0')); },
         "不是有效的 JSON（第 1 行第 1 列，应为'['、'{'或值）"},
        {"sparse 4 GiB", [&] { writeFile(journal, "{}"), fs::resize_file(journal, 4ull << 30); }, "文件过大"},
    };
    for (const auto& [name, make, what] : cases) {
        SCOPED_TRACE(name);
        make();
        const std::string content = name == "sparse 4 GiB" ? "" : readFile(journal);
        EXPECT_EQ(failure([&] { service.recover(game.client); }), damaged + what + "。" + kJournalAdvice);
        EXPECT_TRUE(service.hasPendingRecovery(game.client));
        const Path aside = service.setAsideJournal(game.client).aside;
        EXPECT_EQ(aside.parent_path(), game.manager());
        EXPECT_TRUE(aside.filename().native().starts_with("active.json.damaged-")) << aside;
        EXPECT_FALSE(fs::exists(journal));
        if (!content.empty() || name == "empty") {
            EXPECT_EQ(readFile(aside), content);
        }
        fs::remove(aside);
        EXPECT_FALSE(service.recover(game.client));
    }
    EXPECT_EQ(snapshotTree(game.root()), before);
    EXPECT_EQ(failure([&] { service.setAsideJournal(game.client); }), "没有恢复日志，无需移开。");
    writeFile(journal, R"({"kind":"wtf"})");
    EXPECT_EQ(failure([&] { service.setAsideJournal(game.client); }), "恢复日志完好，请直接恢复，不要移开它。");
    EXPECT_TRUE(service.recover(game.client)); // it names no backup, and there is no WTF to keep
}

// Each stage is reported before the tree is sized, so that a long sizing shows its stage and
// a cancel is heard: a refused entry found while sizing comes after the report.
TEST(Transaction, ReportsItsStageBeforeSizingTheTree) {
    Game game;
    ASSERT_EQ(::mkfifo((game.addons() / "One/pipe").c_str(), 0600), 0);
    const std::string refused = "拒绝链接或特殊文件：" + (game.addons() / "One/pipe").native();
    std::vector<OperationStage> stages;
    OperationControl control([&](OperationStage stage) { stages.push_back(stage); });
    ManagerService service;
    ManagerService::ControlScope scope(service, &control);
    EXPECT_EQ(failure([&] { game.run(service, BackupKind::addons, [](const Path&) {}); }), refused);
    EXPECT_EQ(stages, std::vector<OperationStage>{OperationStage::preparing});
    stages.clear();
    EXPECT_EQ(failure([&] { service.snapshot(BackupKind::addons, game.client, "测试"); }), refused);
    EXPECT_EQ(stages, std::vector<OperationStage>{OperationStage::backingUp});
}

TEST(Frame, RefusesAnythingButAVersionFolder) {
    TempDir dir;
    writeFile(dir / "_classic_", "a file");
    makeDirs(dir / "real/_retail_");
    fs::create_directory_symlink(dir / "real/_retail_", dir / "_beta_");
    const std::string tooLong = (dir / std::string(300, 'a')).native(); // the component the system refuses
    const std::pair<std::string, std::string> cases[] = {
        {"_classic_", "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。"},
        {"_ptr_", "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。"},
        {"_beta_", "拒绝链接或特殊文件：" + (dir / "_beta_").native()},
        {std::string(300, 'a') + "/_retail_", "路径过长，超出系统限制：" + tooLong.substr(0, 40) + "…" +
                                                  tooLong.substr(tooLong.size() - 40) + "（共 " +
                                                  std::to_string(tooLong.size()) + " 字节）。"},
    };
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(failure([&] { ManagerService().recover(GameClient(dir / name)); }), message);
        std::error_code unreachable;
        EXPECT_FALSE(fs::exists(dir / name / ".olvex-manager", unreachable));
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

namespace {

const std::string kKeptReason = "（无法确认由被中断的操作写入，已保留）";

// The backups whose reason says a rollback kept them, with what each holds.
std::vector<std::pair<LocalBackup, std::map<std::string, std::string>>> keptByRollback(Game& game) {
    std::vector<std::pair<LocalBackup, std::map<std::string, std::string>>> kept;
    for (const auto& backup : game.service.backups(game.client)) {
        if (backup.reason.starts_with("回滚时移出的")) {
            kept.emplace_back(backup, snapshotTree(ManagerService::backupFolder(game.client, backup.id) / "payload"));
        }
    }
    return kept;
}

} // namespace

// A rollback deletes nothing it cannot prove this system made. A journal that names no backup
// says only that there was no target before: whatever is there now may be the game's, so it
// goes into the backup store whole; and the old target set aside in the work folder comes back
// whether or not the journal names a backup.
TEST(Recovery, NeverDeletesATargetItCannotProveItMade) {
    using Tree = std::map<std::string, std::string>;
    const Tree theGames{{"Config.wtf", "SET a \"1\"\n"}, {"Account", "<dir>"}, {"Account/A.txt", "mine"}};
    const Tree found{{"Found.txt", "found"}};
    const Tree built{{"New.txt", "new"}};
    struct Case {
        std::string name;
        BackupKind kind;
        bool previous;   // the game's folder set aside in the work folder
        bool next;       // the new content not yet moved into place
        Tree atTarget;   // what is at the target (nothing when empty)
        bool comesBack;  // the set-aside folder is the target again
        size_t keptAway; // backups the rollback made of what it found at the target
    };
    const std::vector<Case> cases{
        {"WTF, no work folder", BackupKind::wtf, false, false, theGames, false, 1},
        {"AddOns, no work folder", BackupKind::addons, false, false, theGames, false, 1},
        {"WTF set aside, new one in place", BackupKind::wtf, true, false, built, true, 0},
        {"WTF set aside, none in place", BackupKind::wtf, true, true, {}, true, 0},
        {"WTF set aside, another in place", BackupKind::wtf, true, true, found, true, 1},
        {"never set aside, the game made one", BackupKind::wtf, false, true, theGames, false, 0},
    };
    const auto plant = [](const Path& folder, const Tree& tree) {
        makeDirs(folder);
        for (const auto& [path, content] : tree) {
            content == "<dir>" ? makeDirs(folder / path) : writeFile(folder / path, content);
        }
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Game game;
        game.service.recover(game.client);
        const Path target = ManagerService::targetFolder(c.kind, game.client);
        fs::remove_all(target);
        const Uuid work = Uuid::random();
        const Path workFolder = game.manager() / ("work-" + work.text());
        if (c.previous) {
            plant(workFolder / "previous", theGames);
        }
        if (c.next) {
            plant(workFolder / "next", built);
        }
        if (!c.atTarget.empty()) {
            plant(target, c.atTarget);
        }
        const auto atTarget = snapshotTree(target);
        writeFile(game.manager() / "active.json",
                  R"({"kind":")" + rawValue(c.kind) + R"(","work":")" + work.text() + "\"}");

        EXPECT_TRUE(game.service.recover(game.client));
        EXPECT_FALSE(fs::exists(game.manager() / "active.json"));
        const auto kept = keptByRollback(game);
        ASSERT_EQ(kept.size(), c.keptAway);
        if (c.comesBack) {
            EXPECT_EQ(snapshotTree(target), theGames);
        } else if (c.keptAway == 0) {
            EXPECT_EQ(snapshotTree(target), atTarget); // never touched
        } else {
            EXPECT_FALSE(fs::exists(target));
        }
        if (c.keptAway == 1) {
            EXPECT_EQ(kept[0].first.kind, c.kind);
            EXPECT_EQ(kept[0].first.reason, "回滚时移出的" + title(c.kind) + kKeptReason);
            EXPECT_EQ(kept[0].second, c.atTarget);
        }
        Names left = names(game.manager());
        std::erase(left, "backups");
        EXPECT_EQ(left, Names{"operation.lock"});
    }
}

#ifdef OLVEX_FAULT_INJECTION
// A transaction on a folder without WTF writes a journal naming no backup. Should the game make
// WTF between that decision and the swap, its WTF is set aside all the same: a failure puts it
// back, a success keeps it as a backup; neither deletes it with the work folder.
TEST(Transaction, AWtfTheGameMadeMidwayIsNeverDeleted) {
    for (const bool fails : {true, false}) {
        SCOPED_TRACE(fails ? "the commit fails" : "the commit succeeds");
        Game game;
        ManagerService service({}, [&] {
            if (fails) {
                throw ManagerError("钩子失败");
            }
        });
        const std::map<std::string, std::string> theGames{{"Config.wtf", "SET b \"2\"\n"}};
        // Just before the journal is renamed into place, the game writes its WTF.
        sys::fault::arm({.inject = [&](const sys::fault::Call& call) {
            if (std::string(call.name) == "rename" && Path(call.to).filename() == "active.json") {
                writeFile(game.wtf() / "Config.wtf", "SET b \"2\"\n");
            }
            return 0;
        }});
        const std::string message = failure(
            [&] { game.run(service, BackupKind::wtf, [](const Path& next) { writeFile(next / "New.wtf", "n"); }); });
        sys::fault::disarm();
        EXPECT_EQ(message, fails ? "操作失败，已恢复操作前状态：钩子失败" : "");
        const auto kept = keptByRollback(game);
        if (fails) {
            EXPECT_EQ(snapshotTree(game.wtf()), theGames);
            EXPECT_EQ(kept.size(), 0u);
        } else {
            EXPECT_EQ(snapshotTree(game.wtf()), (std::map<std::string, std::string>{{"New.wtf", "n"}}));
            ASSERT_EQ(kept.size(), 1u);
            EXPECT_EQ(kept[0].second, theGames);
        }
    }
}
#endif

// A journal whose backup is gone or damaged cannot be carried out: recovery says what is wrong
// and what to do, the report for status and the window says the same, and the way out that a
// damaged journal has takes this one too, saying why. A journal whose old target is still set
// aside needs no backup and is rolled back, never set aside.
TEST(Recovery, AJournalThatCannotBeCarriedOutHasTheWayOutToo) {
    const std::string& advice = kUnusableAdvice;
    Game game;
    const LocalBackup backup = game.snapshot(BackupKind::addons);
    const Path folder = ManagerService::backupFolder(game.client, backup.id);
    const std::string missing = Uuid::random().text();
    const std::vector<std::tuple<std::string, std::string, std::function<void()>, std::string>> cases{
        {"no such backup", missing, [] {},
         "无法读取“" + (game.manager() / "backups" / missing / "metadata.json").native() + "”：文件或目录不存在。"},
        {"record damaged", backup.id.text(), [&] { writeFile(folder / "metadata.json", "{"); },
         "备份记录“" + (folder / "metadata.json").native() + "”已损坏："},
        {"payload gone", backup.id.text(),
         [&] {
             writeFile(folder / "metadata.json", json::encode(toJson(backup)));
             fs::remove_all(folder / "payload");
         },
         "恢复备份丢失，已停止操作。"},
    };
    const auto before = snapshotTree(game.addons());
    for (const auto& [name, id, damage, problem] : cases) {
        SCOPED_TRACE(name);
        damage();
        writeFile(game.manager() / "active.json", R"({"kind":"addons","backup":")" + id + "\"}");
        const std::string refused = failure([&] { game.service.recover(game.client); });
        EXPECT_TRUE(refused.starts_with(problem)) << refused;
        EXPECT_TRUE(refused.ends_with(advice)) << refused;
        const FolderAttention attention = game.service.attention(game.client);
        EXPECT_TRUE(attention.pendingRecovery);
        EXPECT_EQ(attention.recoveryProblem, refused);
        const JournalSetAside aside = game.service.setAsideJournal(game.client);
        EXPECT_EQ(aside.reason, refused);
        EXPECT_TRUE(aside.aside.filename().native().starts_with("active.json.damaged-"));
        fs::remove(aside.aside);
        EXPECT_EQ(game.service.attention(game.client).recoveryProblem, "");
        EXPECT_EQ(snapshotTree(game.addons()), before);
    }
    // The old target still set aside: no backup needed, so nothing to set the journal aside for.
    const Uuid work = Uuid::random();
    makeDirs(game.manager() / ("work-" + work.text()));
    fs::rename(game.addons(), game.manager() / ("work-" + work.text()) / "previous");
    writeFile(game.manager() / "active.json",
              R"({"kind":"addons","backup":")" + missing + R"(","work":")" + work.text() + "\"}");
    EXPECT_EQ(game.service.attention(game.client).recoveryProblem, "");
    EXPECT_EQ(failure([&] { game.service.setAsideJournal(game.client); }), "恢复日志完好，请直接恢复，不要移开它。");
    EXPECT_TRUE(game.service.recover(game.client));
    EXPECT_EQ(snapshotTree(game.addons()), before);
}

// While another process holds the folder's lease its work folders are its own: the report says
// an operation is running and lists none of them as left over. A folder being deleted (its
// deletion lock held) is not left over either, and no sweep takes it from under its deleter.
TEST(Attention, AnOperationInAnotherProcessAndAFolderBeingDeletedAreNotLeftovers) {
    Game game;
    game.service.recover(game.client);
    const Path work = game.manager() / ("work-" + Uuid::random().text());
    const Path trash = game.manager() / ("trash-" + Uuid::random().text());
    writeFile(work / "next/x", "x");
    writeFile(trash / "previous/y", "y");
    {
        ClientLock another(game.manager());
        const FolderAttention running = game.service.attention(game.client);
        EXPECT_TRUE(running.operationRunning);
        EXPECT_EQ(running.leftovers, std::vector<Path>{});
    }
    {
        DeletionLock deleting(trash);
        ASSERT_FALSE(deleting.heldElsewhere());
        const FolderAttention idle = game.service.attention(game.client);
        EXPECT_FALSE(idle.operationRunning);
        EXPECT_EQ(idle.leftovers, std::vector<Path>{work});
        game.service.recover(game.client);
        EXPECT_EQ(names(game.manager()), (Names{"operation.lock", trash.filename().native()}));
    }
    EXPECT_EQ(game.service.attention(game.client).leftovers, std::vector<Path>{trash});
}

#ifdef OLVEX_FAULT_INJECTION
// The space check counts the files of a set-aside folder that another process is deleting now as
// free, also while that process takes parts of it away under the measurement; a folder that
// nobody deletes is not counted.
TEST(SpaceCheck, WhatAnotherProcessIsDeletingCountsAsFree) {
    Game game;
    game.free = 100 * 1000;
    const Path trash = game.manager() / ("trash-" + Uuid::random().text());
    writeFile(trash / "previous/a/file", std::string(600 * 1000, 'a'));
    writeFile(trash / "previous/b/file", std::string(600 * 1000, 'b'));
    const auto require = [&](std::int64_t bytes) { game.service.requireSpace(game.client, bytes * 1000); };
    EXPECT_EQ(failure([&] { require(600); }),
              "磁盘空间不足：至少需要 600 KB，剩余 100 KB。请导出旧备份或释放空间后重试。");

    DeletionLock deleting(trash);
    ASSERT_FALSE(deleting.heldElsewhere());
    EXPECT_EQ(game.service.requireSpace(game.client, 1300 * 1000), 1300 * 1000);
    bool taken = false;
    sys::fault::arm({.inject = [&](const sys::fault::Call& call) {
        const std::string name = call.path;
        if (!taken && std::string_view(call.name) == "openat" && (name == "a" || name == "b")) {
            fs::remove_all(trash / "previous" / name);
            taken = true;
        }
        return 0;
    }});
    EXPECT_EQ(failure([&] { require(700); }), "");
    sys::fault::disarm();
    EXPECT_TRUE(taken);
}
#endif
