#include <gtest/gtest.h>

#include <cerrno>

#include "discovery/TocFile.h"
#include "records/Errors.h"
#include "records/Sys.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kVersionFolderMessage = "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。";

struct Row {
    std::string folder, title, version, author, dependencies, interface;
};

Row row(const InstalledAddon& addon) {
    return {addon.folder.filename().native(),
            addon.title,
            addon.version,
            addon.author,
            addon.dependencies,
            addon.interface};
}

void expectRow(const InstalledAddon& addon, const Row& expected) {
    Row actual = row(addon);
    EXPECT_EQ(actual.folder, expected.folder);
    EXPECT_EQ(actual.title, expected.title);
    EXPECT_EQ(actual.version, expected.version);
    EXPECT_EQ(actual.author, expected.author);
    EXPECT_EQ(actual.dependencies, expected.dependencies);
    EXPECT_EQ(actual.interface, expected.interface);
}

std::map<std::string, std::string> parse(const std::string& bytes) {
    return toc::FieldParser().parse(bytes);
}

std::string repeat(const std::string& piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

} // namespace

TEST(Inventory, RealTocFilesReadAsPlayersSeeThemInEachFlavour) {
    TempDir dir;
    ManagerService service;
    const std::vector<std::string> flavours{"_retail_", "_classic_era_", "_classic_"};
    for (const auto& flavour : flavours) {
        Path addons = dir / (flavour + "/Interface/AddOns");
        makeDirs(addons);
        for (const auto& entry : fs::directory_iterator(corpus("tocs"))) {
            if (entry.is_directory()) {
                fs::copy(entry.path(), addons / entry.path().filename(), fs::copy_options::recursive);
            }
        }
    }
    // Per add-on: the interface line tells which file was read in _retail_, _classic_era_, _classic_.
    struct Case {
        Row row;
        std::string eraInterface, classicInterface;
        std::string eraTitle = {}; // when the era file's title differs
    };
    const std::vector<Case> cases{
        // The Interface line is the first one, behind a byte-order mark.
        {{"Grid2", "Grid2", "@project-version@", "Pastamancer & Maia, Jerry, Toadkiller", "无", "120100"},
         "120100",
         "120100"},
        {{"BigWigs", "BigWigs", "@project-version@", "Funkeh, Nebula, Justwait, Delk", "无", "120100, 120005, 120007"},
         "11508, 11509",
         "50504, 50503"},
        {{"BigWigs_Core", "BigWigs [核心]", "@project-version@", "未声明", "BigWigs",
          "40402, 50503, 50504, 120100, 120005, 120007"},
         "11508, 11509",
         "40402, 50503, 50504, 120100, 120005, 120007"},
        {{"DBM-Core", "<DBM Core> 核心", "@project-version@", "MysticalOS, QartemisT", "DBM-StatusBarTimers",
          "120007, 120100"},
         "11509",
         "30405, 38002"},
        // CRLF line ends; only a Mainline file, which every flavour falls back to.
        {{"DBM-Raids-Midnight", "<DBM Mod> 团队副本 (至暗之夜)", "@project-version@", "MysticalOS", "DBM-Core",
          "120007, 120100"},
         "120007, 120100",
         "120007, 120100"},
        {{"Details", "Details! Damage Meter", "#@project-version@", "未声明", "无", "120007, 120100"},
         "11508",
         "11508"},
        {{"Details_TinyThreat", "Details!: Tiny Threat (plugin)", "未声明", "未声明", "Details", "120007"},
         "120007",
         "120007"},
        // The Mainline file is first in code-point order when no name fits the classic flavour.
        {{"ElvUI", "ElvUI", "@project-version@", "Elv, Simpy", "ElvUI_Libraries", "120100"},
         "11509",
         "120100",
         "ElvUI Classic"},
        {{"Grid2LDB", "Grid2 LDB", "@project-version@", "Michael", "Grid2", "120100"}, "120100", "120100"},
        // Hyphenated names are not flavour files: the plain file is read everywhere.
        {{"Questie", "Questie game client not supported", "未声明", "未声明", "无", "00000"}, "00000", "00000"},
        {{"WeakAuras", "WeakAuras", "@project-version@", "The WeakAuras Team", "无", "50504"}, "11509", "50504"},
        {{"pfUI", "pfUI", "5.5.4", "Shagu", "无", "11200"}, "11200", "11200"},
        {{"Auctionator", "Auctionator", "@project-version@", "Borjamacare, plusmouse", "无", "未声明"},
         "11507",
         "未声明"},
    };
    for (size_t f = 0; f < flavours.size(); ++f) {
        auto list = service.installedAddons(GameClient(dir / flavours[f]));
        ASSERT_EQ(list.size(), 23u);
        for (const auto& c : cases) {
            SCOPED_TRACE(flavours[f] + " " + c.row.folder);
            auto it = std::find_if(list.begin(), list.end(),
                                   [&](const auto& a) { return a.folder.filename() == c.row.folder; });
            ASSERT_NE(it, list.end());
            Row expected = c.row;
            expected.interface = f == 0 ? c.row.interface : f == 1 ? c.eraInterface : c.classicInterface;
            if (f == 1 && !c.eraTitle.empty()) {
                expected.title = c.eraTitle;
            }
            expectRow(*it, expected);
            EXPECT_EQ(it->folder, dir / (flavours[f] + "/Interface/AddOns/" + c.row.folder));
        }
        // Plain code-point order: upper-case names before "pfUI".
        EXPECT_EQ(list.front().folder.filename(), "Auctionator");
        EXPECT_EQ(list.back().folder.filename(), "pfUI");
    }
}

