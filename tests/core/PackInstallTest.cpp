// From a ZIP file to installed folders: preview, installation, upgrades and retired add-ons,
// refusals of malformed packs, cancellation and retries.

#include <gtest/gtest.h>

#include <unicode/ucnv.h>

#include "packs/PackRegistry.h"
#include "records/Errors.h"
#include "records/Sys.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"
#include "support/ZipBuilder.h"

using namespace olvex;
using namespace olvex::test;

namespace {

using Names = std::vector<std::string>;
const std::string kExpired = "导入预览已过期，请重新选择 ZIP。";

struct Game {
    TempDir dir;
    Path root = dir / "_retail_", temporary = dir / "tmp";
    GameClient client{root};
    ManagerService service{{}, {}, temporary};
    Game() { makeDirs(temporary), writeFile(root / "Wow.exe", "game"); }
    Path addons() const { return root / "Interface/AddOns"; }
    ImportPreview preview(const std::vector<ZipEntry>& entries, const std::string& name = "pack.zip") {
        writeZip(dir / name, entries);
        return service.preview(dir / name, client);
    }
    // The names in a folder, sorted; "Olvex-" staging folders only in the temporary folder.
    Names names(const Path& folder, const std::string& prefix = "") const {
        Names out;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().filename().native().starts_with(prefix)) {
                out.push_back(entry.path().filename());
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    size_t staging() const { return names(temporary, "Olvex-").size(); }
};

// A pack with the given add-ons (each with its TOC and one Lua file) and an optional manifest
// for version `version` of "pack.one".
std::vector<ZipEntry> pack(const Names& names, const std::string& prefix = "", const std::string& version = "",
                           const std::string& flavor = "_retail_") {
    std::vector<ZipEntry> entries;
    for (const auto& name : names) {
        entries.push_back(ZipEntry::file(prefix + name + "/" + name + ".toc", "## Title: " + name + "\n"));
        entries.push_back(ZipEntry::file(prefix + name + "/core.lua", "-- " + name + " " + version));
    }
    if (!version.empty()) {
        entries.push_back(ZipEntry::file(prefix + ".olvex-pack.json", R"({"identifier":"pack.one","name":"测试整合包",)"
                                                                      R"("version":")" +
                                                                          version + R"(","gameFlavor":")" + flavor +
                                                                          R"(","source":"本地"})"));
    }
    return entries;
}

std::vector<ZipEntry> operator+(std::vector<ZipEntry> entries, const std::vector<ZipEntry>& more) {
    entries.insert(entries.end(), more.begin(), more.end());
    return entries;
}

// A file stored under its GB18030 name, as Chinese Windows stores it.
ZipEntry gbk(const std::string& utf8, std::string content) {
    UErrorCode status = U_ZERO_ERROR;
    std::string bytes(utf8.size() * 2 + 4, '\0');
    bytes.resize(static_cast<size_t>(ucnv_convert("GB18030", "UTF-8", bytes.data(), static_cast<int32_t>(bytes.size()),
                                                  utf8.data(), static_cast<int32_t>(utf8.size()), &status)));
    EXPECT_TRUE(U_SUCCESS(status));
    return {"", std::move(content), ZipEntry::Type::file, bytes};
}

} // namespace

TEST(PackPreview, EveryLayoutPreviewsTheSameAddonsAndIgnoresMacMetadata) {
    Game game;
    writeFile(game.addons() / "two/two.toc", "old"); // replaced, in other letter case
    for (const std::string prefix : {"", "AddOns/", "Interface/AddOns/", "_retail_/Interface/AddOns/", "Wrapper/",
                                     "Wrapper/AddOns/", "Wrapper/_retail_/Interface/AddOns/"}) {
        SCOPED_TRACE(prefix);
        ImportPreview preview = game.preview(pack({"One", "Two"}, prefix) +
                                             std::vector{ZipEntry::file(prefix + ".DS_Store", "ignored"),
                                                         ZipEntry::file(prefix + "__MACOSX/One/._One.toc", "ignored")});
        EXPECT_EQ(preview.addons, (Names{"One", "Two"}));
        EXPECT_EQ(preview.replacing, (Names{"Two"}));
        EXPECT_EQ(preview.archiveName, "pack.zip");
        EXPECT_FALSE(preview.pack);
        EXPECT_EQ(game.staging(), 1u); // a new preview discards the previous one first
    }
    game.service.discardPreview();
    EXPECT_EQ(game.staging(), 0u);
    EXPECT_EQ(readFile(game.addons() / "two/two.toc"), "old");
}

