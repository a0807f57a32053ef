#pragma once

// The grammar of the olvex command line: the command table, option parsing and the Chinese
// help texts. Parsing only looks at the words; it never touches the disk or the service. The
// table itself lives beside the command bodies (Commands.cpp), one row per command.

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace olvex::cli {

// Options a command may accept, as bits of CommandSpec::options.
enum Option : unsigned {
    kJson = 1u << 0,
    kYes = 1u << 1,
    kSearch = 1u << 2,
    kScope = 1u << 3,
    kNoDefaultRoots = 1u << 4,
    kSetAsideJournal = 1u << 5,
};

// What a command body is given: the parsed line, the service session and the environment.
struct Context;

// One command of the table: its name, its argument names for the help, how many positional
// arguments it takes (maxArguments < 0: any number), which options besides --json, and the
// body that runs it (returning the exit status).
struct CommandSpec {
    const char* name;
    const char* arguments;
    const char* summary;
    int minArguments;
    int maxArguments;
    unsigned options;
    int (*run)(const Context&);
};

const std::vector<CommandSpec>& commandTable();
// The table's row for a command name, or null.
const CommandSpec* findCommand(const std::string& name);

// A parsed command line. `command` is empty when only help or the version was asked for.
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

// Wrong use of the command line (exit status 2); what() is the Chinese explanation.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses argv[1...]. Options may stand before or after the command and its arguments, as
// "--name VALUE" or "--name=VALUE"; "--" ends the options. Throws UsageError.
Invocation parseCommandLine(const std::vector<std::string>& words);

// The general help, or one command's help when `command` names a command of the table.
std::string helpText(const std::string& command = {});

} // namespace olvex::cli
