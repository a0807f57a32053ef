#include <gtest/gtest.h>

#include "packs/PackRegistry.h"
#include "records/Errors.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kInvalid = "整合包清单标识、名称或版本无效。";
const std::string kWrongFlavor = "整合包清单的游戏版本与所选目录不符。";
const std::string kEmptySha = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string repeated(const std::string& piece, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

PackManifest manifest(const std::string& identifier = "pack.one") {
    return PackManifest{identifier, "整合包一", "1.0", "_retail_", "本地"};
}

ManagedPack pack(const std::string& identifier, std::vector<std::string> addons) {
    ManagedPack record;
    record.manifest = manifest(identifier);
    record.installedAt = Date{725'000'000.25};
    record.addons = std::move(addons);
    for (const auto& name : record.addons) {
        record.digests[name] = {{name + ".toc", kEmptySha}, {"Sub/", "directory"}};
    }
    return record;
}

struct Game {
    TempDir dir;
    Path root = dir / "_retail_";
    GameClient client{root};
    Game() { makeDirs(addons()); }
    Path addons() const { return root / "Interface/AddOns"; }
    Path registry() const { return addons() / ManagerService::registryName; }
};

} // namespace

TEST(PackManifest, FieldLimitsHoldAtTheirEdgesCountingUserPerceivedCharacters) {
    // "e" + combining acute and a family emoji are one character each but several code points.
    const std::string accented = "e\xCC\x81";
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    struct Case {
        const char* label;
        PackManifest manifest;
        std::string expected;
    };
    auto with = [](auto change) {
        PackManifest value = manifest();
        change(value);
        return value;
    };
    const Case cases[] = {
        {"one-letter identifier", with([](auto& m) { m.identifier = "a"; }), ""},
        {"every allowed character", with([](auto& m) { m.identifier = "9Pack.name_v-2"; }), ""},
        {"128-character identifier", with([](auto& m) { m.identifier = repeated("a", 128); }), ""},
        {"empty identifier", with([](auto& m) { m.identifier = ""; }), kInvalid},
        {"129-character identifier", with([](auto& m) { m.identifier = repeated("a", 129); }), kInvalid},
        {"leading dot", with([](auto& m) { m.identifier = ".pack"; }), kInvalid},
        {"leading underscore", with([](auto& m) { m.identifier = "_pack"; }), kInvalid},
        {"leading hyphen", with([](auto& m) { m.identifier = "-pack"; }), kInvalid},
        {"space", with([](auto& m) { m.identifier = "my pack"; }), kInvalid},
        {"slash", with([](auto& m) { m.identifier = "my/pack"; }), kInvalid},
        {"non-ASCII letter", with([](auto& m) { m.identifier = "pack\xC3\xA9"; }), kInvalid},
        {"trailing line feed", with([](auto& m) { m.identifier = "pack\n"; }), kInvalid},
        {"64-character version", with([&](auto& m) { m.version = repeated(accented, 64); }), ""},
        {"65-character version", with([&](auto& m) { m.version = repeated(accented, 65); }), kInvalid},
        {"empty version", with([](auto& m) { m.version = ""; }), kInvalid},
        {"128-character name", with([&](auto& m) { m.name = repeated(family, 128); }), ""},
        {"129-character name", with([&](auto& m) { m.name = repeated(family, 129); }), kInvalid},
        {"empty name", with([](auto& m) { m.name = ""; }), kInvalid},
        {"empty source", with([](auto& m) { m.source = ""; }), ""},
        {"2048-character source", with([&](auto& m) { m.source = repeated("源", 2048); }), ""},
        {"2049-character source", with([&](auto& m) { m.source = repeated(accented, 2049); }), kInvalid},
        {"other flavour", with([](auto& m) { m.gameFlavor = "_classic_"; }), kWrongFlavor},
        {"flavour in other case", with([](auto& m) { m.gameFlavor = "_RETAIL_"; }), kWrongFlavor},
    };
    Game game;
    ManagerService service;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(failure([&] { service.validateManifest(c.manifest, game.client); }), c.expected);
    }
}

