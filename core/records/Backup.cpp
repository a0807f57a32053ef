#include "records/Backup.h"

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
        throw json::DecodeError("\"kind\" is neither \"addons\" nor \"wtf\"");
    }
    backup.kind = *kind;
    backup.reason = json::requireString(object, "reason");
    auto it = object.find("byteCount");
    if (it != object.end()) {
        if (!it->is_number_integer()) {
            throw json::DecodeError("\"byteCount\" is not an integer");
        }
        backup.byteCount = it->get<std::int64_t>();
    }
    return backup;
}

} // namespace olvex