TEST(Inventory, ChoosesTheFlavourFileThenThePlainOneThenTheFirst) {
    struct Case {
        std::string flavour;
        std::vector<std::string> files;
        std::string chosen;
    };
    const std::vector<Case> cases{
        {"_retail_", {"Foo.toc", "Foo_Mainline.toc"}, "Foo_Mainline.toc"},
        {"_ptr_", {"Foo.toc", "Foo_Mainline.toc"}, "Foo_Mainline.toc"},
        {"_classic_era_", {"Foo_Classic.toc", "Foo_Vanilla.toc", "Foo.toc"}, "Foo_Vanilla.toc"},
        {"_classic_era_", {"Foo_Classic.toc", "Foo.toc"}, "Foo_Classic.toc"},
        {"_anniversary_", {"Foo_Classic.toc", "Foo_TBC.toc"}, "Foo_TBC.toc"},
        {"_classic_", {"Foo_Mainline.toc", "Foo_TBC.toc"}, "Foo_TBC.toc"},
        {"_classic_", {"Foo_Wrath.toc", "Foo_Cata.toc", "Foo_Mists.toc"}, "Foo_Mists.toc"},
        {"_classic_", {"foo_tbc.TOC", "Foo.toc"}, "foo_tbc.TOC"}, // case ignored
        {"_retail_", {"FOO.Toc", "Bar.toc"}, "FOO.Toc"},
        {"_retail_", {"Zed.toc", "Bar.toc", "readme.txt"}, "Bar.toc"}, // first in code-point order
        {"_retail_", {"b.toc", "B.toc"}, "B.toc"},
        {"_retail_", {".toc", "Foo.lua", "Foo.toc.bak"}, ""},
        {"_retail_", {".Hidden.toc"}, ".Hidden.toc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flavour + " " + c.chosen);
        EXPECT_EQ(toc::chooseFile("Foo", c.files, c.flavour).value_or(""), c.chosen);
    }
}

TEST(Inventory, FieldLinesFollowTheTocRules) {
    const std::string bom = "\xEF\xBB\xBF";
    struct Case {
        std::string name, text, key, value; // value "<absent>" when the key must not be read
    };
    const std::vector<Case> cases{
        {"byte-order mark", bom + "## Title: Marked\n", "title", "Marked"},
        {"key case", "## TITLE-zhCN: 名字\n", "title-zhcn", "名字"},
        {"single number sign", "# Title: x\n", "title", "<absent>"},
        {"space before", " ## Title: x\n", "title", "<absent>"},
        {"no colon", "## Title x\n", "title x", "<absent>"},
        {"nothing after colon", "## Version:\n", "version", "<absent>"},
        {"spaces only", "## Version:   \n", "version", ""},
        {"ideographic space and tab trimmed", "##\tAuthor\t:\u3000某人\u3000 \n", "author", "某人"},
        {"colon in value", "## Title: a: b\n", "title", "a: b"},
        {"last line wins", "## Version: 1\n## Version: 2\n", "version", "2"},
        {"colour codes", "## Title: |cff00ff00Green|r and |CFF00FF00Kept|R\n", "title", "Green and |CFF00FF00Kept|R"},
        {"short colour code kept", "## Title: |cff00ffX|r\n", "title", "|cff00ffX"},
        {"CR and CRLF", "## Title: a\r## Version: 3\r\n## Author: b", "version", "3"},
        {"paragraph separator", "## Title: a\u2029## Author: c", "author", "c"},
        {"invalid UTF-8 replaced",
         "## Title: a\xFF"
         "b\n",
         "title", "a\uFFFDb"},
        {"binary", std::string("\0\x01\x02## Title: x", 14), "title", "<absent>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto fields = parse(c.text);
        auto it = fields.find(c.key);
        EXPECT_EQ(it == fields.end() ? "<absent>" : it->second, c.value);
    }

    // 512 user-perceived characters, counted before colour codes are removed: a family emoji
    // (one character of many code points) counts once.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    auto longValue = parse("## Notes: " + repeat(family, 600) + "\n")["notes"];
    EXPECT_EQ(longValue, repeat(family, 512));
    auto coloured = parse("## Title: |cffffffff" + repeat("x", 600) + "|r\n")["title"];
    EXPECT_EQ(coloured, repeat("x", 502)); // 10 characters of the code were inside the first 512
}

TEST(Inventory, ListingRulesAndPlaceholders) {
    TempDir dir;
    ManagerService service;
    Path client = dir / "_retail_";
    Path addons = client / "Interface/AddOns";
    makeDirs(client);
    EXPECT_TRUE(service.installedAddons(GameClient(client)).empty()); // no Interface/AddOns

    writeFile(addons / "zeta/zeta.toc", "## Title: Zeta\n## Title-zhCN: 泽塔\n## RequiredDeps: A\n");
    writeFile(addons / "Alpha/Alpha.toc",
              "## Title: Alpha\n## Dependencies: B, C\n## RequiredDeps: A\n## Version: \t \n## Interface: 1\n");
    makeDirs(addons / "Bare");            // no .toc: placeholders
    makeDirs(addons / ".hidden");         // hidden folder: skipped
    writeFile(addons / "loose.lua", "x"); // regular file: skipped
    writeFile(addons / "Big/Big.toc", "## Author: early\n" + std::string(toc::kReadLimit, '#') + "\n## Title: Late\n");
    writeFile(addons / "Junk/Junk.toc", std::string("\x89PNG\r\n\x1a\n\0\0\xff\xfe", 12));
    writeFile(addons / "Mark/Mark.toc", "\xEF\xBB\xBF## Title: 标记\r\n## Version: 1.0\r\n");

    auto list = service.installedAddons(GameClient(client));
    ASSERT_EQ(list.size(), 6u);
    expectRow(list[0], {"Alpha", "Alpha", "", "未声明", "B, C", "1"});
    expectRow(list[1], {"Bare", "Bare", "未声明", "未声明", "无", "未声明"});
    expectRow(list[2], {"Big", "Big", "未声明", "early", "无", "未声明"}); // the title lies beyond 256 KiB
    expectRow(list[3], {"Junk", "Junk", "未声明", "未声明", "无", "未声明"});
    expectRow(list[4], {"Mark", "标记", "1.0", "未声明", "无", "未声明"});
    expectRow(list[5], {"zeta", "泽塔", "未声明", "未声明", "A", "未声明"});

    // Not a version folder, or not a directory.
    for (const Path& bad : {dir / "_retail_x", dir / "_RETAIL_", dir / "missing/_retail_"}) {
        SCOPED_TRACE(bad.native());
        if (bad.filename() != "_retail_") {
            makeDirs(bad);
        }
        try {
            service.installedAddons(GameClient(bad));
            ADD_FAILURE() << "listed";
        } catch (const ManagerError& error) {
            EXPECT_EQ(error.message(), kVersionFolderMessage);
        }
    }
}

TEST(Inventory, LinksAndReadFailuresFailTheWholeListing) {
    TempDir dir;
    ManagerService service;
    Path client = dir / "_classic_";
    Path addons = client / "Interface/AddOns";
    writeFile(addons / "Good/Good.toc", "## Title: Good\n");
    writeFile(dir / "outside/Evil.toc", "## Title: Evil\n");
    GameClient game(client);
    ASSERT_EQ(service.installedAddons(game).size(), 1u); // positive control

    struct Case {
        std::string name;
        std::function<void()> arrange;
        std::string message;
    };
    const std::vector<Case> cases{
        {"linked add-on folder", [&] { fs::create_directory_symlink(dir / "outside", addons / "Linked"); },
         "拒绝链接或特殊文件：" + (addons / "Linked").native()},
        {"linked .toc file", [&] { fs::create_symlink(dir / "outside/Evil.toc", addons / "Good/Good_Mists.toc"); },
         "拒绝链接或特殊文件：" + (addons / "Good/Good_Mists.toc").native()},
        {"linked add-on root",
         [&] {
             fs::rename(addons, dir / "real");
             fs::create_directory_symlink(dir / "real", addons);
         },
         "拒绝链接或特殊文件：" + addons.native()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        try {
            service.installedAddons(game);
            ADD_FAILURE() << "listed";
        } catch (const ManagerError& error) {
            EXPECT_EQ(error.message(), c.message);
        }
        fs::remove(addons / "Linked");
        fs::remove(addons / "Good/Good_Mists.toc");
        if (fs::is_symlink(addons)) {
            fs::remove(addons);
            fs::rename(dir / "real", addons);
        }
    }

#ifdef OLVEX_FAULT_INJECTION
    // The only open and read calls of a listing are those of the .toc files.
    for (const char* call : {"open", "read", "listDirectory"}) {
        SCOPED_TRACE(call);
        sys::fault::arm({.recordTrace = true});
        service.installedAddons(game);
        auto trace = sys::fault::trace();
        sys::fault::disarm();
        auto at = std::find(trace.begin(), trace.end(), call);
        ASSERT_NE(at, trace.end());
        sys::fault::arm({.failAt = (at - trace.begin()) + 1, .error = EACCES});
        try {
            service.installedAddons(game);
            ADD_FAILURE() << "listed";
        } catch (const SystemError& error) {
            EXPECT_EQ(error.error(), EACCES);
            EXPECT_NE(std::string(error.what()).find("权限不足"), std::string::npos);
        }
        sys::fault::disarm();
    }
#endif
}
