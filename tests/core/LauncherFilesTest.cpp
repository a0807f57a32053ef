#include <gtest/gtest.h>

#include "discovery/LauncherFiles.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::launcher;
using namespace olvex::test;

namespace {

// Protobuf wire format, written by hand so that the tests can also write what no encoder would.
std::string varint(std::uint64_t value) {
    std::string out;
    do {
        out += static_cast<char>((value & 0x7f) | (value > 0x7f ? 0x80 : 0));
        value >>= 7;
    } while (value != 0);
    return out;
}
std::string field(int number, const std::string& bytes) {
    return varint(static_cast<std::uint64_t>(number) << 3 | 2) + varint(bytes.size()) + bytes;
}
std::string product(const std::string& code, const std::string& path) {
    // uid, code, settings { install path, play region }, a cached state the reader skips
    return field(1, field(1, code + "_uid") + field(2, code) + field(3, field(1, path) + field(2, "cn")) +
                        field(4, field(1, std::string(10, 'x'))));
}

std::vector<std::string> codesAndPaths(const std::vector<ProductInstall>& products) {
    std::vector<std::string> out;
    for (const auto& p : products) {
        out.push_back(p.code + "=" + p.installPath);
    }
    return out;
}

// What a reader makes of damaged input, in a child process so that a crash or a hang fails
// the case instead of the test run.
template <typename Reader> std::string outcome(Reader reader, const std::string& input) {
    return withinSeconds(10, [&] {
        try {
            reader(input);
            return std::string("read");
        } catch (const DamagedLauncherFile&) {
            return std::string("damaged");
        } catch (const std::exception& e) {
            return std::string("other: ") + e.what();
        }
    });
}

} // namespace

TEST(LauncherFiles, ReadsTheRecordsOfLutrisSteamAndTheBattleNetAgent) {
    auto game = lutrisGame("game:\n  exe: x.exe\n  prefix: ~/Games/world-of-warcraft\n"
                           "game_slug: world-of-warcraft\nname: World of Warcraft\nrunner: wine\n");
    EXPECT_EQ(game.slug, "world-of-warcraft");
    EXPECT_EQ(game.prefix, "~/Games/world-of-warcraft");
    game = lutrisGame("name: 魔兽世界\ngame: {}\n"); // no slug, no prefix
    EXPECT_EQ(game.slug, "魔兽世界");
    EXPECT_EQ(game.prefix, std::nullopt);
    EXPECT_EQ(lutrisGamePath("system:\n  game_path: /data/Games\n"), "/data/Games");
    EXPECT_EQ(lutrisGamePath("wine: {}\n"), std::nullopt);

    EXPECT_EQ(steamLibraries(
                  "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"/home/p/.local/share/Steam\"\n"
                  "\t\t\"apps\" { \"228980\" \"1\" }\n\t}\n\t\"1\" { \"label\" \"\" \"path\" \"/mnt/游戏\" }\n}\n"),
              (std::vector<std::string>{"/home/p/.local/share/Steam", "/mnt/游戏"}));
    // The older form, with a comment, a platform condition and an escaped quote.
    EXPECT_EQ(steamLibraries("// libraries\n\"LibraryFolders\" { \"TimeNextStatsReport\" \"1\" "
                             "\"1\" \"/mnt/a \\\"b\\\"\" [$LINUX] }"),
              (std::vector<std::string>{"/mnt/a \"b\""}));

    const std::string database = product("wow", "C:/Program Files (x86)/World of Warcraft") + field(2, "handshake") +
                                 product("wow_classic_era", "D:\\Games\\魔兽世界");
    EXPECT_EQ(codesAndPaths(productInstalls(database)),
              (std::vector<std::string>{"wow=C:/Program Files (x86)/World of Warcraft",
                                        "wow_classic_era=D:\\Games\\魔兽世界"}));
    EXPECT_TRUE(productInstalls("").empty());

    const std::vector<std::pair<std::string, std::string>> paths{
        {"C:/Program Files (x86)/World of Warcraft", "c|Program Files (x86)|World of Warcraft|"},
        {"d:\\Games\\\\魔兽世界\\", "d|Games|魔兽世界|"},
        {"Z:", "z|"},
        {"C:/Games/../etc", "none"},
        {"/home/p/Games", "none"},
        {"", "none"},
    };
    for (const auto& [text, expected] : paths) {
        SCOPED_TRACE(text);
        auto path = windowsPath(text);
        std::string shown = path ? std::string(1, path->drive) + "|" : "none";
        for (const auto& component : path ? path->components : std::vector<std::string>{}) {
            shown += component + "|";
        }
        EXPECT_EQ(shown, expected);
    }
}

