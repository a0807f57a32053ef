#include "CommandSupport.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <poll.h>
#include <unistd.h>

#include "base/Errors.h"
#include "base/Text.h"
#include "discovery/GameScanner.h"
#include "discovery/RunningGame.h"

namespace olvex::cli {

Path absolutePath(const std::string& word) {
    if (word.empty()) {
        throw UsageError("路径参数不能为空。");
    }
    Path path(word);
    if (path.is_relative()) {
        std::error_code error;
        Path current = std::filesystem::current_path(error);
        if (error) {
            throw ManagerError("无法确定当前目录。");
        }
        path = current / path;
    }
    Path result;
    for (const auto& part : path) {
        if (!part.empty() && part != ".") {
            result /= part;
        }
    }
    return result;
}

GameClient clientArgument(const Context& context, size_t index) {
    const std::string& word = context.argument(index);
    const Path path = absolutePath(word);
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::not_found) {
        throw ManagerError("找不到目录“" + word + "”。");
    }
    return GameClient(path);
}

LocalBackup backupArgument(const Context& context, const GameClient& client, size_t index) {
    std::string prefix = context.argument(index);
    if (prefix.empty()) {
        throw UsageError("备份编号不能为空。");
    }
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const auto backups = context.session.read([client](ManagerService& s) { return s.backups(client); });
    std::vector<LocalBackup> matches;
    for (const auto& backup : backups) {
        if (backup.id.text().rfind(prefix, 0) == 0) {
            matches.push_back(backup);
        }
    }
    if (matches.empty()) {
        throw ManagerError("找不到编号以“" + context.argument(index) + "”开头的备份。");
    }
    if (matches.size() > 1) {
        throw ManagerError("有 " + std::to_string(matches.size()) + " 份备份的编号以“" + context.argument(index) +
                           "”开头，请多写几位。");
    }
    return matches.front();
}

int countArgument(const std::string& word) {
    int count = 0;
    const char* end = word.data() + word.size();
    auto [stop, error] = std::from_chars(word.data(), end, count);
    if (error != std::errc() || stop != end) {
        throw UsageError("份数必须是整数：" + word);
    }
    return count;
}

ScanReport scanned(const Context& context, bool defaults, const std::vector<Path>& given) {
    if (!defaults) {
        return GameScanner::scanReport(given);
    }
    if (const auto& plain = context.environment.defaultRoots) {
        std::vector<Path> roots = *plain;
        roots.insert(roots.end(), given.begin(), given.end());
        return GameScanner::scanReport(roots);
    }
    return GameScanner::scanDefaultPlaces(context.environment.user, given);
}

void requireGameClosed(const Context& context, const GameClient& client) {
    std::vector<GameClient> clients = scanned(context, true, {}).clients;
    clients.push_back(client);
    requireGameNotRunning(runningApplications(context.environment.procRoot), clients);
}

bool confirmed(const Context& context, const std::string& question) {
    std::cerr << question << std::flush;
    std::string line;
    for (;;) {
        pollfd descriptors[2] = {{STDIN_FILENO, POLLIN, 0}, {context.interrupts.notificationDescriptor(), POLLIN, 0}};
        if (::poll(descriptors, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (context.interrupts.interrupted()) {
            std::cerr << '\n';
            throw CancellationError();
        }
        char byte = 0;
        ssize_t n = ::read(STDIN_FILENO, &byte, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || byte == '\n') {
            break;
        }
        line += byte;
    }
    line = text::trimmed(line);
    return line == "y" || line == "Y" || line == "yes" || line == "是";
}

int finish(const Context& context, const std::string& message, Json fields) {
    if (context.invocation.json) {
        fields["message"] = message;
        printJson(fields);
    } else {
        std::cout << message << '\n';
    }
    return 0;
}

std::string shown(const std::string& text) {
    return text::visible(text);
}

std::string shown(const Path& path) {
    return text::visible(path.native());
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) {
        text += (text.empty() ? "" : "、") + shown(item);
    }
    return text;
}

} // namespace olvex::cli
