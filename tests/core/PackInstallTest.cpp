// From a ZIP file to installed folders: preview, installation, upgrades and retired add-ons,
// refusals of malformed packs, cancellation and retries.

#include <gtest/gtest.h>

#include <algorithm>

#include "base/Errors.h"
#include "fs/ClientLock.h"
#include "fs/Sys.h"
#include "packs/PackRegistry.h"
#include "service/ManagerService.h"
#include "support/GameFixture.h"
#include "support/ZipBuilder.h"

using namespace olvex;
using namespace olvex::test;

namespace {

using Names = std::vector<std::string>;
using Entries = std::vector<ZipEntry>;
const std::string kExpired = "导入预览已过期，请重新选择 ZIP。";
const auto F = [](std::string name, std::string content = "x") { return ZipEntry::file(name, content); };

// A version folder with the game and no Interface folder yet: a first install has nothing to back up.
struct Game : GameFixture {
    Game() { fs::remove_all(root() / "Interface"); }
    ImportPreview preview(const Entries& entries, const std::string& name = "pack.zip") {
        writeZip(dir / name, entries);
        return service.preview(dir / name, client);
    }
    // Counted once the deletions of finished operations are done.
    long staging() {
        service.waitForDeletions();
        return std::count_if(fs::directory_iterator(temporary()), {},
                             [](const auto& entry) { return entry.path().filename().native().starts_with("Olvex-"); });
    }
};

Entries operator+(Entries entries, const Entries& more) {
    entries.insert(entries.end(), more.begin(), more.end());
    return entries;
}

} // namespace

// What the player names as the ZIP: a link to a real ZIP is that ZIP (only read, resolved once);
// a folder is told so; and a version folder another manager works on is refused before anything
// is unpacked.
TEST(PackPreview, TheChosenPathIsResolvedOnceAndTheLeaseAskedBeforeUnpacking) {
    Game game;
    writeZip(game.dir / "real.zip", packEntries({"One"}));
    fs::create_symlink(game.dir / "real.zip", game.dir / "link.zip");
    makeDirs(game.dir / "folder.zip");
    const ImportPreview linked = game.service.preview(game.dir / "link.zip", game.client);
    EXPECT_EQ(linked.addons, Names{"One"});
    EXPECT_EQ(linked.archiveName, "link.zip");
    game.service.discardPreview();
    EXPECT_EQ(failure([&] { game.service.preview(game.dir / "folder.zip", game.client); }),
              "“folder.zip”是文件夹，不是 ZIP 文件，请选择 ZIP 文件本身。");
    {
        ClientLock another(game.manager());
        OperationControl control([](OperationStage) {});
        EXPECT_EQ(failure([&] { game.service.preview(game.dir / "real.zip", game.client, &control); }),
                  "另一个管理器正在操作此游戏目录，请稍后再试。");
        EXPECT_EQ(control.progress().total, 0) << "the ZIP was read";
    }
    EXPECT_EQ(game.staging(), 0);
}

TEST(PackPreview, EveryLayoutPreviewsTheSameAddonsAndIgnoresMacMetadata) {
    Game game;
    writeFile(game.addons() / "two/two.toc", "old"); // replaced, in other letter case
    for (const std::string prefix : {"", "AddOns/", "Interface/AddOns/", "_retail_/Interface/AddOns/", "Wrapper/",
                                     "Wrapper/AddOns/", "Wrapper/_retail_/Interface/AddOns/"}) {
        SCOPED_TRACE(prefix);
        auto preview = game.preview(packEntries({"One", "Two"}, prefix) +
                                    Entries{F(prefix + ".DS_Store"), F(prefix + "__MACOSX/One/._One.toc")});
        EXPECT_EQ(preview.addons, (Names{"One", "Two"}));
        EXPECT_EQ(preview.replacing, Names{"Two"});
        EXPECT_EQ(preview.archiveName, "pack.zip");
        EXPECT_FALSE(preview.pack);
        EXPECT_EQ(game.staging(), 1); // a new preview discards the previous one first
    }
    game.service.discardPreview();
    EXPECT_EQ(game.staging(), 0);
    EXPECT_EQ(readFile(game.addons() / "two/two.toc"), "old");
}

