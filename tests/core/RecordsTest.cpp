#include <gtest/gtest.h>

#include "records/Backup.h"
#include "records/ByteCount.h"
#include "records/Errors.h"
#include "records/GameClient.h"
#include "records/Json.h"
#include "records/OperationStage.h"
#include "records/Records.h"

using namespace olvex;

TEST(GameClient, TwoFormsOfOnePathAreEqualAndTitleComesFromTheFlavourTable) {
    GameClient plain(Path("/x/_retail_"));
    GameClient slashed(Path("/x/_retail_/"));
    GameClient doubled(Path("/x/_retail_//"));
    EXPECT_EQ(plain, slashed);
    EXPECT_EQ(plain, doubled);
    EXPECT_EQ(slashed.id(), "/x/_retail_");
    EXPECT_EQ(std::hash<GameClient>{}(plain), std::hash<GameClient>{}(slashed));
    EXPECT_NE(plain, GameClient(Path("/y/_retail_")));

    EXPECT_EQ(GameClient(Path("/g/_classic_era_")).title(), "经典旧世 / 专家 / 赛季服");
    EXPECT_EQ(GameClient(Path("/g/_retail_")).title(), "正式服");
    EXPECT_EQ(GameClient(Path("/g/_Retail_")).title(), "_Retail_");
    EXPECT_EQ(GameClient(Path("/g/retail")).title(), "retail");
    EXPECT_EQ(GameClient::flavors().size(), 8u);
    EXPECT_FALSE(GameClient::isFlavor("_RETAIL_"));
    EXPECT_FALSE(GameClient::isFlavor("retail"));
}

TEST(LocalBackupJson, WritesDeclaredKeyOrderReferenceDatesAndEscapedSlashes) {
    auto id = *Uuid::parse("0a1b2c3d-4e5f-6789-abcd-ef0123456789");
    LocalBackup backup{id, Date{1.5}, BackupKind::wtf, "a/b 手动", 42};
    EXPECT_EQ(
        json::encode(toJson(backup)),
        R"({"id":"0A1B2C3D-4E5F-6789-ABCD-EF0123456789","date":1.5,"kind":"wtf","reason":"a\/b 手动","byteCount":42})");

    LocalBackup noSize{id, Date{0}, BackupKind::addons, "r", std::nullopt};
    std::string text = json::encode(toJson(noSize));
    EXPECT_EQ(text.find("byteCount"), std::string::npos);
    EXPECT_EQ(localBackupFromJson(json::decode(text)), noSize);

    // Dates are seconds since 2001, not since 1970: 2001-01-01 itself is 0.
    EXPECT_DOUBLE_EQ(Date::fromUnix(978307200.0).sinceReference, 0.0);
    Date now = Date::now();
    LocalBackup current{Uuid::random(), now, BackupKind::addons, "r", 1};
    EXPECT_EQ(localBackupFromJson(json::decode(json::encode(toJson(current)))), current);
    EXPECT_LT(now.sinceReference, 1e9); // a Unix timestamp would already be past 1.7e9
}

TEST(LocalBackupJson, DecodingIsStrictAboutRequiredKeysTypesAndKinds) {
    const std::string good =
        R"({"reason":"r","kind":"addons","byteCount":7,"date":3,"id":"0a1b2c3d-4e5f-6789-abcd-ef0123456789"})";
    LocalBackup decoded = localBackupFromJson(json::decode(good));
    EXPECT_EQ(decoded.byteCount, 7);
    EXPECT_EQ(decoded.id.text(), "0A1B2C3D-4E5F-6789-ABCD-EF0123456789");

    const char* bad[] = {
        R"({"date":3,"kind":"addons","reason":"r"})",
        R"({"id":"0A1B2C3D-4E5F-6789-ABCD-EF0123456789","kind":"addons","reason":"r"})",
        R"({"id":"0A1B2C3D-4E5F-6789-ABCD-EF0123456789","date":3,"reason":"r"})",
        R"({"id":"0A1B2C3D-4E5F-6789-ABCD-EF0123456789","date":3,"kind":"Addons","reason":"r"})",
        R"({"id":"0A1B2C3D-4E5F-6789-ABCD-EF0123456789","date":3,"kind":"config","reason":"r"})",
        R"({"id":"not-a-uuid","date":3,"kind":"wtf","reason":"r"})",
        R"({"id":"0A1B2C3D-4E5F-6789-ABCD-EF0123456789","date":"3","kind":"wtf","reason":"r"})",
        R"({"id":"0A1B2C3D-4E5F-6789-ABCD-EF0123456789","date":3,"kind":"wtf","reason":"r","byteCount":"7"})",
        R"([1,2])",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        EXPECT_THROW(localBackupFromJson(json::decode(text)), json::DecodeError);
    }
    EXPECT_THROW(json::decode("{\"id\":"), nlohmann::json::parse_error);

    LocalBackup a{Uuid::random(), Date{1}, BackupKind::wtf, "one", 1};
    LocalBackup b = a;
    b.reason = "two";
    EXPECT_NE(a, b);
}

TEST(Uuid, CanonicalUpperCaseTextAndStrictParsing) {
    auto id = Uuid::random();
    EXPECT_EQ(id.text().size(), 36u);
    EXPECT_EQ(Uuid::parse(id.text()), id);
    std::string lower = id.text();
    for (auto& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(Uuid::parse(lower), id);
    for (const char* text : {"", "0A1B2C3D4E5F6789ABCDEF0123456789", "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}",
                             "0A1B2C3D-4E5F-6789-ABCD-EF012345678G", "0A1B2C3D-4E5F-6789-ABCD-EF01234567890"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(Uuid::parse(text));
    }
}

TEST(SmallRecords, StagesKindsErrorsAndIdentities) {
    EXPECT_EQ(operationStageFromRaw("正在备份"), OperationStage::backingUp);
    EXPECT_EQ(operationStageFromRaw("backingUp"), std::nullopt);
    EXPECT_EQ(rawValue(OperationStage::committing), "正在提交，请勿退出");
    EXPECT_EQ(title(BackupKind::addons), "插件");
    EXPECT_EQ(title(BackupKind::wtf), "WTF 配置");

    ManagerError error("磁盘空间不足");
    EXPECT_STREQ(error.what(), "磁盘空间不足");
    EXPECT_EQ(error.message(), "磁盘空间不足");

    SystemError denied(SystemOperation::read, "/x/y", EACCES);
    EXPECT_STREQ(denied.what(), "无法读取“/x/y”：权限不足。");
    EXPECT_EQ(denied.error(), EACCES);
    EXPECT_EQ(errnoText(9999), "系统错误（错误码 9999）");

    EXPECT_EQ((RetiredAddon{"pack.one", "Addon", true}).id(), "pack.one/Addon");
    EXPECT_EQ((ConfigurationScope{"Account/A", "t"}).id(), "Account/A");
}

TEST(ByteCount, DecimalFileSizeStyle) {
    EXPECT_EQ(formatByteCount(0), "0 字节");
    EXPECT_EQ(formatByteCount(999), "999 字节");
    EXPECT_EQ(formatByteCount(1000), "1 KB");
    EXPECT_EQ(formatByteCount(87'108'864), "87.1 MB");
    EXPECT_EQ(formatByteCount(1'234'000'000), "1.23 GB");
    EXPECT_EQ(formatByteCount(2'000'000'000'000), "2 TB");
}
