#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>

#include "records/ClientLock.h"
#include "records/Errors.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kNoApplication =
    "版本目录中未找到完整游戏应用（.app/Contents/MacOS）。请在战网中修复安装或重新选择目录。";

std::string failure(const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

void writeExecutable(const Path& path) {
    writeFile(path, "#!/bin/sh\n");
    fs::permissions(path, fs::perms::owner_all);
}

void age(const Path& path, std::chrono::hours hours) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - hours);
}

} // namespace

TEST(InstallationCheck, FindsTheGameApplicationBundleOrTheWindowsProgram) {
    struct Case {
        std::string name;
        std::function<void(const Path&)> arrange;
        std::string application; // "" when the check must fail with the application message
    };
    const std::vector<Case> cases{
        {"bundle with an executable",
         [](const Path& v) { writeExecutable(v / "World of Warcraft.app/Contents/MacOS/World of Warcraft"); },
         "World of Warcraft.app"},
        {"empty MacOS", [](const Path& v) { makeDirs(v / "World of Warcraft.app/Contents/MacOS"); }, ""},
        {"only a sub-folder", [](const Path& v) { makeDirs(v / "World of Warcraft.app/Contents/MacOS/Sub"); }, ""},
        {"not executable",
         [](const Path& v) { writeFile(v / "World of Warcraft.app/Contents/MacOS/World of Warcraft", "x"); }, ""},
        {"capital APP", [](const Path& v) { writeExecutable(v / "World of Warcraft.APP/Contents/MacOS/wow"); }, ""},
        {"second bundle qualifies",
         [](const Path& v) {
             makeDirs(v / "Broken.app/Contents");
             writeExecutable(v / "Good.app/Contents/MacOS/wow");
         },
         "Good.app"},
        {"Windows client under Wine", [](const Path& v) { writeFile(v / "Wow.exe", "MZ"); }, "Wow.exe"},
        {"classic client, any letter case", [](const Path& v) { writeFile(v / "WOWCLASSIC.EXE", "MZ"); },
         "WOWCLASSIC.EXE"},
        {"bundle preferred to the program",
         [](const Path& v) {
             writeFile(v / "Wow.exe", "MZ");
             writeExecutable(v / "World of Warcraft.app/Contents/MacOS/wow");
         },
         "World of Warcraft.app"},
        {"program folder is not a program", [](const Path& v) { makeDirs(v / "Wow.exe"); }, ""},
        {"other program names", [](const Path& v) { writeFile(v / "Wow-64.exe", "MZ"); }, ""},
        {"nothing", [](const Path&) {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Path version = dir / "_retail_";
        makeDirs(version);
        c.arrange(version);
        ManagerService service([](const Path&) { return std::int64_t{1} << 40; });
        if (c.application.empty()) {
            EXPECT_EQ(failure([&] { service.installationCheck(GameClient(version), 0); }), kNoApplication);
        } else {
            EXPECT_EQ(service.installationCheck(GameClient(version), 0).application, version / c.application);
        }
    }

    // A linked MacOS folder is refused, not skipped; a linked program is no program.
    TempDir dir;
    Path version = dir / "_classic_";
    writeExecutable(dir / "elsewhere/wow");
    makeDirs(version / "Linked.app/Contents");
    fs::create_directory_symlink(dir / "elsewhere", version / "Linked.app/Contents/MacOS");
    ManagerService service;
    EXPECT_EQ(failure([&] { service.installationCheck(GameClient(version), 0); }),
              "拒绝链接或特殊文件：" + (version / "Linked.app/Contents/MacOS").native());
    fs::remove_all(version / "Linked.app");
    writeFile(dir / "elsewhere/Wow.exe", "MZ");
    fs::create_symlink(dir / "elsewhere/Wow.exe", version / "Wow.exe");
    EXPECT_EQ(failure([&] { service.installationCheck(GameClient(version), 0); }), kNoApplication);
}

TEST(InstallationCheck, RequiresTheIncomingSizeTwiceTheCurrentAddOnsAndTheMargin) {
    TempDir dir;
    Path version = dir / "_retail_";
    writeFile(version / "Wow.exe", "MZ");
    writeFile(version / "Interface/AddOns/A/big.bin", std::string(3'000'000, 'a'));
    writeFile(version / "Interface/AddOns/B/.hidden", std::string(2'000'000, 'b'));
    std::int64_t free = 87'108'864;
    ManagerService service([&](const Path& folder) {
        EXPECT_EQ(folder, version);
        return free;
    });
    InstallationCheck check = service.installationCheck(GameClient(version), 10'000'000);
    EXPECT_EQ(check.requiredBytes, 87'108'864);
    EXPECT_EQ(check.availableBytes, 87'108'864);
    EXPECT_EQ(check.application, version / "Wow.exe");

    free -= 1;
    EXPECT_EQ(failure([&] { service.installationCheck(GameClient(version), 10'000'000); }),
              "磁盘空间不足：至少需要 87.1 MB，剩余 87.1 MB。请导出旧备份或释放空间后重试。");
    EXPECT_EQ(failure([&] { service.installationCheck(GameClient(dir / "retail"), 0); }),
              "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。");
}

TEST(Housekeeping, RemovesOnlyStaleUnleasedStagingFolders) {
    TempDir dir;
    Path temporary = dir / "tmp";
    auto staging = [&](const std::string& name, bool leaseFile) {
        Path folder = temporary / name;
        writeFile(folder / "AddOns/Foo/Foo.toc", std::string(1000, 'x'));
        writeFile(folder / "AddOns/Foo/.hidden", std::string(234, 'y'));
        if (leaseFile) {
            writeFile(folder / ".lease/operation.lock", "");
        }
        return folder;
    };
    Path stale = staging("Olvex-" + Uuid::random().text(), true);
    std::string lowerUuid = Uuid::random().text();
    std::transform(lowerUuid.begin(), lowerUuid.end(), lowerUuid.begin(), ::tolower);
    Path lowerCase = staging("Olvex-" + lowerUuid, true);
    Path noLease = staging("Olvex-" + Uuid::random().text(), false);
    Path notUuid = staging("Olvex-preview", true);
    Path otherPrefix = staging("olvex-" + Uuid::random().text(), true);
    Path recent = staging("Olvex-" + Uuid::random().text(), true);
    Path held = staging("Olvex-" + Uuid::random().text(), true);
    Path linkedLease = staging("Olvex-" + Uuid::random().text(), false);
    makeDirs(linkedLease / ".lease");
    writeFile(dir / "lock", "");
    fs::create_symlink(dir / "lock", linkedLease / ".lease/operation.lock");
    writeFile(temporary / ("Olvex-" + Uuid::random().text()), "a file");
    for (const auto& entry : fs::directory_iterator(temporary)) {
        if (entry.path() != recent) {
            age(entry.path(), std::chrono::hours(48));
        }
    }
    std::optional<ClientLock> retained;
    retained.emplace(held / ".lease");

    ManagerService service({}, {}, temporary);
    Date cutoff{Date::now().sinceReference - 86'400};
    auto before = snapshotTree(temporary);
    std::int64_t removed = service.cleanupTemporaryFiles(cutoff);
    EXPECT_EQ(removed, 2 * 1234);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_FALSE(fs::exists(lowerCase));
    for (const Path& kept : {noLease, notUuid, otherPrefix, recent, held, linkedLease}) {
        SCOPED_TRACE(kept.filename().native());
        EXPECT_TRUE(fs::exists(kept / "AddOns/Foo/Foo.toc"));
    }
    auto after = snapshotTree(temporary);
    EXPECT_EQ(before.size() - after.size(), 2u * 7u); // two folders and their six entries, nothing else

    // The retained preview's folder goes once its lease is released.
    EXPECT_EQ(service.cleanupTemporaryFiles(cutoff), 0);
    retained.reset();
    EXPECT_EQ(service.cleanupTemporaryFiles(cutoff), 1234);
    EXPECT_FALSE(fs::exists(held));

    ManagerService lost({}, {}, dir / "missing");
    EXPECT_EQ(failure([&] { lost.cleanupTemporaryFiles(cutoff); }), "无法定位临时目录");
}
