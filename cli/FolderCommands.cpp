// The commands about what a version folder holds: finding the folders, listing the add-ons.

#include <algorithm>
#include <iostream>
#include <iterator>
#include <set>

#include "CommandSupport.h"
#include "discovery/GameScanner.h"
#include "discovery/Inventory.h"

namespace olvex::cli {

namespace {

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

} // namespace

std::vector<CommandSpec> folderCommands() {
    return {
        {"scan",
         {{"根目录", ArgumentSpec::kAnyNumber}},
         {{&option::noDefaultRoots}},
         "扫描默认位置和给出的目录，列出找到的版本目录",
         scan},
        {"addons", {{"目录"}}, {{&option::search}}, "列出已安装的插件，可按名称、文件夹或作者搜索", addons},
    };
}

} // namespace olvex::cli
