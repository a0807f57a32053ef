#include <gtest/gtest.h>

#include "base/ByteCount.h"
#include "base/Errors.h"
#include "base/Json.h"
#include "base/OperationStage.h"
#include "records/Backup.h"
#include "records/GameClient.h"

using namespace olvex;

TEST(GameClient, TwoFormsOfOnePathAreEqualAndTitleComesFromTheFlavourTable) {
    GameClient plain(Path("/x/_retail_"));
    for (const char* other : {"/x/_retail_/", "/x/_retail_//"}) {
        EXPECT_EQ(GameClient(Path(other)), plain);
        EXPECT_EQ(GameClient(Path(other)).id(), "/x/_retail_");
        EXPECT_EQ(std::hash<GameClient>{}(GameClient(Path(other))), std::hash<GameClient>{}(plain));
    }
    EXPECT_EQ(GameClient(Path("/g/_classic_era_")).title(), "经典旧世 / 专家 / 赛季服");
    EXPECT_EQ(plain.title(), "正式服");
    EXPECT_EQ(GameClient(Path("/g/_Retail_")).title(), "_Retail_"); // not a flavour: the folder name
    EXPECT_FALSE(GameClient::isFlavor("_RETAIL_"));
}

TEST(LocalBackupJson, DeclaredKeyOrderEscapedSlashesAndStrictIdsAndKeys) {
    auto id = *Uuid::parse("0a1b2c3d-4e5f-6789-abcd-ef0123456789");
    EXPECT_EQ(
        json::encode(toJson(LocalBackup{id, Date{1.5}, BackupKind::wtf, "a/b 手动", 42})),
        R"({"id":"0A1B2C3D-4E5F-6789-ABCD-EF0123456789","date":1.5,"kind":"wtf","reason":"a\/b 手动","byteCount":42})");
    LocalBackup noSize{id, Date{0}, BackupKind::addons, "r", std::nullopt};
    EXPECT_EQ(json::encode(toJson(noSize)).find("byteCount"), std::string::npos);
    EXPECT_EQ(localBackupFromJson(json::decode(json::encode(toJson(noSize)))), noSize);
    // Any key order; a lower-case id.
    const json::Json valid = json::decode(
        R"({"reason":"r","kind":"addons","byteCount":7,"date":3,"id":"0a1b2c3d-4e5f-6789-abcd-ef0123456789"})");
    EXPECT_EQ(localBackupFromJson(valid), (LocalBackup{id, Date{3}, BackupKind::addons, "r", 7}));
    auto changed = [&](const char* key, std::optional<json::Json> value) {
        json::Json object = valid;
        value ? void(object[key] = *value) : void(object.erase(key));
        return object;
    };
    for (const json::Json& broken : {changed("id", {}), changed("date", {}), changed("kind", {}), changed("reason", {}),
                                     changed("kind", "Addons"), changed("kind", "config"), changed("id", "not-a-uuid"),
                                     changed("date", "3"), changed("byteCount", "7"), json::Json::array({1, 2})}) {
        SCOPED_TRACE(broken.dump());
        EXPECT_THROW(localBackupFromJson(broken), json::DecodeError);
    }
}

TEST(Date, CountsSecondsSince2001NotSince1970) {
    EXPECT_DOUBLE_EQ(Date::fromUnix(978307200.0).sinceReference, 0.0);
    EXPECT_LT(Date::now().sinceReference, 1e9); // a Unix timestamp would already be past 1.7e9
}

TEST(Uuid, ParsesInEitherCaseAndInNoOtherForm) {
    EXPECT_EQ(Uuid::parse("0a1b2c3d-4e5f-6789-abcd-ef0123456789"), Uuid::parse("0A1B2C3D-4E5F-6789-ABCD-EF0123456789"));
    for (const char* text : {"", "0A1B2C3D4E5F6789ABCDEF0123456789", "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}",
                             "0A1B2C3D-4E5F-6789-ABCD-EF012345678G", "0A1B2C3D-4E5F-6789-ABCD-EF01234567890"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(Uuid::parse(text));
    }
}

TEST(OperationStage, TravelsAsItsChineseTextOnly) {
    EXPECT_EQ(operationStageFromRaw("正在备份"), OperationStage::backingUp);
    EXPECT_EQ(operationStageFromRaw("backingUp"), std::nullopt);
    EXPECT_EQ(rawValue(OperationStage::committing), "正在提交，请勿退出");
}

TEST(SystemError, NamesTheOperationThePathAndTheCause) {
    EXPECT_STREQ(SystemError(SystemOperation::read, "/x/y", EACCES).what(), "无法读取“/x/y”：权限不足。");
    EXPECT_EQ(errnoText(9999), "系统错误（错误码 9999）");
}

// Decimal units, as the file browser shows sizes.
TEST(ByteCount, ThreeSignificantDigitsInDecimalUnits) {
    const std::vector<std::pair<std::int64_t, std::string>> sizes{
        {0, "0 字节"},           {999, "999 字节"},          {1000, "1 KB"},
        {87'108'864, "87.1 MB"}, {1'234'000'000, "1.23 GB"}, {2'000'000'000'000, "2 TB"}};
    for (const auto& [bytes, text] : sizes) {
        EXPECT_EQ(formatByteCount(bytes), text);
    }
}
