#include "Commands.h"

#include <cstdlib>
#include <sstream>

#include "CommandSupport.h"
#include "discovery/GameScanner.h"

namespace olvex::cli {

Environment Environment::fromProcess() {
    Environment environment;
    if (const char* roots = std::getenv(kDefaultRootsVariable)) {
        std::istringstream list(roots);
        for (std::string root; std::getline(list, root, ':');) {
            if (!root.empty()) {
                environment.defaultRoots.emplace_back(root);
            }
        }
    } else {
        environment.defaultRoots = GameScanner::defaultRoots();
    }
    if (const char* proc = std::getenv(kProcRootVariable); proc != nullptr && *proc != '\0') {
        environment.procRoot = proc;
    }
    return environment;
}

// The one table of commands: the parser's grammar, the help's usage lines and each command's
// body. "help" has no body here: main answers it before any service exists.
const std::vector<CommandSpec>& commandTable() {
    static const std::vector<CommandSpec> table = [] {
        std::vector<CommandSpec> rows;
        for (auto area : {folderCommands, packCommands, backupCommands, recoveryCommands}) {
            auto part = area();
            rows.insert(rows.end(), part.begin(), part.end());
        }
        rows.push_back({"help", {{"命令", ArgumentSpec::kOptional}}, {}, "显示帮助", nullptr});
        return rows;
    }();
    return table;
}

int runCommand(const Invocation& invocation, Session& session, InterruptWatcher& interrupts,
               const Environment& environment) {
    const Context context{invocation, session, interrupts, environment};
    return findCommand(invocation.command)->run(context);
}

} // namespace olvex::cli
