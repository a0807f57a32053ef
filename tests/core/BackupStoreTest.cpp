#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "base/Errors.h"
#include "base/Json.h"
#include "service/ManagerService.h"
#include "support/GameFixture.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kPending = "存在待恢复事务，所有备份均已保护。请先恢复中断操作。";
const std::string kLeaseHeld = "另一个管理器正在操作此游戏目录，请稍后再试。";

std::string lowered(const Uuid& id) {
    std::string text = id.text();
    std::transform(text.begin(), text.end(), text.begin(), ::tolower);
    return text;
}

// The fixture's backup store, filled by hand.
struct Store : GameFixture {
    Path store() const { return manager() / "backups"; }
    Path bin() const { return manager() / "recycled-backups"; }

    // A complete backup folder written by hand, so that dates and sizes are the test's own.
    LocalBackup plant(BackupKind kind, double date, std::optional<std::int64_t> bytes = {}, bool lowerName = false) {
        LocalBackup record{Uuid::random(), Date{date}, kind, "自动备份", bytes};
        Path folder = store() / (lowerName ? lowered(record.id) : record.id.text());
        writeFile(folder / "metadata.json", json::encode(toJson(record)));
        writeFile(folder / "payload/Addon/file.lua", "payload of " + record.id.text());
        return record;
    }
    Path planted(double date) { return store() / plant(BackupKind::wtf, date).id.text(); }
    std::vector<LocalBackup> listed() { return service.backups(client); }
};

} // namespace

TEST(BackupStore, ListsOnlyValidBackupsNewestFirstWithTheirSizes) {
    Store g;
    EXPECT_TRUE(g.listed().empty()); // no store yet
    LocalBackup oldest = g.plant(BackupKind::addons, 100, 123'456'789);
    LocalBackup newest = g.plant(BackupKind::wtf, 300);
    LocalBackup middle = g.plant(BackupKind::addons, 200, {}, true);
    // Invisible, never an error: id not the name, name no UUID, no payload, a file as payload, a damaged
    // or foreign record, no record, a folder as record, an oversized record, a file named like a backup.
    fs::rename(g.planted(400), g.store() / Uuid::random().text());
    fs::rename(g.planted(500), g.store() / "not-a-uuid");
    fs::remove_all(g.planted(600) / "payload");
    Path filePayload = g.planted(610) / "payload";
    fs::remove_all(filePayload);
    writeFile(filePayload, "file");
    Path badKind = g.planted(700);
    writeFile(badKind / "metadata.json",
              "{\"id\":\"" + badKind.filename().native() + "\",\"date\":700,\"kind\":\"maps\",\"reason\":\"\"}");
    writeFile(g.planted(710) / "metadata.json", "{\"id\":");
    fs::remove(g.planted(800) / "metadata.json");
    Path folderRecord = g.planted(810) / "metadata.json";
    fs::remove(folderRecord);
    makeDirs(folderRecord);
    LocalBackup huge = g.plant(BackupKind::wtf, 900);
    huge.reason = std::string(2 << 20, 'x');
    writeFile(g.store() / huge.id.text() / "metadata.json", json::encode(toJson(huge)));
    writeFile(g.store() / Uuid::random().text(), "a plain file");
    auto before = snapshotTree(g.store());

    auto measured = [&](const std::string& name) {
        return std::int64_t(fs::file_size(g.store() / name / "metadata.json") +
                            fs::file_size(g.store() / name / "payload/Addon/file.lua"));
    };
    EXPECT_EQ(g.service.backupDetails(g.client),
              (std::vector<BackupDetails>{{newest, measured(newest.id.text())},
                                          {middle, measured(lowered(middle.id))},
                                          {oldest, 123'456'789}})); // recorded: the disk is not consulted
    EXPECT_EQ(snapshotTree(g.store()), before);

    makeDirs(g.dir / "outside"); // a link as a backup, a record or a payload fails the listing
    for (const char* inside : {"", "metadata.json", "payload"}) {
        Path folder = g.planted(50), target = *inside ? folder / inside : folder;
        fs::remove_all(target);
        fs::create_directory_symlink(g.dir / "outside", target);
        EXPECT_EQ(failure([&] { g.service.backups(g.client); }), "拒绝链接或特殊文件：" + target.native());
        fs::remove_all(folder);
    }
    EXPECT_EQ(g.listed().size(), 3u);
}

