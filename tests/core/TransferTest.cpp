#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "records/Errors.h"
#include "records/OperationControl.h"
#include "records/Sys.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const char* const kBadDestination = "请选择游戏目录以外、尚不存在的导出目标。";
const char* const kNotAnExport = "请选择由本工具导出的 WTF 配置备份。";
const char* const kNotWtfLayout = "迁移包不是有效 WTF 布局（缺少 Account 或 Config.wtf）。";
const char* const kDigestMismatch = "配置文件摘要不匹配，迁移包可能损坏或已修改；未覆盖本地配置。";
const char* const kEntryLimit = "迁移包超过 50000 个条目限制。";

struct Game {
    Path root;
    GameClient client;
    explicit Game(const Path& folder) : root(folder), client(folder) { makeDirs(root); }
    Path wtf() const { return root / "WTF"; }
    Path manager() const { return root / ".olvex-manager"; }
    LocalBackup backup(ManagerService& service) {
        return service.locked(client, [&] { return service.snapshot(BackupKind::wtf, client, "测试"); });
    }
    std::vector<LocalBackup> records() const {
        std::vector<LocalBackup> found;
        if (fs::exists(manager() / "backups")) {
            for (const auto& entry : fs::directory_iterator(manager() / "backups")) {
                found.push_back(localBackupFromJson(json::decode(readFile(entry.path() / "metadata.json"))));
            }
        }
        return found;
    }
};

// Names in a folder, to show that no staging folder was left beside a destination.
std::vector<std::string> entries(const Path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void fillWtf(const Path& wtf) {
    writeFile(wtf / "Config.wtf", "SET a \"1\"\n");
    writeFile(wtf / "Account/ACCT/SavedVariables/Addon.lua", "Addon = {}\n");
    writeFile(wtf / "Account/ACCT/影之哀伤/英雄/chat-cache.txt", "hello");
    writeFile(wtf / "Account/ACCT/.hidden", "h");
    makeDirs(wtf / "Account/ACCT/Empty");
}

void editManifest(const Path& package, const std::function<void(json::Json&)>& edit) {
    json::Json manifest = json::decode(readFile(package / "transfer.json"));
    edit(manifest);
    writeFile(package / "transfer.json", json::encode(manifest));
}

// Writes `count` small files into a folder with plain system calls: ofstream is too slow for
// the entry-limit trees under the sanitizers.
void writeMany(const Path& folder, int count, const std::string& prefix) {
    makeDirs(folder);
    for (int i = 0; i < count; ++i) {
        std::string path = (folder / (prefix + std::to_string(i))).native();
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "x", 1), 1);
        ::close(fd);
    }
}

// Puts the TempDirs made while it lives on tmpfs when the machine has one: creating and
// deleting a hundred thousand files on the shared disk (mounted with discard) takes half an
// hour, and nothing checked here depends on the medium.
class OnTmpfs {
public:
    OnTmpfs() {
        const char* old = std::getenv("TMPDIR");
        m_old = old ? std::optional<std::string>(old) : std::nullopt;
        if (fs::is_directory("/dev/shm")) {
            ::setenv("TMPDIR", "/dev/shm", 1);
        }
    }
    ~OnTmpfs() {
        if (m_old) {
            ::setenv("TMPDIR", m_old->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }
    OnTmpfs(const OnTmpfs&) = delete;
    OnTmpfs& operator=(const OnTmpfs&) = delete;

private:
    std::optional<std::string> m_old;
};

long countEntries(const Path& folder) {
    return std::distance(fs::recursive_directory_iterator(folder), fs::recursive_directory_iterator());
}

} // namespace

TEST(Export, WritesRecordPayloadAndDigestManifestAndNeverTheManagerFolder) {
    TempDir dir;
    Game game(dir / "_retail_");
    writeFile(game.wtf() / "Config.wtf", "SET locale \"zhCN\"\n");
    makeDirs(game.wtf() / "Account/ACCT/影之哀伤");
    ManagerService service;
    LocalBackup backup = game.backup(service);
    auto managerBefore = snapshotTree(game.manager());

    service.exportBackup(backup, game.client, dir / "out.olvexbackup");

    Path package = dir / "out.olvexbackup";
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"_retail_", "out.olvexbackup"}));
    EXPECT_EQ(entries(package), (std::vector<std::string>{"metadata.json", "payload", "transfer.json"}));
    Path source = game.manager() / "backups" / backup.id.text();
    EXPECT_EQ(readFile(package / "metadata.json"), readFile(source / "metadata.json"));
    EXPECT_EQ(snapshotTree(package / "payload"), snapshotTree(source / "payload"));
    // The digest is what sha256sum prints for the file's content.
    EXPECT_EQ(readFile(package / "transfer.json"),
              R"({"format":1,"kind":"wtf","files":{"Account\/":"directory","Account\/ACCT\/":"directory",)"
              R"("Account\/ACCT\/影之哀伤\/":"directory",)"
              R"("Config.wtf":"8201644da88086ace49596a51bf667c993a07d8582f34be96e4cc54b1fe36eec"}})");
    EXPECT_EQ(snapshotTree(game.manager()), managerBefore);
}