TEST(LauncherFiles, DamagedOrHostileRecordsAreRefusedWithoutCrashOrHang) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) {
        garbage += static_cast<char>((i * 7919) % 256);
    }
    std::string manyLibraries = "\"libraryfolders\" {";
    for (int i = 0; i < 300; ++i) {
        manyLibraries += " \"" + std::to_string(i) + "\" \"/l\"";
    }
    std::string manyProducts;
    for (int i = 0; i < 300; ++i) {
        manyProducts += product("wow", "C:/x");
    }
    std::string deepGroups; // start-group tags of an unknown field, never ended
    for (int i = 0; i < 100000; ++i) {
        deepGroups += varint(5 << 3 | 3);
    }
    const auto yaml = [](const std::string& text) { lutrisGame(text); };
    const auto system = [](const std::string& text) { lutrisGamePath(text); };
    const auto vdf = [](const std::string& text) { steamLibraries(text); };
    const auto protobuf = [](const std::string& text) { productInstalls(text); };
    const std::vector<std::tuple<std::string, std::function<void(const std::string&)>, std::string>> cases{
        {"YAML cut short", yaml, "game:\n  prefix: [/a, /b"},
        {"YAML a list", yaml, "- a\n- b\n"},
        {"YAML game is text", yaml, "game: /home/p\n"},
        {"YAML prefix is a list", yaml, "game:\n  prefix: [/a]\n"},
        {"YAML nested deeply", yaml, std::string(100000, '[')},
        {"YAML nested deeply in blocks", yaml,
         [] {
             std::string s;
             for (int i = 0; i < 3000; ++i) {
                 s += std::string(static_cast<size_t>(i), ' ') + "a:\n";
             }
             return s;
         }()},
        {"YAML binary", yaml, garbage},
        {"system.yml game_path is a mapping", system, "system:\n  game_path: {a: 1}\n"},
        {"VDF unterminated", vdf, "\"libraryfolders\" { \"1\" \"/mnt"},
        {"VDF unbalanced", vdf, "\"libraryfolders\" { \"1\" \"/mnt\" } }"},
        {"VDF nested deeply", vdf, "\"libraryfolders\" " + std::string(100000, '{')},
        {"VDF library without path", vdf, "\"libraryfolders\" { \"1\" { \"label\" \"x\" } }"},
        {"VDF another file", vdf, "\"config\" { }"},
        {"VDF too many libraries", vdf, manyLibraries + " }"},
        {"VDF binary", vdf, garbage},
        {"protobuf cut short", protobuf, product("wow", "C:/World of Warcraft").substr(0, 20)},
        {"protobuf product as a number", protobuf, varint(1 << 3 | 0) + varint(42)},
        {"protobuf length past the end", protobuf, varint(1 << 3 | 2) + varint(0x7fffffff) + "abc"},
        {"protobuf settings as a number", protobuf, field(1, field(2, "wow") + varint(3 << 3 | 0) + varint(1))},
        {"protobuf groups nested deeply", protobuf, deepGroups},
        {"protobuf too many products", protobuf, manyProducts},
        {"protobuf binary", protobuf, garbage},
    };
    for (const auto& [name, reader, input] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(outcome(reader, input), "damaged");
    }
}
