#include <gtest/gtest.h>

#include "base/Errors.h"
#include "base/OperationControl.h"
#include "fs/Sys.h"
#include "service/BackupDigests.h"
#include "service/ManagerService.h"
#include "support/GameFixture.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const char* const kBadDestination = "请选择游戏目录以外、尚不存在的导出目标。";
const char* const kNotAnExport = "请选择由本工具导出的 WTF 配置备份。";
const char* const kNotWtfLayout = "迁移包不是有效 WTF 布局（缺少 Account 或 Config.wtf）。";
const char* const kDigestMismatch = "配置文件摘要不匹配，迁移包可能损坏或已修改；未覆盖本地配置。";

std::function<void(const Path&)> manifest(const std::function<void(json::Json&)>& edit) {
    return [edit](const Path& package) {
        json::Json object = json::decode(readFile(package / "transfer.json"));
        edit(object);
        writeFile(package / "transfer.json", json::encode(object));
    };
}

void padManifest(const Path& package, size_t size) {
    std::string text = readFile(package / "transfer.json");
    writeFile(package / "transfer.json", text + std::string(size - text.size(), '\n'));
}

} // namespace

TEST(Export, WritesRecordPayloadAndDigestsOnlyToANewFolderOutsideTheVersionFolder) {
    GameFixture game;
    const Path sibling = game.game / "_retail_2";
    writeFile(game.wtf() / "Config.wtf", "SET locale \"zhCN\"\n");
    makeDirs(game.wtf() / "Account/ACCT/影之哀伤");
    LocalBackup backup = game.snapshot(BackupKind::wtf);
    writeFile(game.dir / "taken.olvexbackup", "a file");
    makeDirs(game.dir / "empty.olvexbackup");
    makeDirs(sibling);
    const auto before = snapshotTree(game.dir.path()), version = snapshotTree(game.root());
    for (const Path& to : {game.dir / "taken.olvexbackup", game.dir / "empty.olvexbackup",
                           game.root() / "out.olvexbackup", game.root() / "Interface/out.olvexbackup",
                           game.root() / ".olvex-manager/out.olvexbackup", Path(game.root().native() + "//WTF/out")}) {
        SCOPED_TRACE(to.native());
        EXPECT_EQ(failure([&] { game.service.exportBackup(backup, game.client, to); }), kBadDestination);
    }
    const LocalBackup stale{backup.id, backup.date, backup.kind, backup.reason, *backup.byteCount + 1};
    EXPECT_EQ(failure([&] { game.service.exportBackup(stale, game.client, game.dir / "new.olvexbackup"); }),
              "备份记录不匹配。");
    // The staging folder goes beside the destination; a missing parent is not created.
    EXPECT_EQ(failure([&] { game.service.exportBackup(backup, game.client, game.dir / "missing/out"); }),
              "无法创建目录“" + (game.dir / "missing").native() + "”：文件或目录不存在。");
#ifdef OLVEX_FAULT_INJECTION
    // Cancelled once the copy writes its first file: neither the package nor its staging folder stays.
    OperationControl control;
    bool staged = false;
    sys::fault::arm({.onCall = [&](long, const char* name) {
        if (std::string(name) == "write" && !control.isCancelled()) {
            staged = !fs::is_empty(sibling);
            control.cancel();
        }
    }});
    EXPECT_THROW(game.service.exportBackup(backup, game.client, sibling / "pkg", &control), CancellationError);
    sys::fault::disarm();
    EXPECT_TRUE(staged);
    EXPECT_EQ(game.service.control(), nullptr);
#endif
    EXPECT_EQ(snapshotTree(game.dir.path()), before);

    // A sibling whose name only begins like the version folder's is outside it. The package is the
    // backup's folder plus its manifest, with nothing left beside it.
    game.service.exportBackup(backup, game.client, sibling / "out.olvexbackup/");
    EXPECT_EQ(std::distance(fs::directory_iterator(sibling), {}), 1);
    auto package = snapshotTree(sibling / "out.olvexbackup");
    // The digest is what sha256sum prints for the file's content.
    EXPECT_EQ(package["transfer.json"],
              R"({"format":1,"kind":"wtf","files":{"Account\/":"directory","Account\/ACCT\/":"directory",)"
              R"("Account\/ACCT\/影之哀伤\/":"directory",)"
              R"("Config.wtf":"8201644da88086ace49596a51bf667c993a07d8582f34be96e4cc54b1fe36eec"}})");
    package.erase("transfer.json");
    auto stored = snapshotTree(ManagerService::backupFolder(game.client, backup.id));
    stored.erase(kDigestListName); // the store's digest list stays in the store
    EXPECT_EQ(package, stored);
    EXPECT_EQ(snapshotTree(game.root()), version); // the manager folder is only read
}

