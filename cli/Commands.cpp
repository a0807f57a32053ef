#include "Commands.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <poll.h>
#include <set>
#include <sstream>
#include <unistd.h>

#include "base/ByteCount.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "discovery/GameScanner.h"
#include "discovery/Inventory.h"
#include "discovery/RunningGame.h"
#include "packs/Staging.h"
#include "service/Outcomes.h"

namespace olvex::cli {

Environment Environment::fromProcess() {
    Environment environment;
    if (const char* roots = std::getenv("OLVEX_DEFAULT_ROOTS")) {
        std::istringstream list(roots);
        for (std::string root; std::getline(list, root, ':');) {
            if (!root.empty()) {
                environment.defaultRoots.emplace_back(root);
            }
        }
    } else {
        environment.defaultRoots = GameScanner::defaultRoots();
    }
    if (const char* proc = std::getenv("OLVEX_PROC_ROOT"); proc != nullptr && *proc != '\0') {
        environment.procRoot = proc;
    }
    return environment;
}

struct Context {
    const Invocation& invocation;
    Session& session;
    InterruptWatcher& interrupts;
    const Environment& environment;

    const std::string& argument(size_t index) const { return invocation.arguments.at(index); }
};

namespace {

// --- Arguments -------------------------------------------------------------------------

// The absolute form of a path argument, "." components and trailing slashes dropped. ".." is
// kept: the core refuses it rather than the command line guessing what it meant.
Path absolutePath(const std::string& word) {
    if (word.empty()) {
        throw UsageError("路径参数不能为空。");
    }
    Path path(word);
    if (path.is_relative()) {
        std::error_code error;
        Path current = std::filesystem::current_path(error);
        if (error) {
            throw ManagerError("无法确定当前目录。");
        }
        path = current / path;
    }
    Path result;
    for (const auto& part : path) {
        if (!part.empty() && part != ".") {
            result /= part;
        }
    }
    return result;
}

// The version folder named by an argument. Only its existence is checked here; whether it is
// a version folder is the service's check.
GameClient clientArgument(const Context& context, size_t index) {
    const std::string& word = context.argument(index);
    const Path path = absolutePath(word);
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::not_found) {
        throw ManagerError("找不到目录“" + word + "”。");
    }
    return GameClient(path);
}

// The backup whose id starts with the argument (letter case ignored); it must be the only one.
LocalBackup backupArgument(const Context& context, const GameClient& client, size_t index) {
    std::string prefix = context.argument(index);
    if (prefix.empty()) {
        throw UsageError("备份编号不能为空。");
    }
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const auto backups = context.session.read([client](ManagerService& s) { return s.backups(client); });
    std::vector<LocalBackup> matches;
    for (const auto& backup : backups) {
        if (backup.id.text().rfind(prefix, 0) == 0) {
            matches.push_back(backup);
        }
    }
    if (matches.empty()) {
        throw ManagerError("找不到编号以“" + context.argument(index) + "”开头的备份。");
    }
    if (matches.size() > 1) {
        throw ManagerError("有 " + std::to_string(matches.size()) + " 份备份的编号以“" + context.argument(index) +
                           "”开头，请多写几位。");
    }
    return matches.front();
}

int countArgument(const std::string& word) {
    int count = 0;
    const char* end = word.data() + word.size();
    auto [stop, error] = std::from_chars(word.data(), end, count);
    if (error != std::errc() || stop != end) {
        throw UsageError("份数必须是整数：" + word);
    }
    return count;
}

// --- Shared steps ----------------------------------------------------------------------

// The same refusal as the window's: no program that counts as the game may run, whether it
// runs from this version folder, from any version folder the default roots hold, or by name.
void requireGameClosed(const Context& context, const GameClient& client) {
    std::vector<GameClient> clients = GameScanner::scan(context.environment.defaultRoots);
    clients.push_back(client);
    requireGameNotRunning(runningApplications(context.environment.procRoot), clients);
}

// Prints a result: the message alone for people, or the fields plus "message" for scripts.
int finish(const Context& context, const std::string& message, Json fields = Json::object()) {
    if (context.invocation.json) {
        fields["message"] = message;
        printJson(fields);
    } else {
        std::cout << message << '\n';
    }
    return 0;
}

// Text read from a pack, a .toc file or a folder name, made safe to print on a terminal: its
// control characters are shown escaped instead of moving the cursor or clearing the screen.
std::string shown(const std::string& text) {
    return text::visible(text);
}

std::string shown(const Path& path) {
    return text::visible(path.native());
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) {
        text += (text.empty() ? "" : "、") + shown(item);
    }
    return text;
}

