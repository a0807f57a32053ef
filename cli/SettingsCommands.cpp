// The commands about add-on settings (saved variables): their health, the repair of damaged
// files from the game's .bak or a WTF backup. Restoring one add-on's settings is `restore
// --addon` (BackupCommands.cpp).

#include <algorithm>
#include <iostream>
#include <unistd.h>

#include "CommandSupport.h"

namespace olvex::cli {

namespace {

// "bak", a backup id, or null; with the copy's date.
Json sourceJson(const std::optional<SavedVariablesSource>& source) {
    if (!source) {
        return Json{{"source", nullptr}, {"sourceDate", nullptr}};
    }
    return Json{{"source", source->backup ? Json(source->backup->id.text()) : Json("bak")},
                {"sourceDate", isoDate(source->date)}};
}

Json damagedJson(const DamagedSavedVariables& damaged) {
    Json object{{"path", damaged.relativePath},
                {"addon", damaged.addon},
                {"state", rawValue(damaged.verdict.state)},
                {"line", damaged.verdict.line ? Json(*damaged.verdict.line) : Json(nullptr)}};
    object.update(sourceJson(damaged.source));
    return object;
}

// "游戏自动保存的 .bak 副本（2024-05-01 20:34:56）" or "无完好副本".
std::string sourceText(const std::optional<SavedVariablesSource>& source) {
    if (!source) {
        return "无完好副本";
    }
    std::string text = source->isGameBackup() ? source->text() : "备份 " + source->backup->id.text().substr(0, 8);
    return text + "（" + localDate(source->date) + "）";
}

void printDamaged(const DamagedSavedVariables& damaged) {
    std::cout << shown(damaged.relativePath) << "  " << damaged.stateText() << "  " << shown(damaged.place.text())
              << "  修复来源：" << shown(sourceText(damaged.source)) << '\n';
}

int health(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const SavedVariablesHealth report = context.session.operation(
        [client](ManagerService& s, OperationControl* control) { return s.savedVariablesHealth(client, control); });
    if (context.invocation.json) {
        Json damaged = Json::array();
        for (const auto& file : report.damaged) {
            damaged.push_back(damagedJson(file));
        }
        printJson(Json{{"checkedFiles", report.checkedFiles}, {"damaged", damaged}});
        return 0;
    }
    for (const auto& file : report.damaged) {
        printDamaged(file);
    }
    std::cout << report.summary() << '\n';
    return 0;
}

// A file argument as the health report names it: relative to the version folder, or an
// absolute path inside it.
std::string fileArgument(const GameClient& client, const std::string& word) {
    const std::string prefix = client.id() + "/";
    return word.starts_with(prefix) ? word.substr(prefix.size()) : word;
}

int repair(const Context& context) {
    const GameClient client = clientArgument(context, 0);
    const bool named = context.invocation.arguments.size() > 1;
    if (named == context.invocation.all) {
        throw UsageError(named ? "请只用一种方式指定：文件或 --all。"
                               : "请指定要修复的文件（见 health），或使用 --all。");
    }
    const bool ask = !context.invocation.yes;
    if (ask && ::isatty(STDIN_FILENO) != 1) {
        throw UsageError("标准输入不是终端，无法确认修复；核对 health 的结果后请加 --yes。");
    }
    requireGameClosed(context, client);
    std::vector<std::string> files;
    for (size_t i = 1; i < context.invocation.arguments.size(); ++i) {
        files.push_back(fileArgument(client, context.argument(i)));
    }
    if (ask) {
        // What will be repaired and from where, before the question; the repair checks again.
        const SavedVariablesHealth report = context.session.operation(
            [client](ManagerService& s, OperationControl* control) { return s.savedVariablesHealth(client, control); });
        std::vector<std::string> shownFiles;
        for (const auto& damaged : report.damaged) {
            const bool chosen = files.empty()
                                    ? damaged.source.has_value()
                                    : std::find(files.begin(), files.end(), damaged.relativePath) != files.end();
            if (chosen) {
                std::cerr << shown(damaged.relativePath) << "  " << damaged.stateText() << "  ← "
                          << shown(sourceText(damaged.source)) << '\n';
                shownFiles.push_back(damaged.relativePath);
            }
        }
        if (!shownFiles.empty()) {
            if (!confirmed(context, "修复前会先备份 WTF。确认修复以上 " + std::to_string(shownFiles.size()) +
                                        " 个文件？输入 y 或 是 继续：")) {
                throw ManagerError("已放弃修复，游戏文件未改动。");
            }
            requireGameClosed(context, client); // the game may have started while we waited
            if (files.empty()) {
                files = shownFiles; // exactly what was confirmed
            }
        }
    }
    const auto repaired = context.session.operation([client, files](ManagerService& s, OperationControl* control) {
        return s.repairSavedVariables(client, files, control);
    });
    Json list = Json::array();
    for (const auto& damaged : repaired) {
        list.push_back(damagedJson(damaged));
        if (!context.invocation.json) {
            std::cout << shown(damaged.relativePath) << "  ← " << shown(sourceText(damaged.source)) << '\n';
        }
    }
    return finish(context, outcome::savedVariablesRepaired(repaired.size()), Json{{"repaired", list}});
}

} // namespace

std::vector<CommandSpec> settingsCommands() {
    return {
        {"health", {{"目录"}}, {}, "检查 WTF 中每个插件配置文件（SavedVariables）是否完好", health},
        {"repair",
         {{"目录"}, {"文件", ArgumentSpec::kAnyNumber}},
         {{&option::repairAll}, {&option::yes}},
         "用游戏的 .bak 或最近的完好备份修复损坏的插件配置（先备份 WTF）",
         repair},
    };
}

} // namespace olvex::cli
