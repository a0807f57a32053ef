#pragma once

// The grammar of the olvex command line, declared once as data: every option below and every
// command row (beside its body, in the *Commands.cpp files) is read by the parser, the help,
// the manual page and the bash completion alike, so none of them can accept or show what the
// others do not. Parsing only looks at the words; it never touches the disk or the service.

#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace olvex::cli {

// A parsed command line. `command` is empty when only help or the version was asked for.
// Each option fills the field its declaration names.
struct Invocation {
    std::string command;
    std::vector<std::string> arguments;
    bool json = false;
    bool yes = false;
    bool noDefaultRoots = false;
    bool setAsideJournal = false;
    bool help = false;
    bool version = false;
    std::optional<std::string> search;
    std::optional<std::string> scope;
};

// Where an option may stand: alone (it answers without a command and is only recognised as
// the exact word), with every command, or only with the commands that list it.
enum class Reach { kAlone, kEveryCommand, kListedCommands };

struct OptionSpec {
    const char* name;
    // A second spelling ("-h"), or null.
    const char* shortName;
    // The value's name in the usage lines ("文字"), or null for an option without a value.
    const char* argument;
    // One sentence for the help or the manual page, or null where the option's command
    // explains it (`--help`, whose listed form is `olvex help`).
    const char* help;
    Reach reach;
    std::variant<bool Invocation::*, std::optional<std::string> Invocation::*> field;
};

namespace option {
inline constexpr OptionSpec help{"--help", "-h", nullptr, nullptr, Reach::kAlone, &Invocation::help};
inline constexpr OptionSpec version{"--version", nullptr, nullptr, "显示版本号。", Reach::kAlone, &Invocation::version};
inline constexpr OptionSpec json{"--json",
                                 nullptr,
                                 nullptr,
                                 "以 JSON 输出列表和结果（UTF-8，字段名为英文，时间为 ISO 8601 UTC）。",
                                 Reach::kEveryCommand,
                                 &Invocation::json};
inline constexpr OptionSpec yes{
    "--yes", nullptr, nullptr, "不再询问，直接执行（请先核对预览或说明）。", Reach::kListedCommands, &Invocation::yes};
inline constexpr OptionSpec search{
    "--search",         nullptr, "文字", "只列出名称、文件夹或作者含有这段文字的插件。", Reach::kListedCommands,
    &Invocation::search};
inline constexpr OptionSpec scope{"--scope",
                                  nullptr,
                                  "路径",
                                  "只恢复备份中的这个账号、服务器或角色目录（路径见 scopes）。",
                                  Reach::kListedCommands,
                                  &Invocation::scope};
inline constexpr OptionSpec noDefaultRoots{
    "--no-default-roots",       nullptr, nullptr, "不扫描默认位置，只扫描给出的目录。", Reach::kListedCommands,
    &Invocation::noDefaultRoots};
inline constexpr OptionSpec setAsideJournal{"--set-aside-journal",
                                            nullptr,
                                            nullptr,
                                            "经确认后把损坏的恢复日志改名移到一旁（不删除）。",
                                            Reach::kListedCommands,
                                            &Invocation::setAsideJournal};

// Every option, in the order the help lists them and the parser checks them.
inline constexpr const OptionSpec* all[] = {&json,   &version, &help,           &yes,
                                            &search, &scope,   &noDefaultRoots, &setAsideJournal};
} // namespace option

// A positional argument: its name in the usage lines and how often it may be given.
struct ArgumentSpec {
    enum Count { kOne, kOptional, kAnyNumber };
    const char* name;
    Count count = kOne;
};

// An option a command accepts; `within` names the option it only makes sense with, and the
// usage line nests it there ("[--set-aside-journal [--yes]]").
struct OptionUse {
    const OptionSpec* option;
    const OptionSpec* within = nullptr;
};

// What a command body is given: the parsed line, the service session and the environment.
struct Context;

// One command: its name, arguments, the options it accepts besides those of every command,
// one line of help, and the body that runs it (returning the exit status).
struct CommandSpec {
    const char* name;
    std::vector<ArgumentSpec> arguments;
    std::vector<OptionUse> options;
    const char* summary;
    int (*run)(const Context&);

    int minArguments() const;
    // -1: any number.
    int maxArguments() const;
};

// Every command in the order of the help: the rows of each area's file, then "help".
const std::vector<CommandSpec>& commandTable();
// The table's row for a command name, or null.
const CommandSpec* findCommand(const std::string& name);

// "olvex install 目录 ZIP [--yes]": the command with its arguments and own options.
std::string usageLine(const CommandSpec& spec);
// " [--json]": the options every command accepts, as they follow a usage line.
std::string everyCommandOptions();

// Wrong use of the command line (exit status 2); what() is the Chinese explanation.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses argv[1...]. Options may stand before or after the command and its arguments, as
// "--name VALUE" or "--name=VALUE"; "--" ends the options. Throws UsageError.
Invocation parseCommandLine(const std::vector<std::string>& words);

} // namespace olvex::cli
