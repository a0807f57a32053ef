#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "records/Errors.h"
#include "records/Json.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kPending = "存在待恢复事务，所有备份均已保护。请先恢复中断操作。";

struct Game {
    TempDir dir;
    Path root = dir / "_retail_";
    GameClient client{root};
    Game() { makeDirs(root); }
    Path manager() const { return root / ".olvex-manager"; }
    Path store() const { return manager() / "backups"; }
    Path recycled() const { return manager() / "recycled-backups"; }

    // Writes a complete backup folder by hand, so that dates and sizes are the test's own.
    LocalBackup plant(BackupKind kind, double date, const std::string& reason = "自动备份",
                      std::optional<std::int64_t> byteCount = std::nullopt, bool lowerCaseName = false) {
        LocalBackup record{Uuid::random(), Date{date}, kind, reason, byteCount};
        Path folder = store() / (lowerCaseName ? lowered(record.id.text()) : record.id.text());
        writeFile(folder / "metadata.json", json::encode(toJson(record)));
        writeFile(folder / "payload/Addon/file.lua", "payload of " + record.id.text());
        return record;
    }
    static std::string lowered(std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), ::tolower);
        return text;
    }
    std::vector<std::string> names(const Path& folder) const {
        std::vector<std::string> out;
        if (fs::exists(folder)) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                out.push_back(entry.path().filename());
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

std::string failure(const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

std::vector<Uuid> ids(const std::vector<LocalBackup>& records) {
    std::vector<Uuid> out;
    for (const auto& record : records) {
        out.push_back(record.id);
    }
    return out;
}

std::vector<std::string> sortedTexts(std::vector<LocalBackup> records) {
    std::vector<std::string> out;
    for (const auto& record : records) {
        out.push_back(record.id.text());
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(BackupStore, ListsOnlyValidBackupsNewestFirst) {
    Game game;
    ManagerService service;
    EXPECT_TRUE(service.backups(game.client).empty()); // no store yet

    LocalBackup oldest = game.plant(BackupKind::addons, 100);
    LocalBackup newest = game.plant(BackupKind::wtf, 300);
    LocalBackup middle = game.plant(BackupKind::addons, 200, "小写", std::nullopt, true);

    // Invisible: each of these is skipped, none is an error.
    LocalBackup other = game.plant(BackupKind::wtf, 400);
    fs::rename(game.store() / other.id.text(), game.store() / Uuid::random().text()); // id differs from name
    fs::rename(game.store() / game.plant(BackupKind::wtf, 500).id.text(), game.store() / "not-a-uuid");
    fs::remove_all(game.store() / game.plant(BackupKind::wtf, 600).id.text() / "payload");
    LocalBackup filePayload = game.plant(BackupKind::wtf, 610);
    fs::remove_all(game.store() / filePayload.id.text() / "payload");
    writeFile(game.store() / filePayload.id.text() / "payload", "file");
    writeFile(game.store() / game.plant(BackupKind::wtf, 700).id.text() / "metadata.json", "{\"id\":");
    LocalBackup badKind = game.plant(BackupKind::wtf, 800);
    writeFile(game.store() / badKind.id.text() / "metadata.json",
              "{\"id\":\"" + badKind.id.text() + "\",\"date\":800,\"kind\":\"maps\",\"reason\":\"r\"}");
    fs::remove(game.store() / game.plant(BackupKind::wtf, 900).id.text() / "metadata.json");
    LocalBackup dirRecord = game.plant(BackupKind::wtf, 910);
    fs::remove(game.store() / dirRecord.id.text() / "metadata.json");
    makeDirs(game.store() / dirRecord.id.text() / "metadata.json");
    LocalBackup huge = game.plant(BackupKind::wtf, 920, std::string(2 << 20, 'x'));
    writeFile(game.store() / Uuid::random().text(), "a plain file named like a backup");
    auto before = snapshotTree(game.store());

    EXPECT_EQ(ids(service.backups(game.client)), (std::vector<Uuid>{newest.id, middle.id, oldest.id}));
    EXPECT_EQ(service.backups(game.client)[0], newest);
    EXPECT_EQ(snapshotTree(game.store()), before); // nothing moved or deleted

    // A link inside the store fails the listing (after the positive control above), whatever
    // it points at: in place of a backup folder, of a record file or of a payload.
    Path outside = game.dir / "outside";
    makeDirs(outside);
    for (const Path& target : {game.store() / Uuid::random().text(), game.store() / newest.id.text() / "metadata.json",
                               game.store() / oldest.id.text() / "payload"}) {
        SCOPED_TRACE(target.native());
        Path aside = game.dir / "aside";
        bool existed = fs::exists(target);
        if (existed) {
            fs::rename(target, aside);
        }
        fs::create_directory_symlink(outside, target);
        EXPECT_EQ(failure([&] { service.backups(game.client); }), "拒绝链接或特殊文件：" + target.native());
        fs::remove(target);
        if (existed) {
            fs::rename(aside, target);
        }
    }
    EXPECT_EQ(service.backups(game.client).size(), 3u);
    EXPECT_EQ(failure([&] { service.backups(GameClient(game.dir / "_retail_x")); }),
              "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。");
}

TEST(BackupStore, DetailsUseTheRecordedSizeOrMeasureTheWholeFolder) {
    Game game;
    ManagerService service;
    LocalBackup recorded = game.plant(BackupKind::addons, 10, "r", 123'456'789);
    LocalBackup measured = game.plant(BackupKind::wtf, 20, "r");
    LocalBackup lower = game.plant(BackupKind::wtf, 5, "r", std::nullopt, true);
    std::string lowerName = Game::lowered(lower.id.text());

    auto sizeOf = [&](const std::string& name) {
        Path folder = game.store() / name;
        return static_cast<std::int64_t>(fs::file_size(folder / "metadata.json") +
                                         fs::file_size(folder / "payload/Addon/file.lua"));
    };
    auto details = service.backupDetails(game.client);
    ASSERT_EQ(details.size(), 3u);
    EXPECT_EQ(details[0], (BackupDetails{measured, sizeOf(measured.id.text())}));
    EXPECT_EQ(details[1], (BackupDetails{recorded, 123'456'789})); // the disk is not consulted
    EXPECT_EQ(details[2], (BackupDetails{lower, sizeOf(lowerName)}));
}

TEST(BackupStore, ManualWtfBackupRunsUnderTheLeaseAndReportsBackingUp) {
    Game game;
    ManagerService service;
    EXPECT_EQ(failure([&] { service.backupWTF(game.client); }), "未找到 WTF 配置 目录，无法备份。");
    EXPECT_TRUE(service.backups(game.client).empty());

    writeFile(game.root / "WTF/Config.wtf", "SET locale \"zhCN\"\n");
    writeFile(game.root / "WTF/Account/ABC/SavedVariables/x.lua", "x = 1");
    std::vector<OperationStage> stages;
    OperationControl control([&](OperationStage stage) { stages.push_back(stage); });
    LocalBackup made = service.backupWTF(game.client, &control);
    EXPECT_EQ(service.control(), nullptr);
    EXPECT_EQ(stages, (std::vector<OperationStage>{OperationStage::backingUp}));
    EXPECT_EQ(made.kind, BackupKind::wtf);
    EXPECT_EQ(made.reason, "手动配置备份");
    EXPECT_EQ(service.backups(game.client), (std::vector<LocalBackup>{made}));
    EXPECT_EQ(snapshotTree(game.store() / made.id.text() / "payload"), snapshotTree(game.root / "WTF"));

    // Another holder of the version folder's lease makes it fail at once.
    ClientLock other(game.manager());
    EXPECT_EQ(failure([&] { service.backupWTF(game.client); }), "另一个管理器正在操作此游戏目录，请稍后再试。");
    EXPECT_EQ(service.backups(game.client).size(), 1u);
}

TEST(BackupStore, RetainRecyclesAllButTheNewestOfEachKind) {
    Game game;
    ManagerService service;
    std::vector<LocalBackup> addons, wtf;
    for (int i = 0; i < 3; ++i) {
        addons.push_back(game.plant(BackupKind::addons, 1000 + i));
    }
    for (int i = 0; i < 7; ++i) {
        wtf.push_back(game.plant(BackupKind::wtf, 2000 + i));
    }
    auto oldestWtf = snapshotTree(game.store() / wtf[0].id.text());

    EXPECT_EQ(failure([&] { service.retainBackups(0, game.client); }), "至少保留一份备份。");
    EXPECT_EQ(service.backups(game.client).size(), 10u);
    EXPECT_FALSE(fs::exists(game.recycled()));

    service.retainBackups(5, game.client);
    EXPECT_EQ(game.names(game.recycled()), sortedTexts({wtf[0], wtf[1]}));
    EXPECT_EQ(snapshotTree(game.recycled() / wtf[0].id.text()), oldestWtf); // moved whole
    auto listed = service.backups(game.client);
    EXPECT_EQ(ids(listed), (std::vector<Uuid>{wtf[6].id, wtf[5].id, wtf[4].id, wtf[3].id, wtf[2].id, addons[2].id,
                                              addons[1].id, addons[0].id}));

    service.retainBackups(1, game.client);
    EXPECT_EQ(ids(service.backups(game.client)), (std::vector<Uuid>{wtf[6].id, addons[2].id}));
    EXPECT_EQ(game.names(game.recycled()).size(), 8u);
}

TEST(BackupStore, RecyclingRefusesStaleRecordsAndPendingTransactions) {
    Game game;
    ManagerService service;
    LocalBackup first = game.plant(BackupKind::addons, 10);
    LocalBackup second = game.plant(BackupKind::addons, 20);
    auto before = snapshotTree(game.store());

    LocalBackup stale = first;
    stale.reason = "另一个原因";
    EXPECT_EQ(failure([&] { service.recycleBackup(stale, game.client); }), "备份记录不匹配。");
    LocalBackup staleSize = first;
    staleSize.byteCount = 1;
    EXPECT_EQ(failure([&] { service.recycleBackup(staleSize, game.client); }), "备份记录不匹配。");
    EXPECT_EQ(snapshotTree(game.store()), before);

    // A recycled folder of that name already there: nothing moved, nothing replaced.
    makeDirs(game.recycled() / first.id.text());
    EXPECT_EQ(failure([&] { service.recycleBackup(first, game.client); }),
              "无法移动“" + (game.store() / first.id.text()).native() + "”：目标已存在。");
    EXPECT_EQ(snapshotTree(game.store()), before);
    fs::remove(game.recycled() / first.id.text());

    {
        ClientLock other(game.manager());
        EXPECT_EQ(failure([&] { service.recycleBackup(first, game.client); }),
                  "另一个管理器正在操作此游戏目录，请稍后再试。");
        EXPECT_EQ(failure([&] { service.recoverRecycledBackups(game.client); }),
                  "另一个管理器正在操作此游戏目录，请稍后再试。");
    }
    EXPECT_EQ(snapshotTree(game.store()), before);

    // A pending journal protects every backup; bringing back still works.
    service.recycleBackup(first, game.client);
    writeFile(game.manager() / "active.json", "{\"kind\":\"addons\",\"backup\":\"" + second.id.text() + "\"}");
    EXPECT_EQ(failure([&] { service.recycleBackup(second, game.client); }), kPending);
    EXPECT_EQ(failure([&] { service.retainBackups(1, game.client); }), ""); // one addons backup left
    game.plant(BackupKind::addons, 30);
    EXPECT_EQ(failure([&] { service.retainBackups(1, game.client); }), kPending);
    EXPECT_TRUE(fs::exists(game.store() / second.id.text() / "payload"));
    service.recoverRecycledBackups(game.client);
    EXPECT_EQ(service.backups(game.client).back(), first); // back with the same record
    EXPECT_FALSE(fs::exists(game.recycled() / first.id.text()));
}

TEST(BackupStore, BringingBackStopsAtAnIdConflictAndLeavesTheRestRecycled) {
    Game game;
    ManagerService service;
    service.recoverRecycledBackups(game.client); // nothing recycled: succeeds, changes nothing
    EXPECT_FALSE(fs::exists(game.recycled()));

    LocalBackup kept = game.plant(BackupKind::wtf, 10);
    LocalBackup recycled = game.plant(BackupKind::wtf, 5);
    service.recycleBackup(recycled, game.client);
    makeDirs(game.recycled() / "notes"); // not a UUID: stays
    service.recoverRecycledBackups(game.client);
    EXPECT_EQ(ids(service.backups(game.client)), (std::vector<Uuid>{kept.id, recycled.id}));
    EXPECT_EQ(game.names(game.recycled()), (std::vector<std::string>{"notes"}));

    // A recycled twin of a listed backup (in either spelling) stops the request; the store is untouched.
    service.recycleBackup(recycled, game.client);
    std::string twin = Game::lowered(kept.id.text());
    fs::copy(game.store() / kept.id.text(), game.recycled() / twin, fs::copy_options::recursive);
    auto store = snapshotTree(game.store());
    auto bin = snapshotTree(game.recycled());
    EXPECT_EQ(failure([&] { service.recoverRecycledBackups(game.client); }), "备份 ID 冲突，已停止恢复。");
    // Entries moved before the conflict stay moved; the twin and the rest stay recycled.
    for (const auto& [path, content] : snapshotTree(game.store())) {
        if (store.count(path) == 0) {
            EXPECT_EQ(bin.at(path), content) << path;
        }
    }
    EXPECT_TRUE(fs::exists(game.recycled() / twin / "payload"));
    EXPECT_EQ(snapshotTree(game.store() / kept.id.text()), snapshotTree(game.recycled() / twin));
}