// What a listing request of the service answers for the version folder named first.
template <typename Request> auto listedFor(const Context& context, Request request) {
    const GameClient client = clientArgument(context, 0);
    return context.session.read([client, request](ManagerService& s) { return (s.*request)(client); });
}

// Prints a list: one JSON array for scripts; for people each item as `print` shows it, then
// the count ("共 N" and `unit`).
template <typename Item, typename Print>
int printList(const Context& context, const std::vector<Item>& list, Print print, const char* unit) {
    if (context.invocation.json) {
        printJsonArray(list);
        return 0;
    }
    for (const auto& item : list) {
        print(item);
    }
    std::cout << "共 " << list.size() << unit << '\n';
    return 0;
}

std::set<std::string> backupIds(const std::vector<LocalBackup>& backups) {
    std::set<std::string> ids;
    for (const auto& backup : backups) {
        ids.insert(backup.id.text());
    }
    return ids;
}

// --- Commands --------------------------------------------------------------------------

int scan(const Context& context) {
    std::vector<Path> roots;
    if (!context.invocation.noDefaultRoots) {
        roots = context.environment.defaultRoots;
    }
    std::set<Path> given;
    for (const auto& word : context.invocation.arguments) {
        roots.push_back(absolutePath(word));
        given.insert(roots.back());
    }
    const ScanReport report = GameScanner::scanReport(roots);
    if (context.invocation.json) {
        printJson(jsonOf(report));
        return 0;
    }
    if (report.clients.empty()) {
        std::cout << "未扫描到游戏。请指定 World of Warcraft 或版本文件夹所在的目录。\n";
    } else {
        std::cout << "找到 " << report.clients.size() << " 个版本目录：\n";
        for (const auto& client : report.clients) {
            std::cout << "  " << shown(client.id()) << "  " << client.title() << '\n';
        }
    }
    if (!report.inaccessibleRoots.empty()) {
        std::cout << "有 " << report.inaccessibleRoots.size() << " 个位置无法访问，请检查权限：\n";
        for (const auto& root : report.inaccessibleRoots) {
            std::cout << "  " << shown(root) << '\n';
        }
    }
    // Absent default roots are the rule, not news; only the folders the user named are reported.
    std::vector<Path> missing;
    std::copy_if(report.missingRoots.begin(), report.missingRoots.end(), std::back_inserter(missing),
                 [&](const Path& root) { return given.count(root) != 0; });
    if (!missing.empty()) {
        std::cout << "有 " << missing.size() << " 个指定位置不存在或磁盘离线：\n";
        for (const auto& root : missing) {
            std::cout << "  " << shown(root) << '\n';
        }
    }
    if (report.reachedLimit) {
        std::cout << "已达到扫描深度或数量上限，请直接指定目录。\n";
    }
    return 0;
}

int addons(const Context& context) {
    auto list = listedFor(context, &ManagerService::installedAddons);
    if (context.invocation.search) {
        std::erase_if(
            list, [&](const InstalledAddon& addon) { return !addonMatchesSearch(addon, *context.invocation.search); });
    }
    return printList(
        context, list,
        [](const InstalledAddon& addon) {
            std::cout << shown(addon.title) << "（" << shown(addon.folder.filename()) << "）";
            if (!addon.version.empty()) {
                std::cout << "  版本 " << shown(addon.version);
            }
            if (!addon.author.empty()) {
                std::cout << "  作者 " << shown(addon.author);
            }
            std::cout << '\n';
        },
        " 个插件。");
}

int packs(const Context& context) {
    return printList(
        context, listedFor(context, &ManagerService::installedPacks),
        [](const ManagedPack& pack) {
            std::cout << shown(pack.manifest.name) << " " << shown(pack.manifest.version) << "（"
                      << shown(pack.manifest.identifier) << "）  安装于 " << localDate(pack.installedAt) << "\n  插件："
                      << joined(pack.addons) << '\n';
        },
        " 个整合包。");
}

