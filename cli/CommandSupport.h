#pragma once

// What the command bodies share: reading their arguments, the game-closed check, the
// confirmation question and printing results and lists.

#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "Output.h"

namespace olvex::cli {

struct Context {
    const Invocation& invocation;
    Session& session;
    InterruptWatcher& interrupts;
    const Environment& environment;

    const std::string& argument(size_t index) const { return invocation.arguments.at(index); }
};

// The absolute form of a path argument, "." components and trailing slashes dropped. ".." is
// kept: the core refuses it rather than the command line guessing what it meant.
Path absolutePath(const std::string& word);

// The version folder named by an argument. Only its existence is checked here; whether it is
// a version folder is the service's check.
GameClient clientArgument(const Context& context, size_t index);

// The backup whose id starts with the argument (letter case ignored); it must be the only one.
LocalBackup backupArgument(const Context& context, const GameClient& client, size_t index);

int countArgument(const std::string& word);

// The same refusal as the window's: no program that counts as the game may run, whether it
// runs from this version folder, from any version folder the default roots hold, or by name.
void requireGameClosed(const Context& context, const GameClient& client);

// Asks on standard error and reads one line from standard input; Ctrl-C ends the wait.
bool confirmed(const Context& context, const std::string& question);

// Prints a result: the message alone for people, or the fields plus "message" for scripts.
int finish(const Context& context, const std::string& message, Json fields = Json::object());

// Text read from a pack, a .toc file or a folder name, made safe to print on a terminal: its
// control characters are shown escaped instead of moving the cursor or clearing the screen.
std::string shown(const std::string& text);
std::string shown(const Path& path);
std::string joined(const std::vector<std::string>& items);

// What a listing request of the service answers for the version folder named first.
template <typename Request> auto listedFor(const Context& context, Request request) {
    const GameClient client = clientArgument(context, 0);
    return context.session.read([client, request](ManagerService& s) { return (s.*request)(client); });
}

// Prints a list: one JSON array for scripts; for people each item as `print` shows it, then
// the count ("共 N" and `unit`).
template <typename Item, typename Print>
int printList(const Context& context, const std::vector<Item>& list, Print print, const char* unit) {
    if (context.invocation.json) {
        printJsonArray(list);
        return 0;
    }
    for (const auto& item : list) {
        print(item);
    }
    std::cout << "共 " << list.size() << unit << '\n';
    return 0;
}

} // namespace olvex::cli