TEST(PackManifest, DecodingRequiresTheFiveStringsAndIgnoresOtherKeys) {
    EXPECT_EQ(decodeManifest(R"({"extra":[1],"source":"","gameFlavor":"_retail_","version":"1",)"
                             R"("name":"\u6574\u5408","identifier":"a\/b"})"),
              (PackManifest{"a/b", "整合", "1", "_retail_", ""}));
    const char* broken[] = {
        R"({"name":"n","version":"1","gameFlavor":"_retail_","source":""})",
        R"({"identifier":"a","name":"n","version":1,"gameFlavor":"_retail_","source":""})",
        R"(["identifier"])",
        R"({"identifier":"a",)",
    };
    for (const char* text : broken) {
        SCOPED_TRACE(text);
        EXPECT_NE(failure([&] { decodeManifest(text); }), "");
    }
}

TEST(PackRegistry, RoundTripsCompactWithEscapedSlashesAndReadsAnyOrderAndEscape) {
    Game game;
    ManagerService service;
    ManagedPack first = pack("pack.one", {"Alpha", "Beta"});
    first.manifest.source = "https://example.invalid/包";
    first.retired["Gamma"] = {{"Gamma.toc", kEmptySha}};
    std::vector<ManagedPack> registry{first, pack("pack.two", {})};
    service.writeRegistry(registry, game.addons());

    std::string written = readFile(game.registry());
    EXPECT_EQ(written.find_first_of(" \n\t"), std::string::npos) << written;
    EXPECT_NE(written.find(R"("source":"https:\/\/example.invalid\/包")"), std::string::npos) << written;
    EXPECT_EQ(written.rfind(R"([{"manifest":{"identifier":"pack.one","name":"整合包一","version":"1.0",)", 0), 0u)
        << written;
    EXPECT_NE(written.find(R"("installedAt":725000000.25,"addons":["Alpha","Beta"],"digests":{"Alpha":{)"),
              std::string::npos)
        << written;
    EXPECT_EQ(service.readRegistry(game.addons()), registry);
    EXPECT_EQ(service.installedPacks(game.client), registry);

    // Hand-written: keys reordered, whitespace, \u escapes, an integral date, an extra key.
    writeFile(game.registry(), R"( [ { "retired" : {}, "digests" : {"A":{"x\/y":"directory"}}, "addons":["\u0041"],
        "installedAt": 3, "ignored": null,
        "manifest": {"source":"","gameFlavor":"_retail_","version":"2","name":"N","identifier":"p"} } ] )");
    auto read = service.readRegistry(game.addons());
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].addons, std::vector<std::string>{"A"});
    EXPECT_EQ(read[0].digests.at("A"), (DigestMap{{"x/y", "directory"}}));
    EXPECT_EQ(read[0].installedAt, Date{3});
    EXPECT_EQ(read[0].manifest.identifier, "p");
}