int retired(const Context& context) {
    return printList(
        context, listedFor(context, &ManagerService::retiredAddons),
        [](const RetiredAddon& addon) {
            std::cout << shown(addon.packID) << "  " << shown(addon.name) << "  "
                      << (addon.canRemove ? "可清理" : "文件已改动，不能自动清理") << '\n';
        },
        " 个旧整合包插件。");
}

int removeRetired(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const std::string packID = context.argument(1);
    const std::string name = context.argument(2);
    requireGameClosed(context, client);
    context.session.operation(
        [&](ManagerService& s, OperationControl* control) { s.removeRetiredAddon(packID, name, client, control); });
    return finish(context, outcome::kRetiredRemoved, Json{{"packID", packID}, {"name", name}});
}

std::string describePreview(const ImportPreview& preview) {
    std::string text = "整合包：" + shown(preview.archiveName) + "\n版本目录：" + shown(preview.client.id()) + "\n";
    if (preview.pack) {
        text += "整合包信息：" + shown(preview.pack->name) + " " + shown(preview.pack->version) + "（" +
                shown(preview.pack->identifier) + "）";
        if (preview.previousVersion) {
            text += "，将从 " + shown(*preview.previousVersion) + " 升级";
        }
        text += "\n";
    }
    text += "将安装 " + std::to_string(preview.addons.size()) + " 个插件：" + joined(preview.addons) + "\n";
    if (!preview.replacing.empty()) {
        text += "将替换同名插件：" + joined(preview.replacing) + "\n";
    }
    if (!preview.retiredAddons.empty()) {
        text += "新版本不再包含（安装后可用 retired 查看和清理）：" + joined(preview.retiredAddons) + "\n";
    }
    return text;
}

ImportPreview runPreview(const Context& context, const GameClient& client, const Path& zip) {
    return context.session.operation(
        [&](ManagerService& s, OperationControl* control) { return s.preview(zip, client, control); });
}

int preview(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const Path zip = absolutePath(context.argument(1));
    const ImportPreview result = runPreview(context, client, zip);
    context.session.change([](ManagerService& s) { s.discardPreview(); });
    if (context.invocation.json) {
        printJson(jsonOf(result));
    } else {
        std::cout << describePreview(result) << "这只是预览，未做任何改动。\n";
    }
    return 0;
}

