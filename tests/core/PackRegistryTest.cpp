#include <gtest/gtest.h>

#include "base/Errors.h"
#include "packs/Install.h"
#include "packs/PackRegistry.h"
#include "support/GameFixture.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kInvalid = "整合包清单标识、名称或版本无效。";
const std::string kWrongFlavor = "整合包清单的游戏版本与所选目录不符。";
const std::string kEmptySha = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string repeated(const std::string& piece, size_t count) {
    std::string text;
    while (count-- > 0) {
        text += piece;
    }
    return text;
}

PackManifest manifest(const std::string& identifier = "pack.one") {
    return PackManifest{identifier, "整合包一", "1.0", "_retail_", "本地"};
}

ManagedPack pack(const std::string& identifier, std::vector<std::string> addons) {
    ManagedPack record{manifest(identifier), Date{725'000'000.25}, std::move(addons), {}, {}};
    for (const auto& name : record.addons) {
        record.digests[name] = {{name + ".toc", kEmptySha}, {"Sub/", "directory"}};
    }
    return record;
}

struct RegistryGame : GameFixture {
    Path registry() const { return addons() / kRegistryName; }
};

} // namespace

TEST(PackManifest, FieldLimitsHoldAtTheirEdgesCountingUserPerceivedCharacters) {
    // "e" + combining acute and a family emoji are one character each but several code points.
    const std::string accented = "e\xCC\x81";
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    using M = PackManifest;
    struct Field {
        std::string M::*field;
        std::vector<std::string> valid, invalid;
        std::string message = kInvalid;
    };
    const Field fields[] = {
        {&M::identifier,
         {"a", "9Pack.name_v-2", repeated("a", 128)},
         {"", repeated("a", 129), ".pack", "_pack", "-pack", "my pack", "my/pack", "pack\xC3\xA9", "pack\n"}},
        {&M::version, {repeated(accented, 64)}, {repeated(accented, 65), ""}},
        {&M::name, {repeated(family, 128)}, {repeated(family, 129), ""}},
        {&M::source, {"", repeated("源", 2048)}, {repeated(accented, 2049)}},
        {&M::gameFlavor, {"_retail_"}, {"_classic_", "_RETAIL_"}, kWrongFlavor},
    };
    const GameClient client(Path("/games/_retail_"));
    for (const Field& f : fields) {
        for (const auto& [values, expected] : {std::pair{f.valid, std::string()}, std::pair{f.invalid, f.message}}) {
            for (const std::string& value : values) {
                SCOPED_TRACE(value.substr(0, 32));
                PackManifest changed = manifest();
                changed.*f.field = value;
                EXPECT_EQ(failure([&] { validateManifest(changed, client); }), expected);
            }
        }
    }
}

TEST(PackManifest, DecodingRequiresTheFiveStringsAndIgnoresOtherKeys) {
    EXPECT_EQ(decodeManifest(R"({"extra":[1],"source":"","gameFlavor":"_retail_","version":"1",)"
                             R"("name":"\u6574\u5408","identifier":"a\/b"})"),
              (PackManifest{"a/b", "整合", "1", "_retail_", ""}));
    const std::string damaged = "整合包清单（.olvex-pack.json）已损坏：";
    for (const auto& [broken, message] : std::vector<std::pair<std::string, std::string>>{
             {R"({"name":"n","version":"1","gameFlavor":"_retail_","source":""})", "缺少字段“identifier”。"},
             {R"({"identifier":"a","name":"n","version":1,"gameFlavor":"_retail_","source":""})",
              "字段“version”不是文本。"},
             {R"(["identifier"])", "应为含字段“identifier”的对象。"},
             {R"({"identifier":"a",)", "内容不完整（第 1 行第 19 列，应为带引号的文本）。"}}) {
        SCOPED_TRACE(broken);
        EXPECT_EQ(failure([&] { decodeManifest(broken); }), damaged + message);
    }
}

