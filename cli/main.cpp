// olvex: the command-line front end over the same serialised service as the window.
// Exit status: 0 success, 1 failure (the core's message on standard error), 2 wrong usage,
// 130 cancelled by Ctrl-C before the operation committed.

#include <iostream>

#include "CommandLine.h"
#include "Commands.h"
#include "Help.h"
#include "Interrupt.h"
#include "OlvexVersion.h"
#include "Session.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "service/ManagerService.h"
#include "service/Outcomes.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsage = 2;
constexpr int kCancelled = 130;

int usageFailure(const std::string& message) {
    std::cerr << "用法错误：" << message << "\n运行“olvex help”查看用法。\n";
    return kUsage;
}

} // namespace

int main(int argc, char** argv) {
    using namespace olvex::cli;
    const std::vector<std::string> words(argv + 1, argv + argc);
    Invocation invocation;
    try {
        invocation = parseCommandLine(words);
    } catch (const UsageError& failure) {
        return usageFailure(failure.what());
    }
    if (invocation.version) {
        std::cout << "olvex " << olvex::kVersion << '\n';
        return 0;
    }
    if (words.empty()) {
        std::cerr << helpText();
        return kUsage;
    }
    if (invocation.help || invocation.command == "help") {
        const std::string topic = invocation.command == "help" && !invocation.arguments.empty()
                                      ? invocation.arguments.front()
                                  : invocation.command == "help" ? std::string()
                                                                 : invocation.command;
        if (!topic.empty() && findCommand(topic) == nullptr) {
            return usageFailure("未知命令：" + topic);
        }
        std::cout << helpText(topic);
        return 0;
    }

    const Environment environment = Environment::fromProcess();
    InterruptWatcher interrupts;
    Session session(interrupts);
    return session.finish([&] {
        try {
            return runCommand(invocation, session, interrupts, environment);
        } catch (const UsageError& failure) {
            return usageFailure(failure.what());
        } catch (const olvex::CancellationError&) {
            std::cerr << olvex::outcome::kCancelled << '\n';
            return kCancelled;
        } catch (const olvex::DamagedJournalError& failure) {
            std::cerr << olvex::text::visible(failure.message()) << '\n'
                      << "核对后可运行“olvex recover 目录 --set-aside-journal”把它改名移到一旁（不会删除）。\n";
            return kFailure;
        } catch (const std::exception& failure) {
            // Messages quote names from packs, .toc files and folders: never raw to the terminal.
            std::cerr << olvex::text::visible(olvex::describe(failure)) << '\n';
            return kFailure;
        }
    }());
}