TEST(Export, RefusesExistingOrInsideDestinationsAndAStaleRecordAndCreatesNothing) {
    TempDir dir;
    Game game(dir / "_retail_");
    fillWtf(game.wtf());
    ManagerService service;
    LocalBackup backup = game.backup(service);
    writeFile(dir / "taken.olvexbackup", "a file");
    makeDirs(dir / "empty.olvexbackup");
    auto before = snapshotTree(dir.path());

    const Path refused[] = {
        dir / "taken.olvexbackup",          dir / "empty.olvexbackup",
        game.root / "out.olvexbackup",      game.root / "Interface/out.olvexbackup",
        game.manager() / "out.olvexbackup", Path(game.root.native() + "//WTF/out"),
    };
    for (const Path& to : refused) {
        SCOPED_TRACE(to.native());
        EXPECT_EQ(failure([&] { service.exportBackup(backup, game.client, to); }), kBadDestination);
    }
    LocalBackup stale = backup;
    stale.byteCount = *backup.byteCount + 1;
    EXPECT_EQ(failure([&] { service.exportBackup(stale, game.client, dir / "new.olvexbackup"); }), "备份记录不匹配。");
    // The staging folder goes beside the destination; a missing parent is not created.
    EXPECT_EQ(failure([&] { service.exportBackup(backup, game.client, dir / "missing/out"); }),
              "无法创建目录“" + (dir / "missing").native() + "”：文件或目录不存在。");
    EXPECT_EQ(snapshotTree(dir.path()), before);

    // A sibling whose name only begins like the version folder's is outside it.
    makeDirs(dir / "_retail_2");
    service.exportBackup(backup, game.client, dir / "_retail_2/out.olvexbackup/");
    EXPECT_EQ(entries(dir / "_retail_2"), (std::vector<std::string>{"out.olvexbackup"}));
    EXPECT_TRUE(fs::is_regular_file(dir / "_retail_2/out.olvexbackup/transfer.json"));
}

#ifdef OLVEX_FAULT_INJECTION
TEST(Export, CancellationDuringTheCopyLeavesNeitherPackageNorStagingFolder) {
    TempDir dir;
    Game game(dir / "_retail_");
    fillWtf(game.wtf());
    ManagerService service;
    LocalBackup backup = game.backup(service);
    makeDirs(dir / "out");
    OperationControl control;
    bool staged = false;
    // Cancel once the first file of the copy is being written.
    sys::fault::arm({.onCall = [&](long, const char* name) {
        if (std::string(name) == "write" && !control.isCancelled()) {
            staged = !entries(dir / "out").empty();
            control.cancel();
        }
    }});
    EXPECT_THROW(service.exportBackup(backup, game.client, dir / "out/pkg", &control), CancellationError);
    sys::fault::disarm();
    EXPECT_TRUE(staged);
    EXPECT_TRUE(entries(dir / "out").empty());
    EXPECT_EQ(service.control(), nullptr);
}
#endif

