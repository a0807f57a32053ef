// The commands about packs: the installed ones, their retired add-ons, previewing and
// installing a pack.

#include <iostream>
#include <unistd.h>

#include "CommandSupport.h"
#include "base/Errors.h"
#include "service/Outcomes.h"

namespace olvex::cli {

namespace {

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

} // namespace

std::vector<CommandSpec> packCommands() {
    return {
        {"packs", {{"目录"}}, {}, "列出已安装的整合包", packs},
        {"retired", {{"目录"}}, {}, "列出新版整合包不再包含的旧插件", retired},
        {"remove-retired",
         {{"目录"}, {"整合包标识"}, {"插件名"}},
         {},
         "备份后清理一个未改动的旧整合包插件",
         removeRetired},
        {"preview", {{"目录"}, {"ZIP"}}, {}, "校验整合包并显示安装预览，不做任何改动", preview},
        {"install", {{"目录"}, {"ZIP"}}, {{&option::yes}}, "显示安装预览，确认后安装整合包（--yes 跳过确认）", install},
    };
}

} // namespace olvex::cli