TEST(BackupStore, ManualBackupCopiesTheWtfFolderUnderTheLease) {
    Store g;
    EXPECT_EQ(failure([&] { g.service.backupWTF(g.client); }), "未找到 WTF 配置 目录，无法备份。");
    EXPECT_FALSE(fs::exists(g.store()));
    writeFile(g.root() / "WTF/Account/ABC/SavedVariables/x.lua", "x = 1");
    std::vector<OperationStage> stages;
    OperationControl control([&](OperationStage stage) { stages.push_back(stage); });
    LocalBackup made = g.service.backupWTF(g.client, &control);
    EXPECT_EQ(stages, (std::vector<OperationStage>{OperationStage::backingUp}));
    EXPECT_EQ(g.listed(), (std::vector<LocalBackup>{{made.id, made.date, BackupKind::wtf, "手动配置备份", 5}}));
    EXPECT_EQ(snapshotTree(g.store() / made.id.text() / "payload"), snapshotTree(g.wtf()));
    {
        ClientLock other(g.manager());
        EXPECT_EQ(failure([&] { g.service.backupWTF(g.client); }), kLeaseHeld);
        EXPECT_EQ(failure([&] { g.service.recycleBackup(made, g.client); }), kLeaseHeld);
    }
}

TEST(BackupStore, ThinningAndRecyclingSetBackupsAsideWholeAndBringingBackReturnsThem) {
    Store g;
    g.service.recoverRecycledBackups(g.client); // nothing recycled: succeeds, changes nothing
    EXPECT_FALSE(fs::exists(g.bin()));
    std::vector<LocalBackup> addons, wtf;
    for (int i = 0; i < 7; ++i) {
        if (i < 3) {
            addons.push_back(g.plant(BackupKind::addons, 1000 + i));
        }
        wtf.push_back(g.plant(BackupKind::wtf, 2000 + i));
    }
    auto oldestWtf = snapshotTree(g.store() / wtf[0].id.text());

    EXPECT_EQ(failure([&] { g.service.retainBackups(0, g.client); }), "至少保留一份备份。");
    EXPECT_FALSE(fs::exists(g.bin()));
    g.service.retainBackups(5, g.client);
    EXPECT_EQ(g.listed(),
              (std::vector<LocalBackup>{wtf[6], wtf[5], wtf[4], wtf[3], wtf[2], addons[2], addons[1], addons[0]}));
    EXPECT_EQ(snapshotTree(g.bin()).size(), 2u * 5u); // the two oldest WTF backups, moved whole
    EXPECT_EQ(snapshotTree(g.bin() / wtf[0].id.text()), oldestWtf);

    const LocalBackup stale{wtf[6].id, wtf[6].date, wtf[6].kind, "另一个原因", wtf[6].byteCount};
    EXPECT_EQ(failure([&] { g.service.recycleBackup(stale, g.client); }), "备份记录不匹配。");
    writeFile(g.manager() / "active.json", "{\"kind\":\"wtf\"}");
    EXPECT_EQ(failure([&] { g.service.recycleBackup(wtf[6], g.client); }), kPending);
    EXPECT_EQ(failure([&] { g.service.retainBackups(1, g.client); }), kPending);
    EXPECT_EQ(g.listed().size(), 8u);

    // Bringing back works with a journal pending; a twin of a listed backup (any spelling) stops it.
    const Path twin = g.bin() / lowered(wtf[6].id);
    fs::copy(g.store() / wtf[6].id.text(), twin, fs::copy_options::recursive);
    makeDirs(g.bin() / "notes");
    auto twinBefore = snapshotTree(twin);
    EXPECT_EQ(failure([&] { g.service.recoverRecycledBackups(g.client); }), "备份 ID 冲突，已停止恢复。");
    EXPECT_EQ(snapshotTree(twin), twinBefore);
    EXPECT_EQ(snapshotTree(g.store() / wtf[6].id.text()), twinBefore);
    fs::remove_all(twin);
    g.service.recoverRecycledBackups(g.client);
    EXPECT_EQ(g.listed(), (std::vector<LocalBackup>{wtf[6], wtf[5], wtf[4], wtf[3], wtf[2], wtf[1], wtf[0], addons[2],
                                                    addons[1], addons[0]}));
    EXPECT_EQ(snapshotTree(g.bin()), (std::map<std::string, std::string>{{"notes", "<dir>"}}));
}