TEST(Import, RoundTripGivesAnIdenticalWtfAndBacksUpTheOldOne) {
    TempDir dir;
    Game source(dir / "a/_retail_");
    fillWtf(source.wtf());
    ManagerService service;
    service.exportBackup(source.backup(service), source.client, dir / "pkg");

    Game target(dir / "b/_classic_");
    writeFile(target.wtf() / "Config.wtf", "SET old \"1\"\n");
    writeFile(target.wtf() / "Account/OTHER/x", "x");
    auto old = snapshotTree(target.wtf());
    std::vector<OperationStage> stages;
    OperationControl control([&](OperationStage stage) { stages.push_back(stage); });
    service.importWTF(dir / "pkg", target.client, &control);

    EXPECT_EQ(snapshotTree(target.wtf()), snapshotTree(source.wtf()));
    EXPECT_EQ(stages.front(), OperationStage::validating);
    EXPECT_EQ(stages.back(), OperationStage::committing);
    auto records = target.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].reason, "导入配置前自动备份");
    EXPECT_EQ(snapshotTree(target.manager() / "backups" / records[0].id.text() / "payload"), old);

    // Into a version folder without WTF: created, nothing to back up. A payload with only
    // Config.wtf is a valid layout.
    Game bare(dir / "c/_retail_");
    fs::remove_all(source.wtf() / "Account");
    service.exportBackup(source.backup(service), source.client, dir / "config-only");
    service.importWTF(dir / "config-only", bare.client);
    EXPECT_EQ(snapshotTree(bare.wtf()), (std::map<std::string, std::string>{{"Config.wtf", "SET a \"1\"\n"}}));
    EXPECT_TRUE(bare.records().empty());
}

