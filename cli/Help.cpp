#include "Help.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"

namespace olvex::cli {

namespace {

// The general help as a document, so that the terminal's text and the manual page's roff are
// two renderings of one source.
struct Block {
    enum Kind {
        kTitle,   // the first line: "olvex：what it is。"
        kBlank,   // an empty line between parts (nothing on the page)
        kUsage,   // the synopsis
        kSection, // a titled part: "命令：" (".SH 命令" on the page)
        kNotes,   // where the untitled notes begin (no line of its own; ".SH 说明" on the page)
        kCommand, // a command's usage line with its summary below it
        kTerms,   // aligned "term  text" rows (options, environment variables)
        kNote,    // a paragraph
        kExample, // an indented command to type
    };
    using Terms = std::vector<std::pair<std::string, std::string>>;

    Block(Kind kind_, std::string text_ = {}) : kind(kind_), text(std::move(text_)) {}
    explicit Block(const CommandSpec& spec) : kind(kCommand), command(&spec) {}
    Block(Terms terms_, size_t indent_, size_t gap_)
        : kind(kTerms), terms(std::move(terms_)), indent(indent_), gap(gap_) {}

    Kind kind;
    std::string text;
    const CommandSpec* command = nullptr;
    Terms terms;
    size_t indent = 0;
    size_t gap = 0;
};

std::vector<Block> generalHelp() {
    std::vector<Block> blocks{
        {Block::kTitle, "olvex：魔兽世界本地插件、整合包和 WTF 配置的命令行管理工具。"},
        {Block::kBlank},
        {Block::kUsage, "olvex 命令 [参数…]" + everyCommandOptions()},
        {Block::kBlank},
        {Block::kSection, "命令"},
    };
    for (const auto& spec : commandTable()) {
        blocks.emplace_back(spec);
    }
    Block::Terms options;
    for (const OptionSpec* option : option::all) {
        if (option->reach != Reach::kListedCommands && option->help != nullptr) {
            options.emplace_back(option->name, option->help);
        }
    }
    const std::string yes = option::yes.name;
    const Block::Terms environment{
        {kDefaultRootsVariable, "以冒号分隔的目录，代替默认扫描位置；设为空则不扫描默认位置。"},
        {kProcRootVariable, "检测游戏进程时读取的 proc 目录（默认 /proc）。"},
    };
    blocks.insert(
        blocks.end(),
        {
            {Block::kBlank},
            {Block::kNotes},
            {Block::kNote,
             "目录是一个版本目录（如 …/World of Warcraft/_retail_）；备份写备份编号，开头几位能唯一确定即可。"},
            {options, 0, 3},
            {Block::kNote, "会改动版本目录的命令在魔兽世界运行时拒绝执行。按 Ctrl-C 可在提交之前取消操作。"},
            {Block::kNote, "恢复日志（.olvex-manager/active.json）损坏时，核对插件和 WTF 目录后运行"},
            {Block::kExample, std::string("olvex recover 目录 ") + option::setAsideJournal.name},
            {Block::kNote, "经确认（或加 " + yes + "）把它改名为 active.json.damaged-日期 留在原处，不会删除。"},
            {Block::kNote, "整合包、.toc 和文件夹名中的控制字符在输出中以转义形式显示（如 \\u001b）。"},
            {Block::kNote, "退出状态：0 成功，1 失败，2 用法错误，130 已取消。"},
            {Block::kBlank},
            {Block::kSection, "环境变量（供测试和脚本使用）"},
            {environment, 2, 2},
        });
    return blocks;
}

std::string asText(const std::vector<Block>& blocks) {
    std::string text;
    for (const auto& block : blocks) {
        switch (block.kind) {
        case Block::kTitle:
        case Block::kNote:
            text += block.text + "\n";
            break;
        case Block::kBlank:
            text += "\n";
            break;
        case Block::kUsage:
            text += "用法：" + block.text + "\n";
            break;
        case Block::kSection:
            text += block.text + "：\n";
            break;
        case Block::kNotes:
            break;
        case Block::kCommand:
            text += "  " + usageLine(*block.command) + "\n      " + block.command->summary + "\n";
            break;
        case Block::kTerms: {
            size_t width = 0;
            for (const auto& [term, meaning] : block.terms) {
                width = std::max(width, term.size());
            }
            for (const auto& [term, meaning] : block.terms) {
                text += std::string(block.indent, ' ') + term + std::string(width - term.size() + block.gap, ' ') +
                        meaning + "\n";
            }
            break;
        }
        case Block::kExample:
            text += "  " + block.text + "\n";
            break;
        }
    }
    return text;
}

// Text as roff reads it literally: backslashes and hyphens escaped, no request at a line start.
std::string roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c == '\\' ? std::string("\\e") : c == '-' ? std::string("\\-") : std::string(1, c);
    }
    if (!out.empty() && (out.front() == '.' || out.front() == '\'')) {
        out.insert(0, "\\&");
    }
    return out;
}

