// From a ZIP file to installed folders: preview, installation, upgrades and retired add-ons,
// refusals of malformed packs, cancellation and retries.

#include <gtest/gtest.h>

#include <unicode/ucnv.h>

#include "packs/PackRegistry.h"
#include "records/Errors.h"
#include "records/FileSafety.h"
#include "records/Sys.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"
#include "support/ZipBuilder.h"

using namespace olvex;
using namespace olvex::test;

namespace {

struct Game {
    TempDir dir;
    Path root = dir / "_retail_";
    Path temporary = dir / "tmp";
    GameClient client{root};
    ManagerService service{{}, {}, temporary};
    Game() {
        makeDirs(root);
        makeDirs(temporary);
        writeFile(root / "Wow.exe", "game");
    }
    Path addons() const { return root / "Interface/AddOns"; }
    Path zip(const std::string& name, const std::vector<ZipEntry>& entries) const {
        Path path = dir / name;
        writeZip(path, entries);
        return path;
    }
    size_t stagingFolders() const {
        size_t count = 0;
        for (const auto& entry : fs::directory_iterator(temporary)) {
            count += entry.path().filename().native().rfind("Olvex-", 0) == 0 ? 1 : 0;
        }
        return count;
    }
    size_t backupCount() const {
        Path folder = root / ".olvex-manager/backups";
        return fs::exists(folder) ? static_cast<size_t>(std::distance(fs::directory_iterator(folder), {})) : 0;
    }
};

std::string manifestJson(const std::string& identifier, const std::string& version,
                         const std::string& flavor = "_retail_") {
    return R"({"identifier":")" + identifier + R"(","name":"测试整合包","version":")" + version +
           R"(","gameFlavor":")" + flavor + R"(","source":"本地"})";
}

// A pack with the given add-ons (each with its TOC and one Lua file) and an optional manifest.
std::vector<ZipEntry> pack(const std::vector<std::string>& names, const std::string& prefix = "",
                           const std::string& manifest = "", const std::string& marker = "1") {
    std::vector<ZipEntry> entries;
    for (const auto& name : names) {
        entries.push_back(ZipEntry::file(prefix + name + "/" + name + ".toc", "## Title: " + name + "\n"));
        entries.push_back(ZipEntry::file(prefix + name + "/core.lua", "-- " + name + " " + marker));
    }
    if (!manifest.empty()) {
        entries.push_back(ZipEntry::file(prefix + ".olvex-pack.json", manifest));
    }
    return entries;
}

std::vector<std::string> names(const Path& folder) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder)) {
        out.push_back(entry.path().filename());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string toGbk(const std::string& utf8) {
    UErrorCode status = U_ZERO_ERROR;
    std::string out(utf8.size() * 2 + 4, '\0');
    int32_t length = ucnv_convert("GB18030", "UTF-8", out.data(), static_cast<int32_t>(out.size()), utf8.data(),
                                  static_cast<int32_t>(utf8.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status));
    out.resize(static_cast<size_t>(length));
    return out;
}

} // namespace

TEST(PackPreview, EveryLayoutPreviewsTheSameAddons) {
    Game game;
    writeFile(game.addons() / "two/two.toc", "old"); // replaced, in other letter case
    const std::vector<std::string> layouts = {"",
                                              "AddOns/",
                                              "Interface/AddOns/",
                                              "_retail_/Interface/AddOns/",
                                              "Wrapper/",
                                              "Wrapper/AddOns/",
                                              "Wrapper/_retail_/Interface/AddOns/"};
    for (const auto& prefix : layouts) {
        SCOPED_TRACE(prefix);
        auto entries = pack({"One", "Two"}, prefix);
        entries.push_back(ZipEntry::file(prefix + ".DS_Store", "ignored"));
        entries.push_back(ZipEntry::file(prefix + "__MACOSX/One/._One.toc", "ignored"));
        ImportPreview preview = game.service.preview(game.zip("pack.zip", entries), game.client);
        EXPECT_EQ(preview.addons, (std::vector<std::string>{"One", "Two"}));
        EXPECT_EQ(preview.replacing, (std::vector<std::string>{"Two"}));
        EXPECT_EQ(preview.archiveName, "pack.zip");
        EXPECT_FALSE(preview.pack);
        EXPECT_EQ(game.stagingFolders(), 1u); // a new preview discards the previous one first
    }
    game.service.discardPreview();
    EXPECT_EQ(game.stagingFolders(), 0u);
    EXPECT_EQ(readFile(game.addons() / "two/two.toc"), "old");
}