TEST(Import, RefusesEveryAlteredPackageAndLeavesWtfAndBackupsUnchanged) {
    TempDir dir;
    Game source(dir / "a/_retail_");
    fillWtf(source.wtf());
    ManagerService service;
    service.exportBackup(source.backup(service), source.client, dir / "pkg");

    struct Case {
        const char* name;
        std::function<void(const Path&)> alter;
        std::string message; // empty: the decoder's or the platform's own text, checked below
    };
    const std::string link = "拒绝链接或特殊文件：";
    const Case cases[] = {
        {"one changed byte", [](const Path& p) { writeFile(p / "payload/Config.wtf", "SET a \"2\"\n"); },
         kDigestMismatch},
        {"extra file", [](const Path& p) { writeFile(p / "payload/Account/ACCT/new.lua", ""); }, kDigestMismatch},
        {"extra folder", [](const Path& p) { makeDirs(p / "payload/Account/NEW"); }, kDigestMismatch},
        {"missing file", [](const Path& p) { fs::remove(p / "payload/Account/ACCT/.hidden"); }, kDigestMismatch},
        {"missing folder", [](const Path& p) { fs::remove(p / "payload/Account/ACCT/Empty"); }, kDigestMismatch},
        {"manifest of another digest",
         [](const Path& p) { editManifest(p, [](json::Json& m) { m["files"]["Config.wtf"] = std::string(64, '0'); }); },
         kDigestMismatch},
        {"manifest over 16 MiB",
         [](const Path& p) {
             std::string text = readFile(p / "transfer.json");
             writeFile(p / "transfer.json", text + std::string(16'777'217 - text.size(), ' '));
         },
         "迁移清单过大。"},
        {"format 2", [](const Path& p) { editManifest(p, [](json::Json& m) { m["format"] = 2; }); }, kNotAnExport},
        {"add-on export", [](const Path& p) { editManifest(p, [](json::Json& m) { m["kind"] = "addons"; }); },
         kNotAnExport},
        {"no Account and no Config.wtf",
         [](const Path& p) {
             fs::remove_all(p / "payload");
             writeFile(p / "payload/Other/x", "x");
         },
         kNotWtfLayout},
        {"no payload", [](const Path& p) { fs::remove_all(p / "payload"); }, kNotWtfLayout},
        {"link inside the payload",
         [](const Path& p) { fs::create_symlink("/etc/passwd", p / "payload/Account/ACCT/link"); },
         link + (dir / "bad/payload/Account/ACCT/link").native()},
        {"link as transfer.json",
         [](const Path& p) {
             fs::rename(p / "transfer.json", p / "real.json");
             fs::create_symlink(p / "real.json", p / "transfer.json");
         },
         link + (dir / "bad/transfer.json").native()},
        {"malformed manifest", [](const Path& p) { writeFile(p / "transfer.json", "{\"format\":1,"); }, ""},
        {"manifest without files", [](const Path& p) { editManifest(p, [](json::Json& m) { m.erase("files"); }); }, ""},
        {"format as text", [](const Path& p) { editManifest(p, [](json::Json& m) { m["format"] = "1"; }); }, ""},
        {"no manifest", [](const Path& p) { fs::remove(p / "transfer.json"); },
         "无法读取“" + (dir / "bad/transfer.json").native() + "”：文件或目录不存在。"},
    };

    Game target(dir / "b/_retail_");
    writeFile(target.wtf() / "Config.wtf", "local");
    target.backup(service);
    auto before = snapshotTree(target.root);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "bad");
        fs::copy(dir / "pkg", dir / "bad", fs::copy_options::recursive);
        c.alter(dir / "bad");
        std::string message = failure([&] { service.importWTF(dir / "bad", target.client); });
        if (c.message.empty()) {
            EXPECT_NE(message, "");
        } else {
            EXPECT_EQ(message, c.message);
        }
        EXPECT_EQ(snapshotTree(target.root), before);
    }

    // Positive control: the untouched package, with its manifest padded to exactly 16 MiB.
    std::string text = readFile(dir / "pkg/transfer.json");
    writeFile(dir / "pkg/transfer.json", text + std::string(16'777'216 - text.size(), '\n'));
    service.importWTF(dir / "pkg", target.client);
    EXPECT_EQ(snapshotTree(target.wtf()), snapshotTree(source.wtf()));
}

TEST(Transfer, FiftyThousandEntriesPassBothWaysAndOneMoreFailsBothWays) {
    OnTmpfs tmpfs;
    TempDir dir;
    Game source(dir / "a/_retail_");
    ManagerService service;
    // A backup folder written directly: the snapshot's own copy would double the set-up time.
    LocalBackup backup{Uuid::random(), Date::now(), BackupKind::wtf, "测试", std::nullopt};
    Path folder = source.manager() / "backups" / backup.id.text();
    writeFile(folder / "metadata.json", json::encode(toJson(backup)));
    writeMany(folder / "payload/Account", 49'999, "f"); // with "Account/" itself: 50,000 entries
    service.exportBackup(backup, source.client, dir / "pkg");
    EXPECT_EQ(nlohmann::json::parse(readFile(dir / "pkg/transfer.json"))["files"].size(), 50'000u);

    Game target(dir / "b/_retail_");
    service.importWTF(dir / "pkg", target.client);
    EXPECT_EQ(countEntries(target.wtf()), 50'000);

    writeFile(folder / "payload/Config.wtf", "one more");
    makeDirs(dir / "out");
    EXPECT_EQ(failure([&] { service.exportBackup(backup, source.client, dir / "out/pkg"); }), kEntryLimit);
    EXPECT_TRUE(entries(dir / "out").empty());

    writeFile(dir / "pkg/payload/Config.wtf", "one more");
    EXPECT_EQ(failure([&] { service.importWTF(dir / "pkg", target.client); }), kEntryLimit);
    EXPECT_EQ(countEntries(target.wtf()), 50'000);
    EXPECT_TRUE(target.records().empty());
}
