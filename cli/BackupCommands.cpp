// The commands about backups: listing, making, restoring, exporting and importing them, and
// moving them to and from the recycle area.

#include <algorithm>
#include <functional>
#include <iostream>
#include <iterator>
#include <set>

#include "CommandSupport.h"
#include "base/ByteCount.h"
#include "service/Outcomes.h"

namespace olvex::cli {

namespace {

std::set<std::string> backupIds(const std::vector<LocalBackup>& backups) {
    std::set<std::string> ids;
    for (const auto& backup : backups) {
        ids.insert(backup.id.text());
    }
    return ids;
}

// Each backup with its whole size and what removing it would free (backups share the files
// that did not change between them), then what the listed backups take together.
int backups(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const auto [list, usage] = context.session.read(
        [client](ManagerService& s) { return std::pair(s.backupDetails(client), s.backupUsage(client)); });
    auto freed = [&usage = usage](const BackupDetails& details) {
        auto it = usage.freedBytes.find(details.backup.id);
        return it == usage.freedBytes.end() ? std::int64_t{0} : it->second;
    };
    if (context.invocation.json) {
        Json array = Json::array();
        for (const auto& details : list) {
            Json item = jsonOf(details);
            item["freedBytes"] = freed(details);
            item["storeBytes"] = usage.occupiedBytes;
            array.push_back(std::move(item));
        }
        printJson(array);
        return 0;
    }
    for (const auto& details : list) {
        const LocalBackup& backup = details.backup;
        std::cout << backup.id.text() << "  " << localDate(backup.date) << "  " << title(backup.kind) << "  "
                  << formatByteCount(details.bytes) << "（删除可释放 " << formatByteCount(freed(details)) << "）  "
                  << shown(backup.reason) << '\n';
    }
    std::cout << "共 " << list.size() << " 份备份，实际占用 " << formatByteCount(usage.occupiedBytes)
              << "（未改动的文件由各备份共用）。\n";
    return 0;
}

int backupWTF(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    requireGameClosed(context, client);
    const LocalBackup backup = context.session.operation(
        [client](ManagerService& s, OperationControl* control) { return s.backupWTF(client, control); });
    if (!context.invocation.json) {
        std::cout << "备份编号：" << backup.id.text() << '\n';
    }
    return finish(context, outcome::kWtfBackedUp, Json{{"backup", jsonOf(backup)}});
}

int scopes(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const LocalBackup backup = backupArgument(context, client, 1);
    const auto list =
        context.session.read([client, backup](ManagerService& s) { return s.configurationScopes(backup, client); });
    if (context.invocation.json) {
        printJsonArray(list);
        return 0;
    }
    if (list.empty()) {
        std::cout << "备份中没有可选择的账号或角色目录，可使用整目录恢复。\n";
    }
    for (const auto& scope : list) {
        std::cout << shown(scope.relativePath) << "  " << shown(scope.title) << '\n';
    }
    return 0;
}

int restore(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const LocalBackup backup = backupArgument(context, client, 1);
    const std::optional<std::string> scope = context.invocation.scope;
    const std::optional<std::string> addon = context.invocation.addon;
    requireGameClosed(context, client);
    if (addon) {
        context.session.operation([&](ManagerService& s, OperationControl* control) {
            s.restoreAddonSettings(backup, client, *addon, scope, control);
        });
        return finish(
            context, outcome::addonSettingsRestored(shown(*addon)),
            Json{{"backup", jsonOf(backup)}, {"scope", scope ? Json(*scope) : Json(nullptr)}, {"addon", *addon}});
    }
    context.session.operation(
        [&](ManagerService& s, OperationControl* control) { s.restore(backup, client, scope, control); });
    return finish(context, outcome::restored(backup.kind),
                  Json{{"backup", jsonOf(backup)}, {"scope", scope ? Json(*scope) : Json(nullptr)}});
}

int exportBackup(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const LocalBackup backup = backupArgument(context, client, 1);
    const Path destination = absolutePath(context.argument(2));
    context.session.operation(
        [&](ManagerService& s, OperationControl* control) { s.exportBackup(backup, client, destination, control); });
    return finish(context, outcome::kExported, Json{{"backup", jsonOf(backup)}, {"destination", destination.native()}});
}

int importWTF(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const Path package = absolutePath(context.argument(1));
    requireGameClosed(context, client);
    context.session.operation(
        [&](ManagerService& s, OperationControl* control) { s.importWTF(package, client, control); });
    return finish(context, outcome::kImported, Json{{"package", package.native()}});
}

int recycle(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const LocalBackup backup = backupArgument(context, client, 1);
    context.session.change([&](ManagerService& s) { s.recycleBackup(backup, client); });
    return finish(context,
                  "备份已移入可恢复区（.olvex-manager/recycled-backups），仍占磁盘空间。确认无需保留后可手动删除。",
                  Json{{"backup", jsonOf(backup)}});
}

// Runs a request that moves backups and reports which ids left or joined the listing.
std::pair<Json, Json> movedBackups(const Context& context, const GameClient& client,
                                   const std::function<void(ManagerService&)>& request) {
    auto before = backupIds(context.session.read([client](ManagerService& s) { return s.backups(client); }));
    context.session.change(request);
    auto after = backupIds(context.session.read([client](ManagerService& s) { return s.backups(client); }));
    Json gone = Json::array();
    Json came = Json::array();
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(came));
    return {gone, came};
}

int retain(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const int count =
        context.invocation.arguments.size() > 1 ? countArgument(context.argument(1)) : kDefaultRetainedBackups;
    const Json recycled =
        movedBackups(context, client, [&](ManagerService& s) { s.retainBackups(count, client); }).first;
    return finish(context,
                  "每类保留最近 " + std::to_string(count) + " 份，已将 " + std::to_string(recycled.size()) +
                      " 份移入可恢复区（仍占磁盘空间）。",
                  Json{{"count", count}, {"recycled", recycled}});
}

int recoverRecycled(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const Json recovered =
        movedBackups(context, client, [&](ManagerService& s) { s.recoverRecycledBackups(client); }).second;
    return finish(context, "已恢复可恢复区中的备份（" + std::to_string(recovered.size()) + " 份）。",
                  Json{{"recovered", recovered}});
}

} // namespace

std::vector<CommandSpec> backupCommands() {
    return {
        {"backups", {{"目录"}}, {}, "列出备份及其大小、删除各份可释放的空间与实际占用", backups},
        {"backup-wtf", {{"目录"}}, {}, "立即备份 WTF 配置", backupWTF},
        {"scopes", {{"目录"}, {"备份"}}, {}, "列出 WTF 备份中可单独恢复的账号、服务器和角色", scopes},
        {"restore",
         {{"目录"}, {"备份"}},
         {{&option::scope}, {&option::addon}},
         "恢复整个备份，或只恢复其中一个账号、服务器或角色，或只恢复一个插件的配置",
         restore},
        {"export", {{"目录"}, {"备份"}, {"目标"}}, {}, "把备份连同摘要清单导出到一个尚不存在的文件夹", exportBackup},
        {"import", {{"目录"}, {"迁移包"}}, {}, "校验并导入导出的 WTF 配置（原配置自动备份）", importWTF},
        {"recycle", {{"目录"}, {"备份"}}, {}, "把一份备份移入可恢复区", recycle},
        {"retain",
         {{"目录"}, {"份数", ArgumentSpec::kOptional}},
         {},
         "每类只保留最近几份备份（默认 5），其余移入可恢复区",
         retain},
        {"recover-recycled", {{"目录"}}, {}, "把可恢复区中的备份全部移回", recoverRecycled},
    };
}

} // namespace olvex::cli