TEST(PackRegistry, RoundTripsCompactWithEscapedSlashesAndReadsAnyOrderAndEscape) {
    RegistryGame game;
    ManagedPack first = pack("pack.one", {"Alpha", "Beta"});
    first.manifest.source = "https://example.invalid/包";
    first.retired["Gamma"] = {{"Gamma.toc", kEmptySha}};
    std::vector<ManagedPack> registry{first, pack("pack.two", {})};
    writeRegistry(registry, game.addons());
    std::string written = readFile(game.registry());
    EXPECT_EQ(written.find_first_of(" \n\t"), std::string::npos) << written;
    EXPECT_EQ(written.rfind(R"([{"manifest":{"identifier":"pack.one","name":"整合包一","version":"1.0",)", 0), 0u);
    for (std::string part : {R"("source":"https:\/\/example.invalid\/包")",
                             R"("installedAt":725000000.25,"addons":["Alpha","Beta"],"digests":{"Alpha":{)"}) {
        EXPECT_NE(written.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(readRegistry(game.addons()), registry);

    // Hand-written: keys reordered, whitespace, \u escapes, an integral date, an extra key.
    writeFile(game.registry(), R"( [ { "retired" : {}, "digests" : {"A":{"x\/y":"directory"}}, "addons":["\u0041"],
        "installedAt": 3, "ignored": null,
        "manifest": {"source":"","gameFlavor":"_retail_","version":"2","name":"N","identifier":"p"} } ] )");
    EXPECT_EQ(readRegistry(game.addons()),
              (std::vector<ManagedPack>{
                  {{"p", "N", "2", "_retail_", ""}, Date{3}, {"A"}, {{"A", {{"x/y", "directory"}}}}, {}}}));
}

TEST(PackRegistry, AMalformedRegistryFailsClosedAndIsLeftAsItWas) {
    const std::string valid = encodeRegistry({pack("pack.one", {"Alpha"})});
    auto changed = [&](const std::string& key, std::optional<json::Json> value) {
        auto object = json::decode(valid);
        value ? void(object[0][key] = *value) : void(object[0].erase(key));
        return object.dump();
    };
    // Every refusal names the file and says what is wrong in Chinese: where, and what was expected.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{not json", "不是有效的 JSON（第 1 行第 3 列，应为带引号的文本）"},
        {"{}", "顶层不是数组"},
        {"[1]", "应为含字段“manifest”的对象"},
        {changed("retired", {}), "缺少字段“retired”"},
        {changed("installedAt", {}), "缺少字段“installedAt”"},
        {changed("manifest", {}), "缺少字段“manifest”"},
        {changed("addons", "Alpha"), "字段“addons”不是数组"},
        {changed("installedAt", "2024"), "字段“installedAt”不是数字"},
        {changed("digests", json::Json::parse(R"({"Alpha":{"a":1}})")), "字段“digests”的“Alpha”中有摘要不是文本"},
        {std::string(100, '[') + std::string(100, ']'), "嵌套层数超过 16 层"},
        {encodeRegistry({pack("pack.one", {"A"}), pack("pack.one", {"B"})}), ""},
    };
    for (const auto& [content, what] : cases) {
        SCOPED_TRACE(content);
        RegistryGame game;
        writeFile(game.registry(), content);
        EXPECT_EQ(failure([&] { readRegistry(game.addons()); }),
                  what.empty() ? "本地整合包标识重复。"
                               : "本地整合包记录“" + game.registry().native() + "”已损坏：" + what + "。");
        EXPECT_EQ(readFile(game.registry()), content);
    }
    RegistryGame missing;
    EXPECT_TRUE(readRegistry(missing.addons()).empty());
    fs::create_symlink(missing.dir / "elsewhere", missing.registry()); // dangling: not a missing registry
    EXPECT_EQ(failure([&] { readRegistry(missing.addons()); }), "拒绝链接或特殊文件：" + missing.registry().native());
}