// Asks on standard error and reads one line from standard input; Ctrl-C ends the wait.
bool confirmed(const Context& context, const std::string& question) {
    std::cerr << question << std::flush;
    std::string line;
    for (;;) {
        pollfd descriptors[2] = {{STDIN_FILENO, POLLIN, 0}, {context.interrupts.notificationDescriptor(), POLLIN, 0}};
        if (::poll(descriptors, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (context.interrupts.interrupted()) {
            std::cerr << '\n';
            throw CancellationError();
        }
        char byte = 0;
        ssize_t n = ::read(STDIN_FILENO, &byte, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || byte == '\n') {
            break;
        }
        line += byte;
    }
    line = text::trimmed(line);
    return line == "y" || line == "Y" || line == "yes" || line == "是";
}

int install(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const Path zip = absolutePath(context.argument(1));
    const bool ask = !context.invocation.yes;
    if (ask && ::isatty(STDIN_FILENO) != 1) {
        throw UsageError("标准输入不是终端，无法确认安装；核对预览后请加 --yes。");
    }
    requireGameClosed(context, client);
    // Whatever happens after the preview, this process will not install it later.
    struct Discard {
        Session& session;
        ~Discard() {
            try {
                session.change([](ManagerService& s) { s.discardPreview(); });
            } catch (...) {
                // Housekeeping removes a staging folder left behind.
            }
        }
    };
    const ImportPreview result = runPreview(context, client, zip);
    Discard discard{context.session};
    if (!context.invocation.json) {
        std::cout << describePreview(result) << std::flush;
    } else if (ask) {
        std::cerr << describePreview(result);
    }
    if (ask && !confirmed(context, "确认安装到“" + shown(client.id()) + "”？输入 y 或 是 继续：")) {
        throw ManagerError("已放弃安装，游戏文件未改动。");
    }
    if (ask) {
        requireGameClosed(context, client); // the game may have started while we waited
    }
    const Uuid token = result.token;
    context.session.operation([token](ManagerService& s, OperationControl* control) { s.install(token, control); });
    const std::string message = outcome::installed(result.addons.size());
    return finish(context, message, Json{{"preview", jsonOf(result)}});
}

int backups(const Context& context) {
    return printList(
        context, listedFor(context, &ManagerService::backupDetails),
        [](const BackupDetails& details) {
            const LocalBackup& backup = details.backup;
            std::cout << backup.id.text() << "  " << localDate(backup.date) << "  " << title(backup.kind) << "  "
                      << formatByteCount(details.bytes) << "  " << shown(backup.reason) << '\n';
        },
        " 份备份。");
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
    requireGameClosed(context, client);
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

// The way out of a journal that cannot be read: after the player's confirmation it is moved
// aside under a dated name (never deleted), and the version folder can be used again.
int setAsideJournal(const Context& context, const GameClient& client) {
    const bool ask = !context.invocation.yes;
    if (ask && ::isatty(STDIN_FILENO) != 1) {
        throw UsageError("标准输入不是终端，无法确认移开恢复日志；核对插件和 WTF 目录后请加 --yes。");
    }
    if (ask && !confirmed(context, "将把“" + shown(client.id()) +
                                       "”的恢复日志改名移到一旁（不删除），被中断的操作之后不会再自动回滚。"
                                       "请先核对插件和 WTF 目录，需要时从备份恢复。输入 y 或 是 继续：")) {
        throw ManagerError("已放弃，恢复日志未改动。");
    }
    const JournalSetAside aside =
        context.session.change([client](ManagerService& s) { return s.setAsideJournal(client); });
    return finish(context,
                  "已把恢复日志移到“" + shown(aside.aside) + "”。它无法执行的原因：" + shown(aside.reason) +
                      "\n请核对插件和 WTF 目录，需要时从备份恢复。",
                  Json{{"setAside", aside.aside.native()}, {"reason", aside.reason}});
}

int recover(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    requireGameClosed(context, client);
    if (context.invocation.setAsideJournal) {
        return setAsideJournal(context, client);
    }
    // Always through the service: it takes the lease (a concurrent operation is refused) and
    // sweeps leftover work folders whether or not a journal is waiting.
    const bool recovered = context.session.change([client](ManagerService& s) { return s.recover(client); });
    return finish(context, recovered ? outcome::kRecovered : "没有被中断的操作，无需恢复。",
                  Json{{"recovered", recovered}});
}

int status(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    struct Counts {
        size_t addons, packs, backups, retired;
        bool pending;
        std::vector<std::filesystem::path> leftovers;
    };
    const Counts counts = context.session.read([client](ManagerService& s) {
        return Counts{s.installedAddons(client).size(), s.installedPacks(client).size(), s.backups(client).size(),
                      s.retiredAddons(client).size(),   s.hasPendingRecovery(client),    s.leftovers(client)};
    });
    if (context.invocation.json) {
        printJson(Json{{"client", jsonOf(client)},
                       {"pendingRecovery", counts.pending},
                       {"addons", counts.addons},
                       {"packs", counts.packs},
                       {"backups", counts.backups},
                       {"retiredAddons", counts.retired},
                       {"leftovers", counts.leftovers.size()}});
        return 0;
    }
    // The line that may ask the player to act comes first.
    std::cout << "中断的操作：" << (counts.pending ? "有。请先运行 olvex recover 恢复操作前的状态。" : "无") << '\n'
              << "版本目录：" << shown(client.id()) << "（" << client.title() << "）\n"
              << "插件：" << counts.addons << " 个\n"
              << "整合包：" << counts.packs << " 个\n"
              << "备份：" << counts.backups << " 份\n"
              << "旧整合包插件：" << counts.retired << " 个\n";
    // Leftovers never block an operation; they are shown so that the player knows of the space.
    for (const auto& leftover : counts.leftovers) {
        std::cout << "未能删除的临时文件（下次操作时会再试）：" << shown(leftover) << '\n';
    }
    return 0;
}

int cleanup(const Context& context) {
    const Date cutoff = stagingCutoff(Date::now());
    const TemporaryCleanup result =
        context.session.change([cutoff](ManagerService& s) { return s.cleanupTemporaryFiles(cutoff); });
    const std::int64_t bytes = result.removedBytes;
    std::string message =
        bytes > 0 ? "已清理遗留的临时文件夹，释放 " + formatByteCount(bytes) + "。" : "没有需要清理的临时文件夹。";
    Json skipped = Json::array();
    if (!result.skipped.empty()) {
        message += "\n有 " + std::to_string(result.skipped.size()) + " 个临时文件夹无法清理，已跳过：";
    }
    for (const auto& [folder, reason] : result.skipped) {
        message += "\n  " + shown(folder) + "：" + shown(reason);
        skipped.push_back(Json{{"path", folder.native()}, {"reason", reason}});
    }
    return finish(context, message, Json{{"removedBytes", bytes}, {"skipped", skipped}});
}

} // namespace

// The one table of commands: the parser's grammar, the help's usage lines and each command's
// body. "help" has no body here: main answers it before any service exists.
const std::vector<CommandSpec>& commandTable() {
    static const std::vector<CommandSpec> table{
        {"scan", "[根目录…] [--no-default-roots]", "扫描默认位置和给出的目录，列出找到的版本目录", 0, -1,
         kNoDefaultRoots, scan},
        {"addons", "目录 [--search 文字]", "列出已安装的插件，可按名称、文件夹或作者搜索", 1, 1, kSearch, addons},
        {"packs", "目录", "列出已安装的整合包", 1, 1, 0, packs},
        {"retired", "目录", "列出新版整合包不再包含的旧插件", 1, 1, 0, retired},
        {"remove-retired", "目录 整合包标识 插件名", "备份后清理一个未改动的旧整合包插件", 3, 3, 0, removeRetired},
        {"preview", "目录 ZIP", "校验整合包并显示安装预览，不做任何改动", 2, 2, 0, preview},
        {"install", "目录 ZIP [--yes]", "显示安装预览，确认后安装整合包（--yes 跳过确认）", 2, 2, kYes, install},
        {"backups", "目录", "列出备份及其大小", 1, 1, 0, backups},
        {"backup-wtf", "目录", "立即备份 WTF 配置", 1, 1, 0, backupWTF},
        {"scopes", "目录 备份", "列出 WTF 备份中可单独恢复的账号、服务器和角色", 2, 2, 0, scopes},
        {"restore", "目录 备份 [--scope 路径]", "恢复整个备份，或只恢复其中一个账号、服务器或角色", 2, 2, kScope,
         restore},
        {"export", "目录 备份 目标", "把备份连同摘要清单导出到一个尚不存在的文件夹", 3, 3, 0, exportBackup},
        {"import", "目录 迁移包", "校验并导入导出的 WTF 配置（原配置自动备份）", 2, 2, 0, importWTF},
        {"recycle", "目录 备份", "把一份备份移入可恢复区", 2, 2, 0, recycle},
        {"retain", "目录 [份数]", "每类只保留最近几份备份（默认 5），其余移入可恢复区", 1, 2, 0, retain},
        {"recover-recycled", "目录", "把可恢复区中的备份全部移回", 1, 1, 0, recoverRecycled},
        {"recover", "目录 [--set-aside-journal [--yes]]",
         "恢复被中断的操作之前的状态；恢复日志损坏时，加 --set-aside-journal 经确认后把它改名移到一旁（不删除）", 1, 1,
         kSetAsideJournal | kYes, recover},
        {"status", "目录", "显示待恢复事务和插件、整合包、备份的数量", 1, 1, 0, status},
        {"cleanup", "", "清理一天前遗留的整合包临时文件夹", 0, 0, 0, cleanup},
        {"help", "[命令]", "显示帮助", 0, 1, 0, nullptr},
    };
    return table;
}

int runCommand(const Invocation& invocation, Session& session, InterruptWatcher& interrupts,
               const Environment& environment) {
    const Context context{invocation, session, interrupts, environment};
    return findCommand(invocation.command)->run(context);
}

} // namespace olvex::cli
