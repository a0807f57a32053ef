#include <gtest/gtest.h>

#include <array>
#include <cerrno>

#include "discovery/TocFile.h"
#include "fs/Sys.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

// "folder|title|version|author|dependencies" of a row; the interface is checked apart.
std::string rowText(const InstalledAddon& a) {
    return a.folder.filename().native() + "|" + a.title + "|" + a.version + "|" + a.author + "|" + a.dependencies;
}
} // namespace

TEST(Inventory, RealTocFilesReadAsPlayersSeeThemInEachFlavour) {
    TempDir dir;
    ManagerService service;
    const std::array<std::string, 3> flavours{"_retail_", "_classic_era_", "_classic_"};
    for (const auto& flavour : flavours) {
        makeDirs(dir / flavour / "Interface");
        fs::copy(corpus("tocs"), dir / flavour / "Interface/AddOns", fs::copy_options::recursive);
    }
    // The interface line tells which file was read in _retail_, _classic_era_ and _classic_.
    const std::vector<std::pair<std::string, std::array<std::string, 3>>> cases{
        // The Interface line is the first line, behind a byte-order mark.
        {"Grid2|Grid2|@project-version@|Pastamancer & Maia, Jerry, Toadkiller|无", {"120100", "120100", "120100"}},
        {"BigWigs|BigWigs|@project-version@|Funkeh, Nebula, Justwait, Delk|无",
         {"120100, 120005, 120007", "11508, 11509", "50504, 50503"}},
        {"DBM-Core|<DBM Core> 核心|@project-version@|MysticalOS, QartemisT|DBM-StatusBarTimers",
         {"120007, 120100", "11509", "30405, 38002"}},
        // CRLF line ends; only a Mainline file, read by every flavour as the first .toc file.
        {"DBM-Raids-Midnight|<DBM Mod> 团队副本 (至暗之夜)|@project-version@|MysticalOS|DBM-Core",
         {"120007, 120100", "120007, 120100", "120007, 120100"}},
        {"Details|Details! Damage Meter|#@project-version@|未声明|无", {"120007, 120100", "11508", "11508"}},
        // Hyphenated names are not flavour files: the plain file is read everywhere.
        {"Questie|Questie game client not supported|未声明|未声明|无", {"00000", "00000", "00000"}},
        {"Auctionator|Auctionator|@project-version@|Borjamacare, plusmouse|无", {"未声明", "11507", "未声明"}},
    };
    for (size_t f = 0; f < flavours.size(); ++f) {
        auto list = service.installedAddons(GameClient(dir / flavours[f]));
        ASSERT_EQ(list.size(), 23u);
        EXPECT_EQ(list.front().folder, dir / flavours[f] / "Interface/AddOns/Auctionator");
        std::map<std::string, InstalledAddon> byName;
        for (const auto& addon : list) {
            byName.emplace(addon.folder.filename(), addon);
        }
        for (const auto& [row, interfaces] : cases) {
            SCOPED_TRACE(flavours[f] + " " + row);
            const InstalledAddon& addon = byName.at(row.substr(0, row.find('|')));
            EXPECT_EQ(rowText(addon), row);
            EXPECT_EQ(addon.interface, interfaces[f]);
        }
        EXPECT_EQ(byName.at("ElvUI").title, f == 1 ? "ElvUI Classic" : "ElvUI"); // Vanilla file only in era
    }
}

TEST(Inventory, ChoosesTheFlavourFileThenThePlainOneThenTheFirst) {
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> cases{
        {"_retail_", {"Foo.toc", "Foo_Mainline.toc"}, "Foo_Mainline.toc"},
        {"_classic_era_", {"Foo_Classic.toc", "Foo_Vanilla.toc", "Foo.toc"}, "Foo_Vanilla.toc"},
        {"_classic_era_", {"Foo_Classic.toc", "Foo.toc"}, "Foo_Classic.toc"},
        {"_anniversary_", {"Foo_Classic.toc", "Foo_TBC.toc"}, "Foo_TBC.toc"},
        {"_classic_", {"Foo_Mainline.toc", "Foo_TBC.toc"}, "Foo_TBC.toc"},
        {"_classic_", {"Foo_Wrath.toc", "Foo_Cata.toc", "Foo_Mists.toc"}, "Foo_Mists.toc"},
        {"_classic_", {"foo_tbc.TOC", "Foo.toc"}, "foo_tbc.TOC"},
        {"_retail_", {"Zed.toc", "Bar.toc", "readme.txt"}, "Bar.toc"},
        {"_retail_", {"b.toc", "B.toc"}, "B.toc"},
        {"_retail_", {".toc", "Foo.lua", "Foo.toc.bak"}, ""},
    };
    for (const auto& [flavour, files, chosen] : cases) {
        SCOPED_TRACE(flavour + " " + chosen);
        EXPECT_EQ(toc::chooseFile("Foo", files, flavour).value_or(""), chosen);
    }
}

