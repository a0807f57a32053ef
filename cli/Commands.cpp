#include "Commands.h"

#include <cstdlib>
#include <sstream>

#include "CommandSupport.h"

namespace olvex::cli {

namespace {

// A ":"-separated list of folders; nothing when the variable is unset.
std::optional<std::vector<Path>> folderList(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr) {
        return std::nullopt;
    }
    std::vector<Path> folders;
    std::istringstream list(value);
    for (std::string folder; std::getline(list, folder, ':');) {
        if (!folder.empty()) {
            folders.emplace_back(folder);
        }
    }
    return folders;
}

} // namespace

Environment Environment::fromProcess() {
    Environment environment;
    environment.user = UserEnvironment::fromProcess();
    if (auto mounts = folderList(kMountRootsVariable)) {
        environment.user.mountRoots = std::move(*mounts);
    }
    environment.defaultRoots = folderList(kDefaultRootsVariable);
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
        for (auto area : {folderCommands, packCommands, backupCommands, settingsCommands, recoveryCommands}) {
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