TEST(PackRegistry, ReadsAndWritesUpToSixteenMebibytesAndKeepsTheOldFileBeyond) {
    RegistryGame game;
    const std::vector<ManagedPack> registry{pack("pack.one", {"Alpha"})};
    std::string content = encodeRegistry(registry);
    content.resize(16'777'216, ' '); // trailing whitespace keeps it valid JSON
    writeFile(game.registry(), content);
    EXPECT_EQ(readRegistry(game.addons()), registry);
    writeFile(game.registry(), content + " ");
    EXPECT_EQ(failure([&] { readRegistry(game.addons()); }), "本地整合包记录过大，已停止操作。");

    writeFile(game.registry(), "[]");
    ManagedPack large = pack("pack.one", {"Alpha"});
    large.manifest.source = std::string(16'777'216, 'x');
    EXPECT_EQ(failure([&] { writeRegistry({large}, game.addons()); }),
              "整合包记录超过 16 MiB，已停止操作并保留原状态。");
    EXPECT_EQ(snapshotTree(game.addons()), (std::map<std::string, std::string>{{kRegistryName, "[]"}}));
    large.manifest.source.resize(1'000'000);
    writeRegistry({large}, game.addons());
    EXPECT_EQ(readRegistry(game.addons()), std::vector<ManagedPack>{large});
}

TEST(PackOwnership, AManagedFolderCanOnlyBeReplacedByTheSamePack) {
    const std::vector<ManagedPack> registry{pack("pack.one", {"Alpha", "DBM-Core"}), pack("pack.two", {"Café"})};
    const std::string owned =
        "DBM-Core 由整合包「整合包一」管理，无法用其他包覆盖。请使用相同标识的整合包升级，或先恢复安装前快照。";
    const std::string accented =
        "Café 由整合包「整合包一」管理，无法用其他包覆盖。请使用相同标识的整合包升级，或先恢复安装前快照。";
    const std::vector<std::tuple<std::vector<std::string>, std::optional<PackManifest>, std::string>> cases = {
        {{"New", "dbm-CORE"}, std::nullopt, owned},        // no manifest, other letter case
        {{"DBM-Core"}, manifest("pack.three"), owned},     // other identifier
        {{"DBM-Core"}, manifest("Pack.One"), owned},       // identifier in other case
        {{"DBM-Core", "Alpha"}, manifest("pack.one"), ""}, // same identifier
        {{"New", "DBM-Core-Extra"}, std::nullopt, ""},     // unowned names, no manifest
        {{"CAFE"}, std::nullopt, accented},                // the install's fold: case and accents
    };
    for (const auto& [addons, incoming, expected] : cases) {
        SCOPED_TRACE(addons.front() + (incoming ? " " + incoming->identifier : ""));
        EXPECT_EQ(failure([&] { checkOwnership(addons, incoming, registry); }), expected);
    }
}

// The registry an installation writes, from the registry before it: the pack's record goes last
// with the clock's date; what the previous release shipped and this one does not is retired
// with its recorded digests (a folder without any is not); shipping a name again under another
// spelling takes it back out; other packs stay as they were.
TEST(PackRegistry, AnInstallReplacesThePacksRecordAndRetiresWhatItNoLongerShips) {
    ManagedPack old = pack("pack.one", {"Alpha", "Beta", "Delta"});
    old.digests.erase("Delta");
    old.retired["Gamma"] = {{"Gamma.toc", kEmptySha}};
    old.retired["Kept"] = {{"Kept.toc", kEmptySha}};
    const ManagedPack other = pack("pack.two", {"Other"});
    ImportPreview preview;
    preview.addons = {"alpha", "GAMMA"};
    preview.pack = manifest("pack.one");
    preview.pack->version = "2.0";
    const std::map<std::string, DigestMap> digests{{"alpha", {{"a", kEmptySha}}}, {"GAMMA", {}}};

    const auto after = registryAfterInstall({old, other}, preview, digests, Date{800'000'000.5});
    ManagedPack expected{*preview.pack, Date{800'000'000.5}, preview.addons, digests, {}};
    expected.retired = {{"Beta", old.digests.at("Beta")}, {"Kept", old.retired.at("Kept")}};
    EXPECT_EQ(after, (std::vector<ManagedPack>{other, expected}));

    preview.pack = manifest("Pack.One"); // another identifier: a new record beside the old one
    EXPECT_EQ(registryAfterInstall({old}, preview, digests, Date{1}),
              (std::vector<ManagedPack>{old, {*preview.pack, Date{1}, preview.addons, digests, {}}}));
}
