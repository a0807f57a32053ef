#include "records/Backup.h"

#include "fs/FileSafety.h"

namespace olvex {

std::string rawValue(BackupKind kind) {
    return kind == BackupKind::addons ? "addons" : "wtf";
}

std::optional<BackupKind> backupKindFromRaw(const std::string& raw) {
    if (raw == "addons") {
        return BackupKind::addons;
    }
    if (raw == "wtf") {
        return BackupKind::wtf;
    }
    return std::nullopt;
}

std::string title(BackupKind kind) {
    return kind == BackupKind::addons ? "插件" : "WTF 配置";
}

json::Json toJson(const LocalBackup& backup) {
    json::Json object = json::Json::object();
    object["id"] = backup.id.text();
    object["date"] = backup.date.sinceReference;
    object["kind"] = rawValue(backup.kind);
    object["reason"] = backup.reason;
    if (backup.byteCount) {
        object["byteCount"] = *backup.byteCount;
    }
    return object;
}

LocalBackup localBackupFromJson(const json::Json& object) {
    LocalBackup backup;
    backup.id = json::requireUuid(object, "id");
    backup.date = json::requireDate(object, "date");
    auto kind = backupKindFromRaw(json::requireString(object, "kind"));
    if (!kind) {
        throw json::DecodeError("字段“kind”既不是“addons”也不是“wtf”");
    }
    backup.kind = *kind;
    backup.reason = json::requireString(object, "reason");
    auto it = object.find("byteCount");
    if (it != object.end()) {
        if (!it->is_number_integer()) {
            throw json::DecodeError("字段“byteCount”不是整数");
        }
        backup.byteCount = it->get<std::int64_t>();
    }
    return backup;
}

LocalBackup readBackupRecord(const Path& file) {
    const std::string label = "备份记录“" + file.native() + "”";
    const std::string text = FileSafety::readFile(file, kBackupRecordLimit, label + "已损坏：文件过大。");
    return json::decodeFile(text, label, localBackupFromJson);
}

} // namespace olvex