std::string tagged(const std::string& term, const std::string& text) {
    return ".TP\n.B " + roff(term) + "\n" + roff(text) + "\n";
}

std::string withoutEnd(std::string text, const std::string& end) {
    if (text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0) {
        text.erase(text.size() - end.size());
    }
    return text;
}

// The options a command lists itself, each with its sentence, indented below the command.
std::string commandOptions(const CommandSpec& spec) {
    std::string page;
    for (const auto& use : spec.options) {
        const OptionSpec& option = *use.option;
        page += tagged(option.argument == nullptr ? option.name : std::string(option.name) + " " + option.argument,
                       option.help == nullptr ? "" : option.help);
    }
    return page.empty() ? page : ".RS\n" + page + ".RE\n";
}

} // namespace

std::string helpText(const std::string& command) {
    if (const CommandSpec* spec = findCommand(command)) {
        return "用法：" + usageLine(*spec) + everyCommandOptions() + "\n" + spec->summary + "。\n";
    }
    return asText(generalHelp());
}

std::string manualPage(const std::string& version) {
    std::string page;
    for (const auto& block : generalHelp()) {
        switch (block.kind) {
        case Block::kTitle: {
            const std::string separator = "：";
            const size_t split = block.text.find(separator);
            page += ".TH OLVEX 1 \"\" \"olvex " + version + "\" \"用户命令\"\n";
            // Chinese text has no spaces to stretch or words to hyphenate: ragged right, no hyphens.
            page += ".ad l\n.nh\n.SH 名称\n" + roff(block.text.substr(0, split)) + " \\- " +
                    roff(withoutEnd(block.text.substr(split + separator.size()), "。")) + "\n";
            break;
        }
        case Block::kBlank:
            break;
        case Block::kUsage:
            page += ".SH 概要\n" + roff(block.text) + "\n";
            break;
        case Block::kSection:
            page += ".SH " + roff(block.text) + "\n";
            break;
        case Block::kNotes:
            page += ".SH 说明\n";
            break;
        case Block::kCommand:
            page += tagged(usageLine(*block.command), block.command->summary) + commandOptions(*block.command);
            break;
        case Block::kTerms:
            for (const auto& [term, meaning] : block.terms) {
                page += tagged(term, meaning);
            }
            break;
        case Block::kNote:
            page += ".PP\n" + roff(block.text) + "\n";
            break;
        case Block::kExample:
            page += ".TP\n.B " + roff(block.text) + "\n";
            break;
        }
    }
    return page;
}

std::string bashCompletion() {
    auto words = [](const std::vector<std::string>& list) {
        std::string text;
        for (const auto& word : list) {
            text += (text.empty() ? "" : " ") + word;
        }
        return text;
    };
    std::vector<std::string> commands;
    std::vector<std::string> anyOption;
    std::vector<std::string> everyCommand;
    for (const OptionSpec* option : option::all) {
        anyOption.push_back(option->name);
        if (option->reach == Reach::kEveryCommand) {
            everyCommand.push_back(option->name);
        }
    }
    everyCommand.push_back(option::help.name);
    std::string cases = "        \"\") words=\"" + words(anyOption) + "\" ;;\n";
    for (const auto& spec : commandTable()) {
        commands.push_back(spec.name);
        std::vector<std::string> own;
        for (const auto& use : spec.options) {
            own.push_back(use.option->name);
        }
        own.insert(own.end(), everyCommand.begin(), everyCommand.end());
        cases += std::string("        ") + spec.name + ") words=\"" + words(own) + "\" ;;\n";
    }
    cases += "        *) words=\"" + words(everyCommand) + "\" ;;\n";
    return "# bash completion for olvex, written at build time from the program's own declaration of its\n"
           "# commands and options; arguments are completed as file names (folders, ZIPs, backups).\n"
           "_olvex() {\n"
           "    local current=${COMP_WORDS[COMP_CWORD]} command=\"\" words i\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        if [[ ${COMP_WORDS[i]} != -* ]]; then\n"
           "            command=${COMP_WORDS[i]}\n"
           "            break\n"
           "        fi\n"
           "    done\n"
           "    if [[ $current == -* ]]; then\n"
           "        case $command in\n" +
           cases +
           "        esac\n"
           "        mapfile -t COMPREPLY < <(compgen -W \"$words\" -- \"$current\")\n"
           "    elif [[ -z $command ]]; then\n"
           "        mapfile -t COMPREPLY < <(compgen -W \"" +
           words(commands) +
           "\" -- \"$current\")\n"
           "    else\n"
           "        compopt -o filenames\n"
           "        mapfile -t COMPREPLY < <(compgen -f -- \"$current\")\n"
           "    fi\n"
           "}\n"
           "complete -F _olvex olvex\n";
}

} // namespace olvex::cli