TEST(PackRegistry, AMalformedRegistryFailsClosedAndIsLeftAsItWas) {
    const std::string valid = encodeRegistry({pack("pack.one", {"Alpha"})});
    auto without = [&](const std::string& key) {
        auto object = json::decode(valid);
        object[0].erase(key);
        return object.dump();
    };
    auto replaced = [&](const std::string& key, json::Json value) {
        auto object = json::decode(valid);
        object[0][key] = std::move(value);
        return object.dump();
    };
    struct Case {
        const char* label;
        std::string content;
        std::string expected; // empty: any decoder text
    };
    const Case cases[] = {
        {"not JSON", "{not json", ""},
        {"truncated", valid.substr(0, valid.size() - 1), ""},
        {"an object, not an array", "{}", ""},
        {"missing retired", without("retired"), ""},
        {"missing installedAt", without("installedAt"), ""},
        {"missing manifest", without("manifest"), ""},
        {"addons not an array", replaced("addons", "Alpha"), ""},
        {"date as text", replaced("installedAt", "2024"), ""},
        {"digest not a string", replaced("digests", json::Json::parse(R"({"Alpha":{"a":1}})")), ""},
        {"duplicate identifiers", encodeRegistry({pack("pack.one", {"A"}), pack("pack.one", {"B"})}),
         "本地整合包标识重复。"},
    };
    ManagerService service;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Game game;
        writeFile(game.registry(), c.content);
        std::string message = failure([&] { service.installedPacks(game.client); });
        if (c.expected.empty()) {
            EXPECT_NE(message, "");
        } else {
            EXPECT_EQ(message, c.expected);
        }
        EXPECT_EQ(readFile(game.registry()), c.content);
    }
    Game missing;
    EXPECT_TRUE(service.installedPacks(missing.client).empty());
    EXPECT_EQ(failure([&] { service.installedPacks(GameClient(missing.dir / "_retail_x")); }),
              "请选择包含 _retail_、_classic_ 等版本文件夹的游戏目录。");
}

TEST(PackRegistry, ReadsExactlySixteenMebibytesAndRefusesOneByteMore) {
    Game game;
    ManagerService service;
    const std::vector<ManagedPack> registry{pack("pack.one", {"Alpha"})};
    std::string content = encodeRegistry(registry);
    content.resize(16'777'216, ' '); // trailing whitespace keeps it valid JSON
    writeFile(game.registry(), content);
    EXPECT_EQ(service.readRegistry(game.addons()), registry);

    writeFile(game.registry(), content + " ");
    EXPECT_EQ(failure([&] { service.readRegistry(game.addons()); }), "本地整合包记录过大，已停止操作。");
}

TEST(PackRegistry, AWriteOverSixteenMebibytesLeavesTheOldFileAndNoTemporaryFile) {
    Game game;
    ManagerService service;
    writeFile(game.registry(), "[]");
    ManagedPack large = pack("pack.one", {"Alpha"});
    large.manifest.source = std::string(16'777'216, 'x');
    EXPECT_EQ(failure([&] { service.writeRegistry({large}, game.addons()); }),
              "整合包记录超过 16 MiB，已停止操作并保留原状态。");
    EXPECT_EQ(snapshotTree(game.addons()), (std::map<std::string, std::string>{{ManagerService::registryName, "[]"}}));

    large.manifest.source.resize(1'000'000);
    service.writeRegistry({large}, game.addons());
    EXPECT_EQ(service.readRegistry(game.addons()), std::vector<ManagedPack>{large});
}

TEST(PackOwnership, AManagedFolderCanOnlyBeReplacedByTheSamePack) {
    const std::vector<ManagedPack> registry{pack("pack.one", {"Alpha", "DBM-Core"}), pack("pack.two", {"Other"})};
    const std::string owned =
        "DBM-Core 由整合包「整合包一」管理，无法用其他包覆盖。请使用相同标识的整合包升级，或先恢复安装前快照。";
    struct Case {
        const char* label;
        std::vector<std::string> addons;
        std::optional<PackManifest> manifest;
        std::string expected;
    };
    const Case cases[] = {
        {"no manifest, other letter case", {"New", "dbm-CORE"}, std::nullopt, owned},
        {"other identifier", {"DBM-Core"}, manifest("pack.three"), owned},
        {"identifier in other case", {"DBM-Core"}, manifest("Pack.One"), owned},
        {"same identifier", {"DBM-Core", "Alpha"}, manifest("pack.one"), ""},
        {"unowned names, no manifest", {"New", "DBM-Core-Extra"}, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(failure([&] { ManagerService::checkOwnership(c.addons, c.manifest, registry); }), c.expected);
    }
    EXPECT_EQ(failure([] { ManagerService::checkOwnership({"DBM-Core"}, std::nullopt, {}); }), "");
}