TEST(Inventory, FieldLinesFollowTheTocRules) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        // text, key, value ("-" when the key must not be read)
        {"## TITLE-zhCN: 名字\n", "title-zhcn", "名字"},
        {"# Title: x\n ## Title: y\n## Title x\n## Title:\n", "title", "-"},
        {"## Version:   \n", "version", ""},
        {"##\tAuthor\t:\u3000某人\u3000 \n", "author", "某人"},
        {"## Title: a: b\n", "title", "a: b"},
        {"## Version: 1\n## Version: 2", "version", "2"},
        {"## Title: |cff00ff00Green|r |CFF00FF00Kept|R |cff00ffX|r\n", "title", "Green |CFF00FF00Kept|R |cff00ffX"},
        {"## Title: a\r## Version: 3\r\n", "version", "3"},
        {"## Author: b\u2029## Notes: c", "notes", "c"},
        {"## Title: a\xFFz\n", "title", "a\uFFFDz"},
        {std::string("\0\x01## Title: x", 13), "title", "-"},
    };
    toc::FieldParser parser;
    for (const auto& [text, key, value] : cases) {
        SCOPED_TRACE(text);
        auto fields = parser.parse(text);
        EXPECT_EQ(fields.count(key) != 0 ? fields.at(key) : "-", value);
    }
    // 512 user-perceived characters, counted before colour codes are removed.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    std::string families;
    while (families.size() < 600 * family.size()) {
        families += family;
    }
    EXPECT_EQ(parser.parse("## Notes: " + families)["notes"], families.substr(0, 512 * family.size()));
    EXPECT_EQ(parser.parse("## Title: |cffffffff" + std::string(600, 'x') + "|r")["title"], std::string(502, 'x'));
}

TEST(Inventory, ListingRulesPlaceholdersAndFailures) {
    TempDir dir;
    ManagerService service;
    Path client = dir / "_classic_";
    Path addons = client / "Interface/AddOns";
    makeDirs(client);
    EXPECT_TRUE(service.installedAddons(GameClient(client)).empty()); // no Interface/AddOns
    writeFile(addons / "zeta/zeta.toc", "## Title: Zeta\n## Title-zhCN: 泽塔\n## RequiredDeps: A\n");
    writeFile(addons / "Alpha/Alpha.toc", "## Dependencies: B, C\n## RequiredDeps: A\n## Version: \t\n## Interface: 1");
    makeDirs(addons / "Bare");
    makeDirs(addons / ".hidden");
    writeFile(addons / "loose.lua", "x");
    writeFile(addons / "Big/Big.toc", "## Author: early\n" + std::string(toc::kReadLimit, '#') + "\n## Title: Late");
    writeFile(addons / "Junk/Junk.toc", std::string("\x89PNG\r\n\x1a\n\0\0\xff\xfe", 12));
    std::vector<std::string> rows;
    for (const auto& addon : service.installedAddons(GameClient(client))) {
        rows.push_back(rowText(addon) + "|" + addon.interface);
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"Alpha|Alpha||未声明|B, C|1", "Bare|Bare|未声明|未声明|无|未声明",
                                              "Big|Big|未声明|early|无|未声明", "Junk|Junk|未声明|未声明|无|未声明",
                                              "zeta|泽塔|未声明|未声明|A|未声明"}));

    makeDirs(dir / "_classic_x");
    for (const Path& bad : {dir / "_classic_x", dir / "missing/_retail_"}) {
        EXPECT_EQ(failure([&] { service.installedAddons(GameClient(bad)); }),
                  "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。");
    }
    // A link anywhere on the way fails the whole listing: an add-on folder, a chosen .toc file.
    writeFile(dir / "outside/Evil.toc", "## Title: Evil\n");
    for (const auto& [link, target] : {std::pair{addons / "Linked", dir / "outside"},
                                       std::pair{addons / "Alpha/Alpha_Mists.toc", dir / "outside/Evil.toc"}}) {
        fs::create_symlink(target, link);
        EXPECT_EQ(failure([&] { service.installedAddons(GameClient(client)); }),
                  "拒绝链接或特殊文件：" + link.native());
        fs::remove(link);
    }
#ifdef OLVEX_FAULT_INJECTION
    // A failed listing, open or read fails the request (the only such calls are the .toc reads).
    const std::string toc = "“" + (addons / "Alpha/Alpha.toc").native() + "”：权限不足。";
    for (const auto& [call, message] : {std::pair{"listDirectory", "无法列出目录“" + addons.native() + "”：权限不足。"},
                                        std::pair{"open", "无法打开" + toc}, std::pair{"read", "无法读取" + toc}}) {
        sys::fault::arm({.recordTrace = true});
        service.installedAddons(GameClient(client));
        auto trace = sys::fault::trace();
        sys::fault::arm({.failAt = std::find(trace.begin(), trace.end(), call) - trace.begin() + 1, .error = EACCES});
        EXPECT_EQ(failure([&] { service.installedAddons(GameClient(client)); }), message);
        sys::fault::disarm();
    }
#endif
}