TEST(Import, RefusesEveryAlteredPackageAndReplacesWtfWithAnIntactOne) {
    GameFixture game;
    const GameClient target(game.root("_classic_"));
    for (const char* path : {"Config.wtf", "Account/ACCT/SavedVariables/Addon.lua",
                             "Account/ACCT/影之哀伤/英雄/chat.txt", "Account/ACCT/.hidden"}) {
        writeFile(game.wtf() / path, path);
    }
    makeDirs(game.wtf() / "Account/ACCT/Empty");
    game.service.exportBackup(game.snapshot(BackupKind::wtf), game.client, game.dir / "pkg");

    const Path bad = game.dir / "bad";
    const std::string damaged = "迁移清单“" + (bad / "transfer.json").native() + "”已损坏：";
    const std::vector<std::tuple<const char*, std::function<void(const Path&)>, std::string>> cases{
        {"one changed byte", [](const Path& p) { writeFile(p / "payload/Config.wtf", "Config.wtg"); }, kDigestMismatch},
        {"extra file", [](const Path& p) { writeFile(p / "payload/Account/ACCT/new.lua", ""); }, kDigestMismatch},
        {"extra folder", [](const Path& p) { makeDirs(p / "payload/Account/NEW"); }, kDigestMismatch},
        {"missing file", [](const Path& p) { fs::remove(p / "payload/Account/ACCT/.hidden"); }, kDigestMismatch},
        {"missing folder", [](const Path& p) { fs::remove(p / "payload/Account/ACCT/Empty"); }, kDigestMismatch},
        {"manifest over 16 MiB", [](const Path& p) { padManifest(p, 16'777'217); }, "迁移清单过大。"},
        {"format 2", manifest([](json::Json& m) { m["format"] = 2; }), kNotAnExport},
        {"add-on export", manifest([](json::Json& m) { m["kind"] = "addons"; }), kNotAnExport},
        {"no Account and no Config.wtf",
         [](const Path& p) { fs::remove_all(p / "payload/Account"), fs::remove(p / "payload/Config.wtf"); },
         kNotWtfLayout},
        {"no payload", [](const Path& p) { fs::remove_all(p / "payload"); }, kNotWtfLayout},
        {"link inside the payload",
         [](const Path& p) { fs::create_symlink("/etc/passwd", p / "payload/Account/ACCT/link"); },
         "拒绝链接或特殊文件：" + (bad / "payload/Account/ACCT/link").native()},
        {"no manifest", [](const Path& p) { fs::remove(p / "transfer.json"); },
         "无法读取“" + (bad / "transfer.json").native() + "”：文件或目录不存在。"},
        {"manifest without files", manifest([](json::Json& m) { m.erase("files"); }), damaged + "缺少字段“files”。"},
        {"format as text", manifest([](json::Json& m) { m["format"] = "1"; }), damaged + "字段“format”不是整数。"},
        {"malformed manifest", [](const Path& p) { writeFile(p / "transfer.json", "{\"format\":1,"); },
         damaged + "内容不完整（第 1 行第 13 列，应为带引号的文本）。"},
        {"nested past any record", [](const Path& p) { writeFile(p / "transfer.json", std::string(1 << 24, '[')); },
         damaged + "嵌套层数超过 16 层。"},
    };

    writeFile(game.wtf("_classic_") / "Config.wtf", "SET old \"1\"\n");
    writeFile(game.wtf("_classic_") / "Account/OTHER/x", "x");
    game.snapshot(BackupKind::wtf, "_classic_");
    const auto old = snapshotTree(game.wtf("_classic_")), before = snapshotTree(game.root("_classic_"));
    for (const auto& [name, alter, message] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(bad);
        fs::copy(game.dir / "pkg", bad, fs::copy_options::recursive);
        alter(bad);
        std::string got = failure([&] { game.service.importWTF(bad, target); });
        EXPECT_EQ(got, message);
        EXPECT_EQ(snapshotTree(game.root("_classic_")), before);
    }

    padManifest(game.dir / "pkg", 16'777'216); // the untouched package, its manifest exactly at the limit
    std::vector<OperationStage> stages;
    OperationControl control([&](OperationStage stage) { stages.push_back(stage); });
    game.service.importWTF(game.dir / "pkg", target, &control);
    EXPECT_EQ(snapshotTree(game.wtf("_classic_")), snapshotTree(game.wtf()));
    EXPECT_EQ(stages.front(), OperationStage::validating);
    EXPECT_EQ(stages.back(), OperationStage::committing);
    const LocalBackup automatic = game.service.backups(target).front();
    EXPECT_EQ(automatic.reason, "导入配置前自动备份");
    EXPECT_EQ(snapshotTree(ManagerService::backupFolder(target, automatic.id) / "payload"), old);

    fs::remove_all(game.wtf() / "Account"); // a payload with only Config.wtf is a valid layout
    game.service.exportBackup(game.snapshot(BackupKind::wtf), game.client, game.dir / "config-only");
    game.service.importWTF(game.dir / "config-only", target);
    EXPECT_EQ(snapshotTree(game.wtf("_classic_")), (std::map<std::string, std::string>{{"Config.wtf", "Config.wtf"}}));
}