TEST(PackPreview, MalformedPacksAreRefusedAndLeaveNoStaging) {
    Game game;
    const std::string noRoot = "无法唯一识别插件目录。请提供 AddOns/、Interface/AddOns/ 或直接包含各插件文件夹的 ZIP；"
                               "多版本包请先拆分。";
    auto noToc = [](const std::string& name) {
        return "插件目录必须直接包含与文件夹同名的 .toc（可含版本后缀）：" + name + "。WTF 配置不会从 ZIP 导入。";
    };
    const std::vector<std::pair<Entries, std::string>> cases = {
        {packEntries({"One"}, "_classic_/Interface/AddOns/"),
         "包内版本 _classic_ 与所选 _retail_ 不符，请切换游戏版本。"},
        {packEntries({"One"}, "AddOns/") + packEntries({"Two"}, "Interface/AddOns/"), noRoot},
        {packEntries({"One"}, "A/B/"), noRoot},
        {packEntries({"One"}, "AddOns/") + Entries{F("AddOns/WTF/Config.wtf")}, noToc("WTF")},
        {packEntries({"One"}, "AddOns/") + Entries{F("AddOns/readme.txt")}, noToc("readme.txt")},
        {{F("AddOns/One/Other.toc"), F("AddOns/Two/Two.toc")}, noToc("One")},
        {packEntries({"Café", "Cafe"}, "AddOns/"), "插件名存在大小写或 Unicode 冲突。"},
        {{F("AddOns/.keep")}, "整合包中没有插件。"},
        {packEntries({"One"}, "", "1", "pack.one", "_classic_"), "整合包清单的游戏版本与所选目录不符。"},
        {packEntries({"One"}, "", "1", ".bad"), "整合包清单标识、名称或版本无效。"},
        {packEntries({"One"}) + Entries{F(".olvex-pack.json", std::string(65'537, ' '))}, "整合包清单超过大小限制。"},
        {packEntries({"One"}) + Entries{F(".olvex-pack.json", R"({"identifier":1})")},
         "整合包清单（.olvex-pack.json）已损坏：字段“identifier”不是文本。"},
        {{F(".lease/operation.lock")}, "ZIP 存在重名文件或目录冲突"},
    };
    for (const auto& [entries, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(failure([&] { game.preview(entries); }), message);
        EXPECT_EQ(game.staging(), 0);
    }
    // Positive control: the suffixed TOC alone is enough.
    EXPECT_EQ(game.preview({F("One/One_Mainline.toc")}).addons, Names{"One"});
    EXPECT_FALSE(fs::exists(game.addons()));
    EXPECT_EQ(failure([&] { game.service.install(Uuid::random()); }), kExpired);
}

TEST(PackInstall, UpgradeRetiresDroppedAddonsAndALaterReleaseBringsThemBack) {
    Game game;
    game.service.install(game.preview(packEntries({"One", "Two"}, "", "1.0")).token);
    EXPECT_TRUE(game.service.backups(game.client).empty()); // nothing existed to back up
    EXPECT_EQ(game.staging(), 0);
    auto twoDigests = game.service.installedPacks(game.client).at(0).digests.at("Two");
    EXPECT_EQ(twoDigests.size(), 2u);

    auto v2 = game.preview(packEntries({"One", "Three"}, "", "2.0"));
    EXPECT_EQ(v2.previousVersion, "1.0");
    EXPECT_EQ(v2.retiredAddons, Names{"Two"});
    EXPECT_EQ(v2.replacing, Names{"One"});
    game.service.install(v2.token);
    EXPECT_EQ(names(game.addons()), (Names{kRegistryName, "One", "Three", "Two"}));
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
    game.service.install(game.preview(packEntries({"One", "two"}, "", "3.0")).token);
    EXPECT_EQ(game.service.retiredAddons(game.client), (std::vector<RetiredAddon>{{"pack.one", "Three", true}}));
    EXPECT_EQ(names(game.addons()), (Names{kRegistryName, "One", "Three", "two"}));
}

// Chinese Windows stores GBK names. A pack without a manifest replaces the folders whose names
// fold to its own (letter case and accents), never a folder that a pack manages.
TEST(PackInstall, ARealisticManifestlessPackReplacesByFoldedNameAndLeavesTheRegistryAlone) {
    Game game;
    game.service.install(game.preview(packEntries({"Owned"}, "", "1")).token);
    for (auto [file, content] : {std::pair{"Bartender4/Bartender4.toc", "old"},
                                 {"Bartender4/stale.lua", "stale"},
                                 {"one/one.toc", "old lower case"},
                                 {"Cafe/Cafe.toc", "old without accent"},
                                 {"Keep/Keep.toc", "untouched"}}) {
        writeFile(game.addons() / file, content);
    }
    auto before = snapshotTree(game.addons());
    // Every add-on folder of the corpus with its TOC files byte for byte and generated Lua files, stored
    // under GBK names: "整合包/Interface/AddOns/" and "本地化/简体中文.lua".
    const std::string root = "整合包/Interface/AddOns/", gbkRoot = "\xd5\xfb\xba\xcf\xb0\xfc/Interface/AddOns/";
    auto gbk = [&](const std::string& name, std::string content) {
        return ZipEntry{"", std::move(content), ZipEntry::Type::file, gbkRoot + name};
    };
    Entries entries = packEntries({"One", "Café"}, root);
    Names expected = {kRegistryName, "Café", "Keep", "One", "Owned"};
    for (const auto& folder : fs::directory_iterator(corpus("tocs"))) {
        std::string name = folder.path().filename();
        if (folder.is_directory()) {
            for (const auto& toc : fs::directory_iterator(folder.path())) {
                entries.push_back(gbk(name + "/" + toc.path().filename().native(), readFile(toc.path())));
            }
            entries.push_back(gbk(name + "/\xb1\xbe\xb5\xd8\xbb\xaf/\xbc\xf2\xcc\xe5\xd6\xd0\xce\xc4.lua",
                                  "local L = {} -- " + name));
            for (int module = 1; module <= 3; ++module) {
                std::string lua;
                for (int line = 0; line < 40 * module; ++line) {
                    lua += "function " + name + ".f" + std::to_string(line) + "() end\n";
                }
                entries.push_back(gbk(name + "/Modules/Module" + std::to_string(module) + ".lua", lua));
            }
            expected.push_back(name);
        }
    }
    std::sort(expected.begin(), expected.end());
    ImportPreview preview = game.preview(entries, "魔兽整合包.zip");
    // The install replaces by the name fold (case and accents), and the preview says so.
    EXPECT_EQ(preview.replacing, (Names{"Bartender4", "Café", "One"}));
    game.service.install(preview.token);

    EXPECT_EQ(names(game.addons()), expected);
    EXPECT_FALSE(fs::exists(game.addons() / "Bartender4/stale.lua"));
    EXPECT_EQ(readFile(game.addons() / "Bartender4/Bartender4.toc"),
              readFile(corpus("tocs/Bartender4/Bartender4.toc")));
    EXPECT_EQ(readFile(game.addons() / "ElvUI/本地化/简体中文.lua"), "local L = {} -- ElvUI");
    EXPECT_EQ(readFile(game.addons() / "ElvUI/Modules/Module3.lua").size(), 3010u);
    EXPECT_EQ(readFile(game.addons() / "Keep/Keep.toc"), "untouched");
    EXPECT_EQ(readFile(game.addons() / kRegistryName), before.at(kRegistryName));
    EXPECT_EQ(game.service.installedAddons(game.client).size(), expected.size() - 1);
    auto backups = game.service.backups(game.client);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0].reason, "安装 魔兽整合包.zip 前自动备份");
    EXPECT_EQ(game.payload(backups[0]), before);

    EXPECT_EQ(failure([&] { game.preview(packEntries({"OWNED"})); }),
              "Owned 由整合包「测试整合包」管理，无法用其他包覆盖。请使用相同标识的整合包升级，或先恢复安装前快照。");
    EXPECT_EQ(game.staging(), 0);
}

TEST(PackInstall, CancelledOrFailedInstallKeepsTheFolderAndThePreviewForARetry) {
    Game game;
    for (int i = 0; i < 30; ++i) {
        writeFile(game.addons() / ("Old" + std::to_string(i) + "/data.lua"), std::string(4096, 'x'));
    }
    auto before = snapshotTree(game.addons());
    auto preview = game.preview(packEntries({"New"}));
#ifdef OLVEX_FAULT_INJECTION
    OperationControl control;
    int chunks = 0;
    sys::fault::arm({.onCall = [&](long, const char* name) {
        if (std::string_view(name) == "copyFileRange" && ++chunks == 10) {
            control.cancel(); // in the middle of copying the current add-on folder
        }
    }});
    EXPECT_THROW(game.service.install(preview.token, &control), CancellationError);
    sys::fault::disarm();
    EXPECT_EQ(snapshotTree(game.addons()), before);
    EXPECT_EQ(game.staging(), 1);
#endif
    game.free = 1000;
    EXPECT_EQ(failure([&] { game.service.install(preview.token); }),
              "磁盘空间不足：至少需要 67.4 MB，剩余 1 KB。请导出旧备份或释放空间后重试。");
    EXPECT_EQ(snapshotTree(game.addons()), before);
    game.free = std::int64_t{1} << 40;
    std::vector<OperationStage> stages;
    OperationControl observed([&](OperationStage stage) { stages.push_back(stage); });
    game.service.install(preview.token, &observed);
    EXPECT_TRUE(fs::exists(game.addons() / "New/New.toc"));
    EXPECT_EQ(stages, (std::vector<OperationStage>{OperationStage::validating, OperationStage::preparing,
                                                   OperationStage::backingUp, OperationStage::committing,
                                                   OperationStage::finished}));
    EXPECT_EQ(failure([&] { game.service.install(preview.token); }), kExpired);
}

#ifdef OLVEX_FAULT_INJECTION
// Between the transaction's sizing and its copy, a folder of the live add-ons is swapped for a
// link to a folder outside the game: the copy refuses it where it meets it and nothing outside is
// read or written. Once the folder is back, the retry leaves the replaced add-on out of the copy
// and its progress still reaches its total.
TEST(PackInstall, AFolderSwappedForALinkAfterSizingIsRefusedByTheCopy) {
    Game game;
    writeFile(game.addons() / "Keep/sub/data.lua", "keep");
    writeFile(game.addons() / "new/old.lua", std::string(5000, 'o'));
    writeFile(game.dir / "canvas/secret", "secret");
    const auto before = snapshotTree(game.addons());
    const auto canvas = snapshotTree(game.dir / "canvas");
    const ImportPreview preview = game.preview(packEntries({"New"}, "", "1.0"));
    OperationControl control;
    bool swapped = false;
    sys::fault::arm({.onCall = [&](long, const char*) {
        if (!swapped && control.progress().total > 0) { // the live folder was just sized
            swapped = true;
            fs::rename(game.addons() / "Keep/sub", game.dir / "away");
            fs::create_directory_symlink(game.dir / "canvas", game.addons() / "Keep/sub");
        }
    }});
    const std::string message = failure([&] { game.service.install(preview.token, &control); });
    sys::fault::disarm();
    EXPECT_EQ(message, "拒绝链接或特殊文件：" + (game.addons() / "Keep/sub").native());
    EXPECT_EQ(snapshotTree(game.dir / "canvas"), canvas);
    fs::remove(game.addons() / "Keep/sub");
    fs::rename(game.dir / "away", game.addons() / "Keep/sub");
    EXPECT_EQ(snapshotTree(game.addons()), before);

    OperationControl::Progress last, built;
    OperationControl retry([&](OperationStage stage) {
        if (stage == OperationStage::backingUp) {
            built = last; // the build's progress, before the backup starts its own
        }
    });
    sys::fault::arm({.onCall = [&](long, const char*) { last = retry.progress(); }});
    game.service.install(preview.token, &retry);
    sys::fault::disarm();
    EXPECT_EQ(names(game.addons()), (Names{kRegistryName, "Keep", "New"}));
    EXPECT_EQ(readFile(game.addons() / "Keep/sub/data.lua"), "keep");
    EXPECT_GT(built.total, 0);
    EXPECT_EQ(built.done, built.total);
}
#endif
