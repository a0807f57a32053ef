#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>
#include <sys/stat.h>

#include "base/Errors.h"
#include "fs/ClientLock.h"
#include "packs/Staging.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kNoApplication =
    "版本目录中未找到完整游戏应用（.app/Contents/MacOS）。请在战网中修复安装或重新选择目录。";

// Writes one file and the folders on its way; a name ending in "*" makes it executable.
void make(const Path& root, const std::string& name) {
    const Path file = root / (name.ends_with('*') ? name.substr(0, name.size() - 1) : name);
    writeFile(file, "MZ");
    fs::permissions(file, name.ends_with('*') ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
}

} // namespace

TEST(InstallationCheck, FindsTheGameApplicationAndRequiresRoomForTheIncomingAndTwiceTheCurrentAddOns) {
    const std::string bundle = "World of Warcraft.app";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        // entries → the application found ("" when the check must fail)
        {{bundle + "/Contents/MacOS/World of Warcraft*"}, bundle},
        {{bundle + "/Contents/MacOS/Sub/x"}, ""},             // a folder is no program
        {{bundle + "/Contents/MacOS/World of Warcraft"}, ""}, // not executable
        {{"World of Warcraft.APP/Contents/MacOS/wow*"}, ""},
        {{"Broken.app/Contents/x", "Good.app/Contents/MacOS/wow*"}, "Good.app"},
        {{"Wow.exe"}, "Wow.exe"}, // the Windows client under Wine
        {{"WOWCLASSIC.EXE"}, "WOWCLASSIC.EXE"},
        {{"Wow.exe", bundle + "/Contents/MacOS/wow*"}, bundle},
        {{"Wow.exe/x"}, ""},
        {{"Wow-64.exe", "Wow.exe.bak"}, ""},
    };
    ManagerService service([](const Path&) { return std::int64_t{1} << 40; });
    for (const auto& [entries, application] : cases) {
        SCOPED_TRACE(entries.front());
        TempDir dir;
        const Path version = dir / "_retail_";
        makeDirs(version);
        for (const auto& entry : entries) {
            make(version, entry);
        }
        EXPECT_EQ(failure([&] {
                      EXPECT_EQ(service.installationCheck(GameClient(version), 0).application, version / application);
                  }),
                  application.empty() ? kNoApplication : "");
    }
    TempDir dir; // a linked MacOS folder is refused, not skipped; a linked program is no program
    const Path version = dir / "_classic_";
    make(dir.path(), "elsewhere/wow*");
    make(dir.path(), "elsewhere/Wow.exe");
    makeDirs(version / "Linked.app/Contents");
    fs::create_directory_symlink(dir / "elsewhere", version / "Linked.app/Contents/MacOS");
    fs::create_symlink(dir / "elsewhere/Wow.exe", version / "Wow.exe");
    EXPECT_EQ(failure([&] { service.installationCheck(GameClient(version), 0); }),
              "拒绝链接或特殊文件：" + (version / "Linked.app/Contents/MacOS").native());
    fs::remove_all(version / "Linked.app");
    EXPECT_EQ(failure([&] { service.installationCheck(GameClient(version), 0); }), kNoApplication);

    make(version, "Good.app/Contents/MacOS/wow*"); // room: incoming, twice the current add-ons, margin
    writeFile(version / "Interface/AddOns/A/big.bin", std::string(3'000'000, 'a'));
    writeFile(version / "Interface/AddOns/B/.hidden", std::string(2'000'000, 'b'));
    std::int64_t free = 10'000'000 + 2 * 5'000'000 + ManagerService::kMargin; // 87,108,864
    ManagerService measured([&](const Path& folder) { return folder == version ? free : 0; });
    InstallationCheck check = measured.installationCheck(GameClient(version), 10'000'000);
    EXPECT_EQ(check.requiredBytes, 87'108'864);
    EXPECT_EQ(check.availableBytes, 87'108'864);
    free -= 1;
    EXPECT_EQ(failure([&] { measured.installationCheck(GameClient(version), 10'000'000); }),
              "磁盘空间不足：至少需要 87.1 MB，剩余 87.1 MB。请导出旧备份或释放空间后重试。");
}