TEST(PackPreview, MalformedPacksAreRefusedAndLeaveNoStaging) {
    Game game;
    const std::string noRoot = "无法唯一识别插件目录。请提供 AddOns/、Interface/AddOns/ 或直接包含各插件文件夹的 ZIP；"
                               "多版本包请先拆分。";
    auto noToc = [](const std::string& name) {
        return "插件目录必须直接包含与文件夹同名的 .toc（可含版本后缀）：" + name + "。WTF 配置不会从 ZIP 导入。";
    };
    auto extra = [](const std::string& name) {
        return pack({"One"}, "AddOns/") + std::vector{ZipEntry::file(name, "x")};
    };
    const std::vector<std::pair<std::vector<ZipEntry>, std::string>> cases = {
        {pack({"One"}, "_classic_/Interface/AddOns/"), "包内版本 _classic_ 与所选 _retail_ 不符，请切换游戏版本。"},
        {pack({"One"}, "AddOns/") + pack({"Two"}, "Interface/AddOns/"), noRoot},
        {pack({"One"}, "A/B/"), noRoot},
        {extra("AddOns/WTF/Config.wtf"), noToc("WTF")},
        {extra("AddOns/readme.txt"), noToc("readme.txt")},
        {{ZipEntry::file("AddOns/One/Other.toc", "x"), ZipEntry::file("AddOns/Two/Two.toc", "x")}, noToc("One")},
        {pack({"Café", "Cafe"}, "AddOns/"), "插件名存在大小写或 Unicode 冲突。"},
        {{ZipEntry::file("AddOns/.keep", "x")}, "整合包中没有插件。"},
        {pack({"One"}, "", "1", "_classic_"), "整合包清单的游戏版本与所选目录不符。"},
        {pack({"One"}, "", "") + std::vector{ZipEntry::file(".olvex-pack.json", std::string(65'537, ' '))},
         "整合包清单超过大小限制。"},
        {{ZipEntry::file(".lease/operation.lock", "x")}, "ZIP 存在重名文件或目录冲突"},
    };
    for (const auto& [entries, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(failure([&] { game.preview(entries); }), message);
        EXPECT_EQ(game.staging(), 0u);
    }
    // Positive control: the suffixed TOC alone is enough.
    EXPECT_EQ(game.preview({ZipEntry::file("One/One_Mainline.toc", "x")}).addons, Names{"One"});
    EXPECT_FALSE(fs::exists(game.addons()));
    EXPECT_EQ(failure([&] { game.service.install(Uuid::random()); }), kExpired);
}

TEST(PackInstall, UpgradeRetiresDroppedAddonsAndALaterReleaseBringsThemBack) {
    Game game;
    game.service.install(game.preview(pack({"One", "Two"}, "", "1.0")).token);
    EXPECT_FALSE(fs::exists(game.root / ".olvex-manager/backups")); // nothing existed to back up
    EXPECT_EQ(game.staging(), 0u);
    auto twoDigests = game.service.installedPacks(game.client).at(0).digests.at("Two");
    EXPECT_EQ(twoDigests.size(), 2u);

    auto v2 = game.preview(pack({"One", "Three"}, "", "2.0"));
    EXPECT_EQ(v2.previousVersion, "1.0");
    EXPECT_EQ(v2.retiredAddons, Names{"Two"});
    EXPECT_EQ(v2.replacing, Names{"One"});
    game.service.install(v2.token);
    EXPECT_EQ(game.names(game.addons()), (Names{".olvex-installed-packs.json", "One", "Three", "Two"}));
    EXPECT_EQ(readFile(game.addons() / "One/core.lua"), "-- One 2.0");
    EXPECT_EQ(readFile(game.addons() / "Two/core.lua"), "-- Two 1.0");
    auto registry = game.service.installedPacks(game.client);
    ASSERT_EQ(registry.size(), 1u);
    EXPECT_EQ(registry[0].addons, (Names{"One", "Three"}));
    EXPECT_EQ(registry[0].manifest.version, "2.0");
    EXPECT_EQ(registry[0].retired, (std::map<std::string, DigestMap>{{"Two", twoDigests}}));
    EXPECT_EQ(game.service.backups(game.client).size(), 1u);
    EXPECT_EQ(game.service.retiredAddons(game.client), (std::vector<RetiredAddon>{{"pack.one", "Two", true}}));

    // "two" comes back (in other letter case) and is no longer retired; "Three" is dropped now.
    game.service.install(game.preview(pack({"One", "two"}, "", "3.0")).token);
    EXPECT_EQ(game.service.installedPacks(game.client).at(0).retired.begin()->first, "Three");
    EXPECT_EQ(game.service.installedPacks(game.client).at(0).retired.size(), 1u);
    EXPECT_EQ(game.names(game.addons()), (Names{".olvex-installed-packs.json", "One", "Three", "two"}));
}

// Chinese Windows packs store GBK names; a pack without a manifest replaces folders whose names
// fold to the same (case and accents), never a folder another pack manages.
TEST(PackInstall, ARealisticManifestlessPackReplacesByFoldedNameAndLeavesTheRegistryAlone) {
    Game game;
    game.service.install(game.preview(pack({"Owned"}, "", "1")).token);
    writeFile(game.addons() / "Bartender4/Bartender4.toc", "## Version: old\n");
    writeFile(game.addons() / "Bartender4/stale.lua", "stale");
    writeFile(game.addons() / "one/one.toc", "old lower case");
    writeFile(game.addons() / "Cafe/Cafe.toc", "old without accent");
    writeFile(game.addons() / "Keep/Keep.toc", "untouched");
    auto before = snapshotTree(game.addons());

    // Each real add-on folder of the corpus with its TOC files byte for byte and Lua files, some
    // with Chinese names.
    const std::string root = "整合包/Interface/AddOns/";
    std::vector<ZipEntry> entries = pack({"One", "Café"}, root);
    Names expected = {".olvex-installed-packs.json", "Café", "Keep", "One", "Owned"};
    for (const auto& folder : fs::directory_iterator(corpus("tocs"))) {
        std::string name = folder.path().filename();
        if (!folder.is_directory()) {
            continue;
        }
        expected.push_back(name);
        for (const auto& toc : fs::directory_iterator(folder.path())) {
            entries.push_back(gbk(root + name + "/" + toc.path().filename().native(), readFile(toc.path())));
        }
        for (int i = 0; i < 12; ++i) {
            entries.push_back(
                gbk(root + name + (i % 3 ? "/modules/m" : "/本地化/简体中文") + std::to_string(i) + ".lua",
                    "local L = {} -- " + name + std::string(2000, '-')));
        }
    }
    std::sort(expected.begin(), expected.end());
    ImportPreview preview = game.preview(entries, "魔兽整合包.zip");
    EXPECT_EQ(preview.replacing, (Names{"Bartender4", "One"})); // letter case only, not accents
    game.service.install(preview.token);

    EXPECT_EQ(game.names(game.addons()), expected);
    EXPECT_FALSE(fs::exists(game.addons() / "Bartender4/stale.lua"));
    EXPECT_EQ(readFile(game.addons() / "Bartender4/Bartender4.toc"),
              readFile(corpus("tocs/Bartender4/Bartender4.toc")));
    EXPECT_TRUE(fs::exists(game.addons() / "ElvUI/本地化/简体中文0.lua"));
    EXPECT_EQ(readFile(game.addons() / "Keep/Keep.toc"), "untouched");
    EXPECT_EQ(readFile(game.addons() / ManagerService::registryName), before.at(ManagerService::registryName));
    EXPECT_EQ(game.service.installedAddons(game.client).size(), expected.size() - 1);
    auto backups = game.service.backups(game.client);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0].reason, "安装 魔兽整合包.zip 前自动备份");
    EXPECT_EQ(snapshotTree(game.root / ".olvex-manager/backups" / backups[0].id.text() / "payload"), before);

    EXPECT_EQ(failure([&] { game.preview(pack({"OWNED"})); }),
              "Owned 由整合包「测试整合包」管理，无法用其他包覆盖。请使用相同标识的整合包升级，或先恢复安装前快照。");
    EXPECT_EQ(game.staging(), 0u);
}

TEST(PackInstall, CancelledOrFailedInstallKeepsTheFolderAndThePreviewForARetry) {
    Game game;
    for (int i = 0; i < 30; ++i) {
        writeFile(game.addons() / ("Old" + std::to_string(i) + "/data.lua"), std::string(4096, 'x'));
    }
    auto before = snapshotTree(game.addons());
    std::int64_t free = 1000;
    ManagerService tight([&](const Path&) { return free; }, {}, game.temporary);
    writeZip(game.dir / "p.zip", pack({"New"}));
    auto preview = tight.preview(game.dir / "p.zip", game.client);
#ifdef OLVEX_FAULT_INJECTION
    OperationControl control;
    int reads = 0;
    sys::fault::arm({.onCall = [&](long, const char* name) {
        if (std::string_view(name) == "read" && ++reads == 10) {
            control.cancel(); // in the middle of copying the current add-on folder
        }
    }});
    free = 1'000'000'000;
    EXPECT_THROW(tight.install(preview.token, &control), CancellationError);
    sys::fault::disarm();
    EXPECT_EQ(snapshotTree(game.addons()), before);
    EXPECT_EQ(game.staging(), 1u);
    free = 1000;
#endif
    EXPECT_EQ(failure([&] { tight.install(preview.token); }).rfind("磁盘空间不足：", 0), 0u);
    EXPECT_EQ(snapshotTree(game.addons()), before);
    free = 1'000'000'000;
    std::vector<OperationStage> stages;
    OperationControl observed([&](OperationStage stage) { stages.push_back(stage); });
    tight.install(preview.token, &observed);
    EXPECT_TRUE(fs::exists(game.addons() / "New/New.toc"));
    EXPECT_EQ(stages, (std::vector<OperationStage>{OperationStage::validating, OperationStage::preparing,
                                                   OperationStage::backingUp, OperationStage::committing,
                                                   OperationStage::finished}));
    EXPECT_EQ(failure([&] { tight.install(preview.token); }), kExpired);
}
