#include "CommandLine.h"

#include <algorithm>
#include <cctype>

namespace olvex::cli {

const CommandSpec* findCommand(const std::string& name) {
    const auto& table = commandTable();
    auto it = std::find_if(table.begin(), table.end(), [&](const CommandSpec& spec) { return name == spec.name; });
    return it == table.end() ? nullptr : &*it;
}

namespace {

struct OptionSpec {
    const char* name;
    Option bit;
    bool takesValue;
};

constexpr OptionSpec kOptions[] = {
    {"--json", kJson, false},
    {"--yes", kYes, false},
    {"--search", kSearch, true},
    {"--scope", kScope, true},
    {"--no-default-roots", kNoDefaultRoots, false},
    {"--set-aside-journal", kSetAsideJournal, false},
};

void apply(Invocation& invocation, Option bit, const std::string& value) {
    switch (bit) {
    case kJson:
        invocation.json = true;
        break;
    case kYes:
        invocation.yes = true;
        break;
    case kSearch:
        invocation.search = value;
        break;
    case kScope:
        invocation.scope = value;
        break;
    case kNoDefaultRoots:
        invocation.noDefaultRoots = true;
        break;
    case kSetAsideJournal:
        invocation.setAsideJournal = true;
        break;
    }
}

std::string usageLine(const CommandSpec& spec) {
    std::string line = std::string("olvex ") + spec.name;
    if (*spec.arguments != '\0') {
        line += std::string(" ") + spec.arguments;
    }
    return line;
}

} // namespace

Invocation parseCommandLine(const std::vector<std::string>& words) {
    Invocation invocation;
    unsigned given = 0;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        // A lone "-" and negative numbers ("retain DIR -1") are arguments, not options.
        if (optionsEnded || word.size() < 2 || word[0] != '-' || std::isdigit(static_cast<unsigned char>(word[1]))) {
            positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "--help" || word == "-h") {
            invocation.help = true;
            continue;
        }
        if (word == "--version") {
            invocation.version = true;
            continue;
        }
        std::string name = word;
        std::optional<std::string> value;
        if (auto equals = word.find('='); equals != std::string::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
        }
        auto option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                   [&](const OptionSpec& spec) { return name == spec.name; });
        if (option == std::end(kOptions)) {
            throw UsageError("未知选项：" + word);
        }
        if (option->takesValue && !value) {
            if (i + 1 >= words.size()) {
                throw UsageError("选项 " + name + " 需要一个值。");
            }
            value = words[++i];
        } else if (!option->takesValue && value) {
            throw UsageError("选项 " + name + " 不带值。");
        }
        given |= option->bit;
        apply(invocation, option->bit, value.value_or(""));
    }

    if (invocation.version) {
        return invocation;
    }
    if (positional.empty()) {
        if (invocation.help || words.empty()) {
            invocation.help = true;
            return invocation;
        }
        throw UsageError("缺少命令。");
    }
    invocation.command = positional.front();
    invocation.arguments.assign(positional.begin() + 1, positional.end());
    const CommandSpec* spec = findCommand(invocation.command);
    if (spec == nullptr) {
        throw UsageError("未知命令：" + invocation.command);
    }
    if (invocation.help) {
        return invocation;
    }
    for (const auto& option : kOptions) {
        if ((given & option.bit) != 0 && option.bit != kJson && (spec->options & option.bit) == 0) {
            throw UsageError(std::string("命令 ") + spec->name + " 不接受选项 " + option.name + "。");
        }
    }
    const int count = static_cast<int>(invocation.arguments.size());
    if (count < spec->minArguments) {
        throw UsageError("参数不足。用法：" + usageLine(*spec));
    }
    if (spec->maxArguments >= 0 && count > spec->maxArguments) {
        throw UsageError("参数过多。用法：" + usageLine(*spec));
    }
    return invocation;
}

std::string helpText(const std::string& command) {
    if (const CommandSpec* spec = findCommand(command)) {
        return "用法：" + usageLine(*spec) + " [--json]\n" + spec->summary + "。\n";
    }
    std::string text = "olvex：魔兽世界本地插件、整合包和 WTF 配置的命令行管理工具。\n\n"
                       "用法：olvex 命令 [参数…] [--json]\n\n命令：\n";
    for (const auto& spec : commandTable()) {
        text += "  " + usageLine(spec) + "\n      " + spec.summary + "\n";
    }
    text += "\n"
            "目录是一个版本目录（如 …/World of Warcraft/_retail_）；备份写备份编号，开头几位能唯一确定即可。\n"
            "--json      以 JSON 输出列表和结果（UTF-8，字段名为英文，时间为 ISO 8601 UTC）。\n"
            "--version   显示版本号。\n"
            "会改动版本目录的命令在魔兽世界运行时拒绝执行。按 Ctrl-C 可在提交之前取消操作。\n"
            "恢复日志（.olvex-manager/active.json）损坏时，核对插件和 WTF 目录后运行\n"
            "  olvex recover 目录 --set-aside-journal\n"
            "经确认（或加 --yes）把它改名为 active.json.damaged-日期 留在原处，不会删除。\n"
            "整合包、.toc 和文件夹名中的控制字符在输出中以转义形式显示（如 \\u001b）。\n"
            "退出状态：0 成功，1 失败，2 用法错误，130 已取消。\n"
            "\n"
            "环境变量（供测试和脚本使用）：\n"
            "  OLVEX_DEFAULT_ROOTS  以冒号分隔的目录，代替默认扫描位置；设为空则不扫描默认位置。\n"
            "  OLVEX_PROC_ROOT      检测游戏进程时读取的 proc 目录（默认 /proc）。\n";
    return text;
}

} // namespace olvex::cli