TEST(PackPreview, MalformedPacksAreRefusedAndLeaveNoStaging) {
    Game game;
    struct Case {
        const char* label;
        std::vector<ZipEntry> entries;
        std::string message;
    };
    std::vector<Case> cases = {
        {"another flavour", pack({"One"}, "_classic_/Interface/AddOns/"),
         "包内版本 _classic_ 与所选 _retail_ 不符，请切换游戏版本。"},
        {"two roots",
         [] {
             auto e = pack({"One"}, "AddOns/");
             auto more = pack({"Two"}, "Interface/AddOns/");
             e.insert(e.end(), more.begin(), more.end());
             return e;
         }(),
         "无法唯一识别插件目录。请提供 AddOns/、Interface/AddOns/ 或直接包含各插件文件夹的 ZIP；多版本包请先拆分。"},
        {"two wrappers", pack({"One"}, "A/B/"),
         "无法唯一识别插件目录。请提供 AddOns/、Interface/AddOns/ 或直接包含各插件文件夹的 ZIP；多版本包请先拆分。"},
        {"WTF beside the add-ons",
         [] {
             auto e = pack({"One"}, "AddOns/");
             e.push_back(ZipEntry::file("AddOns/WTF/Config.wtf", "x"));
             return e;
         }(),
         "插件目录必须直接包含与文件夹同名的 .toc（可含版本后缀）：WTF。WTF 配置不会从 ZIP 导入。"},
        {"loose file",
         [] {
             auto e = pack({"One"}, "AddOns/");
             e.push_back(ZipEntry::file("AddOns/readme.txt", "x"));
             return e;
         }(),
         "插件目录必须直接包含与文件夹同名的 .toc（可含版本后缀）：readme.txt。WTF 配置不会从 ZIP 导入。"},
        {"TOC named after another add-on",
         {ZipEntry::file("AddOns/One/Other.toc", "x"), ZipEntry::file("AddOns/Two/Two.toc", "x")},
         "插件目录必须直接包含与文件夹同名的 .toc（可含版本后缀）：One。WTF 配置不会从 ZIP 导入。"},
        {"accent collision", pack({"Café", "Cafe"}, "AddOns/"), "插件名存在大小写或 Unicode 冲突。"},
        {"nothing but hidden names", {ZipEntry::file("AddOns/.keep", "x")}, "整合包中没有插件。"},
        {"manifest for another version", pack({"One"}, "", manifestJson("pack.one", "1", "_classic_")),
         "整合包清单的游戏版本与所选目录不符。"},
        {"invalid manifest", pack({"One"}, "", manifestJson(".bad", "1")), "整合包清单标识、名称或版本无效。"},
        {"oversized manifest", pack({"One"}, "", std::string(65'537, ' ')), "整合包清单超过大小限制。"},
        {"lease name inside the ZIP", {ZipEntry::file(".lease/operation.lock", "x")}, "ZIP 存在重名文件或目录冲突"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Path zip = game.zip("bad.zip", c.entries);
        EXPECT_EQ(failure([&] { game.service.preview(zip, game.client); }), c.message);
        EXPECT_EQ(game.stagingFolders(), 0u);
    }
    // Positive control: the suffixed TOC alone is enough.
    EXPECT_EQ(
        game.service.preview(game.zip("ok.zip", {ZipEntry::file("One/One_Mainline.toc", "x")}), game.client).addons,
        (std::vector<std::string>{"One"}));
    EXPECT_FALSE(fs::exists(game.addons()));
    EXPECT_EQ(failure([&] { game.service.install(Uuid::random()); }), "导入预览已过期，请重新选择 ZIP。");
}

TEST(PackInstall, UpgradeRetiresDroppedAddonsAndALaterReleaseBringsThemBack) {
    Game game;
    auto v1 = game.service.preview(game.zip("v1.zip", pack({"One", "Two"}, "", manifestJson("pack.one", "1.0"), "v1")),
                                   game.client);
    game.service.install(v1.token);
    EXPECT_EQ(game.backupCount(), 0u); // nothing existed to back up
    EXPECT_EQ(game.stagingFolders(), 0u);
    auto registry = game.service.installedPacks(game.client);
    ASSERT_EQ(registry.size(), 1u);
    auto twoDigests = registry[0].digests.at("Two");
    EXPECT_EQ(twoDigests.size(), 2u);

    auto v2 = game.service.preview(
        game.zip("v2.zip", pack({"One", "Three"}, "", manifestJson("pack.one", "2.0"), "v2")), game.client);
    EXPECT_EQ(v2.previousVersion, "1.0");
    EXPECT_EQ(v2.retiredAddons, (std::vector<std::string>{"Two"}));
    EXPECT_EQ(v2.replacing, (std::vector<std::string>{"One"}));
    game.service.install(v2.token);
    EXPECT_EQ(names(game.addons()), (std::vector<std::string>{".olvex-installed-packs.json", "One", "Three", "Two"}));
    EXPECT_EQ(readFile(game.addons() / "One/core.lua"), "-- One v2");
    EXPECT_EQ(readFile(game.addons() / "Two/core.lua"), "-- Two v1");
    registry = game.service.installedPacks(game.client);
    ASSERT_EQ(registry.size(), 1u);
    EXPECT_EQ(registry[0].addons, (std::vector<std::string>{"One", "Three"}));
    EXPECT_EQ(registry[0].manifest.version, "2.0");
    EXPECT_EQ(registry[0].retired.at("Two"), twoDigests);
    EXPECT_EQ(game.backupCount(), 1u);
    auto retired = game.service.retiredAddons(game.client);
    ASSERT_EQ(retired.size(), 1u);
    EXPECT_TRUE(retired[0].canRemove);

    auto v3 = game.service.preview(game.zip("v3.zip", pack({"One", "two"}, "", manifestJson("pack.one", "3.0"), "v3")),
                                   game.client);
    game.service.install(v3.token);
    // "two" comes back (in other letter case) and is no longer retired; "Three" is dropped now.
    registry = game.service.installedPacks(game.client);
    ASSERT_EQ(registry[0].retired.size(), 1u);
    EXPECT_EQ(registry[0].retired.begin()->first, "Three");
    EXPECT_EQ(names(game.addons()), (std::vector<std::string>{".olvex-installed-packs.json", "One", "Three", "two"}));
}

TEST(PackInstall, ManifestlessPacksReplaceByFoldedNameAndLeaveTheRegistryAlone) {
    Game game;
    auto managed =
        game.service.preview(game.zip("m.zip", pack({"Owned"}, "", manifestJson("pack.one", "1"))), game.client);
    game.service.install(managed.token);
    writeFile(game.addons() / "one/one.toc", "old lower case");
    writeFile(game.addons() / "Cafe/Cafe.toc", "old without accent");
    writeFile(game.addons() / "Keep/Keep.toc", "untouched");
    std::string registryBefore = readFile(game.addons() / ".olvex-installed-packs.json");

    auto loose = game.service.preview(game.zip("loose.zip", pack({"One", "Café"})), game.client);
    EXPECT_EQ(loose.replacing, (std::vector<std::string>{"One"})); // "replacing" compares letter case only
    game.service.install(loose.token);
    EXPECT_EQ(names(game.addons()),
              (std::vector<std::string>{".olvex-installed-packs.json", "Café", "Keep", "One", "Owned"}));
    EXPECT_EQ(readFile(game.addons() / ".olvex-installed-packs.json"), registryBefore);
    EXPECT_EQ(readFile(game.addons() / "Keep/Keep.toc"), "untouched");

    // A manifest-less pack can never replace a managed folder, whatever its letter case.
    EXPECT_EQ(failure([&] { game.service.preview(game.zip("steal.zip", pack({"OWNED"})), game.client); }),
              "Owned 由整合包「测试整合包」管理，无法用其他包覆盖。请使用相同标识的整合包升级，或先恢复安装前快照。");
    EXPECT_EQ(game.stagingFolders(), 0u);
}

TEST(PackInstall, CancelledOrFailedInstallKeepsTheFolderAndThePreviewForARetry) {
    Game game;
    for (int i = 0; i < 30; ++i) {
        writeFile(game.addons() / ("Old" + std::to_string(i) + "/data.lua"), std::string(4096, 'x'));
    }
    auto before = snapshotTree(game.addons());
    auto preview = game.service.preview(game.zip("p.zip", pack({"New"})), game.client);

#ifdef OLVEX_FAULT_INJECTION
    OperationControl control;
    int reads = 0;
    sys::fault::arm({.onCall = [&](long, const char* name) {
        if (std::string_view(name) == "read" && ++reads == 10) {
            control.cancel(); // in the middle of copying the current add-on folder
        }
    }});
    EXPECT_THROW(game.service.install(preview.token, &control), CancellationError);
    sys::fault::disarm();
    EXPECT_EQ(snapshotTree(game.addons()), before);
    EXPECT_EQ(game.stagingFolders(), 1u);
#endif

    std::int64_t free = 1000;
    ManagerService tight([&](const Path&) { return free; }, {}, game.temporary);
    auto retained = tight.preview(game.zip("p.zip", pack({"New"})), game.client);
    EXPECT_EQ(failure([&] { tight.install(retained.token); }).rfind("磁盘空间不足：", 0), 0u);
    EXPECT_EQ(snapshotTree(game.addons()), before);
    free = 1'000'000'000;
    std::vector<OperationStage> stages;
    OperationControl observed([&](OperationStage stage) { stages.push_back(stage); });
    tight.install(retained.token, &observed);
    EXPECT_TRUE(fs::exists(game.addons() / "New/New.toc"));
    EXPECT_EQ(stages, (std::vector<OperationStage>{OperationStage::validating, OperationStage::preparing,
                                                   OperationStage::backingUp, OperationStage::committing,
                                                   OperationStage::finished}));
    EXPECT_EQ(failure([&] { tight.install(retained.token); }), "导入预览已过期，请重新选择 ZIP。");
}

TEST(PackInstall, ARealisticChineseWindowsPackInstallsOverExistingAddons) {
    Game game;
    writeFile(game.addons() / "Bartender4/Bartender4.toc", "## Version: old\n");
    writeFile(game.addons() / "Bartender4/stale.lua", "stale");
    writeFile(game.addons() / "MyOwnAddon/MyOwnAddon.toc", "## Title: mine\n");

    // Each real add-on folder of the corpus, its TOC files byte for byte, filled with Lua
    // files, some of them with Chinese names stored in GBK as Chinese Windows does.
    std::vector<ZipEntry> entries;
    std::vector<std::string> expected;
    int serial = 0;
    for (const auto& folder : fs::directory_iterator(corpus("tocs"))) {
        if (!folder.is_directory()) {
            continue;
        }
        std::string name = folder.path().filename();
        expected.push_back(name);
        std::string prefix = "整合包/Interface/AddOns/" + name + "/";
        for (const auto& toc : fs::directory_iterator(folder.path())) {
            ZipEntry entry = ZipEntry::file("", readFile(toc.path()));
            entry.rawName = toGbk(prefix + toc.path().filename().native());
            entries.push_back(entry);
        }
        for (int i = 0; i < 12; ++i) {
            std::string file =
                i % 3 == 0 ? "本地化/简体中文" + std::to_string(i) + ".lua" : "modules/m" + std::to_string(i) + ".lua";
            ZipEntry entry = ZipEntry::file("", "local L = {} -- " + std::to_string(serial++) + std::string(2000, '-'));
            entry.rawName = toGbk(prefix + file);
            entries.push_back(entry);
        }
    }
    std::sort(expected.begin(), expected.end());
    auto preview = game.service.preview(game.zip("魔兽整合包.zip", entries), game.client);
    EXPECT_EQ(preview.addons, expected);
    EXPECT_EQ(preview.replacing, (std::vector<std::string>{"Bartender4"}));
    game.service.install(preview.token);

    EXPECT_FALSE(fs::exists(game.addons() / "Bartender4/stale.lua"));
    EXPECT_EQ(readFile(game.addons() / "Bartender4/Bartender4.toc"),
              readFile(corpus("tocs/Bartender4/Bartender4.toc")));
    EXPECT_TRUE(fs::exists(game.addons() / "ElvUI/本地化/简体中文0.lua"));
    EXPECT_EQ(readFile(game.addons() / "MyOwnAddon/MyOwnAddon.toc"), "## Title: mine\n");
    auto installed = game.service.installedAddons(game.client);
    EXPECT_EQ(installed.size(), expected.size() + 1);
    auto backups = game.service.backups(game.client);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0].reason, "安装 魔兽整合包.zip 前自动备份");
}
