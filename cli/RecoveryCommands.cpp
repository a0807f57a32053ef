// The commands about the folder's state: recovering an interrupted operation, the status
// summary and removing old staging folders.

#include <iostream>
#include <unistd.h>

#include "CommandSupport.h"
#include "base/ByteCount.h"
#include "base/Errors.h"
#include "packs/Staging.h"
#include "service/Outcomes.h"

namespace olvex::cli {

namespace {

// The way out of a journal that cannot be carried out (damaged, or its backup missing or
// damaged): after the player's confirmation it is moved aside under a dated name (never
// deleted), and the version folder can be used again.
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
        FolderAttention attention;
    };
    const Counts counts = context.session.read([client](ManagerService& s) {
        return Counts{s.installedAddons(client).size(), s.installedPacks(client).size(), s.backups(client).size(),
                      s.retiredAddons(client).size(), s.attention(client)};
    });
    const FolderAttention& attention = counts.attention;
    if (context.invocation.json) {
        Json damaged = Json::array();
        for (const auto& backup : attention.damagedBackups) {
            damaged.push_back(Json{{"path", backup.folder.native()}, {"reason", backup.reason}});
        }
        printJson(Json{
            {"client", jsonOf(client)},
            {"operationRunning", attention.operationRunning},
            {"pendingRecovery", attention.pendingRecovery},
            {"recoveryProblem", attention.recoveryProblem.empty() ? Json(nullptr) : Json(attention.recoveryProblem)},
            {"addons", counts.addons},
            {"packs", counts.packs},
            {"backups", counts.backups},
            {"retiredAddons", counts.retired},
            {"leftovers", attention.leftovers.size()},
            {"damagedBackups", damaged}});
        return 0;
    }
    // The line that may ask the player to act comes first.
    std::cout << "中断的操作：";
    if (attention.operationRunning) {
        std::cout << "另一个管理器正在操作此游戏目录，操作结束后再查看。\n";
    } else if (!attention.recoveryProblem.empty()) {
        std::cout << "有，但无法自动恢复：" << shown(attention.recoveryProblem)
                  << "\n核对后可运行“olvex recover 目录 --set-aside-journal”把恢复日志改名移到一旁（不会删除）。\n";
    } else {
        std::cout << (attention.pendingRecovery ? "有。请先运行 olvex recover 恢复操作前的状态。" : "无") << '\n';
    }
    std::cout << "版本目录：" << shown(client.id()) << "（" << client.title() << "）\n"
              << "插件：" << counts.addons << " 个\n"
              << "整合包：" << counts.packs << " 个\n"
              << "备份：" << counts.backups << " 份\n"
              << "旧整合包插件：" << counts.retired << " 个\n";
    // Kept out of the list of backups, named here so that the player can decide what to keep.
    for (const auto& backup : attention.damagedBackups) {
        std::cout << "备份记录已损坏（未列出，文件夹保留）：" << shown(backup.folder) << "：" << shown(backup.reason)
                  << '\n';
    }
    // Leftovers never block an operation; they are shown so that the player knows of the space.
    for (const auto& leftover : attention.leftovers) {
        std::cout << "未能删除的临时文件（下次操作时会再试）：" << shown(leftover) << '\n';
    }
    return 0;
}

int cleanup(const Context& context) {
    const Date cutoff = stagingCutoff(Date::now());
    const TemporaryCleanup result =
        context.session.change([cutoff](ManagerService& s) { return s.cleanupTemporaryFiles(cutoff); });
    std::string message =
        outcome::cleanedUp(result.removedFolders, formatByteCount(result.removedBytes), result.skipped.size());
    Json skipped = Json::array();
    for (const auto& [folder, reason] : result.skipped) {
        message += "\n  " + shown(folder) + "：" + shown(reason);
        skipped.push_back(Json{{"path", folder.native()}, {"reason", reason}});
    }
    return finish(
        context, message,
        Json{{"removedBytes", result.removedBytes}, {"removedFolders", result.removedFolders}, {"skipped", skipped}});
}

} // namespace

std::vector<CommandSpec> recoveryCommands() {
    return {
        {"recover",
         {{"目录"}},
         {{&option::setAsideJournal}, {&option::yes, &option::setAsideJournal}},
         "恢复被中断的操作之前的状态；恢复日志损坏或无法执行时，加 --set-aside-journal "
         "经确认后把它改名移到一旁（不删除）",
         recover},
        {"status", {{"目录"}}, {}, "显示待恢复事务、正在进行的操作、损坏的备份记录和插件、整合包、备份的数量", status},
        {"cleanup", {}, {}, "清理不再被任何预览使用的整合包临时文件夹", cleanup},
    };
}

} // namespace olvex::cli