TEST(Housekeeping, RemovesOnlyStaleUnleasedStagingFolders) {
    TempDir dir;
    const Path temporary = dir / "tmp";
    auto staging = [&](const std::string& name, bool leaseFile = true) {
        writeFile(temporary / name / "AddOns/Foo/Foo.toc", std::string(1000, 'x'));
        writeFile(temporary / name / "AddOns/Foo/.hidden", std::string(234, 'y'));
        if (leaseFile) {
            writeFile(temporary / name / ".lease/operation.lock", "");
        }
        return temporary / name;
    };
    auto name = [] { return "Olvex-" + Uuid::random().text(); };
    std::string lower = name();
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    const std::vector<Path> removed{staging(name()), staging("Olvex-" + lower.substr(6))};
    const Path recent = staging(name()), held = staging(name()), linkedLease = staging(name(), false);
    fs::create_directories(linkedLease / ".lease");
    fs::create_symlink(held / ".lease/operation.lock", linkedLease / ".lease/operation.lock");
    // Also kept: no lease file, no UUID, a lower-case prefix, a plain file.
    staging(name(), false);
    staging("Olvex-preview");
    staging(lower);
    writeFile(temporary / name(), "a file");
    for (const auto& entry : fs::directory_iterator(temporary)) {
        if (entry.path() != recent) {
            fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(48));
        }
    }
    std::optional<ClientLock> retained(std::in_place, held / ".lease");

    ManagerService service({}, {}, temporary);
    const Date cutoff{Date::now().sinceReference - 86'400};
    auto before = snapshotTree(temporary);
    EXPECT_EQ(service.cleanupTemporaryFiles(cutoff).removedBytes, 2 * 1234);
    for (const Path& folder : removed) {
        EXPECT_FALSE(fs::exists(folder)) << folder;
    }
    EXPECT_EQ(before.size() - snapshotTree(temporary).size(), 2u * 7u); // those two, nothing else
    EXPECT_EQ(service.cleanupTemporaryFiles(cutoff).removedBytes, 0);
    retained.reset();
    EXPECT_EQ(service.cleanupTemporaryFiles(cutoff).removedBytes, 1234);
    EXPECT_FALSE(fs::exists(held));

    ManagerService lost({}, {}, dir / "missing");
    EXPECT_EQ(failure([&] { lost.cleanupTemporaryFiles(cutoff); }), "无法定位临时目录");
}

// A staging folder whose lease nobody holds belongs to no running preview: it goes at the next
// clean-up once it is a minute old, with a link or pipe inside removed itself (never followed).
// One whose lease file is a link or pipe is kept and named with the reason; the others go all
// the same.
TEST(Housekeeping, RemovesWhatNoPreviewHoldsAndNamesWhatItCannotClean) {
    TempDir dir;
    const Path temporary = dir / "tmp";
    const auto staging = [&] { return temporary / ("Olvex-" + Uuid::random().text()); };
    const Path planted = staging(), fifoLease = staging(), linkedLease = staging(), fresh = staging();
    for (const Path& folder : {planted, fifoLease, linkedLease, fresh}) {
        writeFile(folder / "AddOns/Foo/Foo.toc", std::string(100, 'x'));
        if (folder != fifoLease && folder != linkedLease) {
            writeFile(folder / ".lease/operation.lock", "");
        }
    }
    writeFile(dir / "outside/keep.txt", "kept");
    fs::create_directory_symlink(dir / "outside", planted / "AddOns/link");
    ASSERT_EQ(::mkfifo((planted / "AddOns/pipe").c_str(), 0600), 0);
    makeDirs(fifoLease / ".lease");
    ASSERT_EQ(::mkfifo((fifoLease / ".lease/operation.lock").c_str(), 0600), 0);
    makeDirs(linkedLease / ".lease");
    fs::create_symlink(planted / ".lease/operation.lock", linkedLease / ".lease/operation.lock");
    for (const Path& folder : {planted, fifoLease, linkedLease}) {
        fs::last_write_time(folder, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    }

    ManagerService service({}, {}, temporary);
    const TemporaryCleanup result = service.cleanupTemporaryFiles(stagingCutoff(Date::now()));
    EXPECT_EQ(result.removedBytes, 100);
    EXPECT_EQ(result.removedFolders, 1);
    EXPECT_FALSE(fs::exists(planted));
    EXPECT_EQ(readFile(dir / "outside/keep.txt"), "kept");
    EXPECT_TRUE(fs::exists(fresh)); // a preview may be locking its lease this instant
    std::vector<std::pair<Path, std::string>> skipped;
    for (const auto& [folder, reason] : result.skipped) {
        skipped.emplace_back(folder, reason);
    }
    std::sort(skipped.begin(), skipped.end());
    std::vector<std::pair<Path, std::string>> expected{
        {fifoLease, "拒绝链接或特殊文件：" + (fifoLease / ".lease/operation.lock").native()},
        {linkedLease, "拒绝链接或特殊文件：" + (linkedLease / ".lease/operation.lock").native()}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(skipped, expected);
    EXPECT_TRUE(fs::exists(fifoLease / "AddOns/Foo/Foo.toc"));
}
