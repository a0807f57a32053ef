#include "discovery/RunningGame.h"

#include "base/Errors.h"
#include "base/Text.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"

namespace olvex {

namespace {

// Reads a small /proc file whole (they report a size of 0, so read until the end). A process
// may end at any moment: what cannot be opened is nothing, what fails part-way is what came.
std::optional<std::string> readSmall(const Path& path) {
    FileSafety::OpenedFile file;
    try {
        if (!FileSafety::openRegularFile(path.native(), file, SystemOperation::open, SystemOperation::examine)) {
            return std::nullopt;
        }
    } catch (const ManagerError&) {
        return std::nullopt;
    } catch (const SystemError&) {
        return std::nullopt;
    }
    std::string data;
    sys::readUpTo(file.descriptor.get(), 65'536, data);
    return data;
}

// The last component of a Unix or Windows path ("C:\\Games\\Wow.exe" → "Wow.exe").
std::string lastComponent(const std::string& path) {
    auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isWineLoader(const std::string& executableName) {
    return executableName.rfind("wine", 0) == 0; // wine, wine64, wine-preloader, wine64-preloader
}

std::string executableName(const RunningApplication& application) {
    if (!application.executableURL) {
        return {};
    }
    std::string name = text::lowercased(lastComponent(application.executableURL->native()));
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) {
        name.resize(name.size() - 4);
    }
    return name;
}

} // namespace

std::vector<RunningApplication> runningApplications(const Path& procRoot) {
    std::vector<RunningApplication> applications;
    std::vector<sys::DirEntry> entries;
    if (sys::listDirectory(procRoot.c_str(), entries) != 0) {
        return applications;
    }
    for (const auto& entry : entries) {
        if (entry.name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        Path process = procRoot / entry.name;
        RunningApplication application;
        std::string target;
        if (sys::readlink((process / "exe").c_str(), target)) {
            application.executableURL = Path(target);
        }
        if (auto comm = readSmall(process / "comm")) {
            while (!comm->empty() && comm->back() == '\n') {
                comm->pop_back();
            }
            application.localizedName = *comm;
        }
        auto cmdline = readSmall(process / "cmdline");
        std::string argv0 = cmdline ? std::string(cmdline->c_str()) : std::string();
        std::string loader = application.executableURL ? lastComponent(application.executableURL->native()) : "";
        // Under Wine the kernel sees the loader; the Windows program is named on the command
        // line (or, for the preloader, in comm).
        if ((application.executableURL == std::nullopt || isWineLoader(loader)) && !argv0.empty()) {
            application.executableURL = Path(argv0);
        }
        if (!application.executableURL && !application.localizedName) {
            continue;
        }
        if (application.executableURL) {
            application.bundleURL = application.executableURL->parent_path();
        }
        applications.push_back(std::move(application));
    }
    return applications;
}

bool countsAsGame(const RunningApplication& application, const std::vector<GameClient>& clients) {
    if (application.bundleURL) {
        const std::string& bundle = application.bundleURL->native();
        for (const auto& client : clients) {
            if (bundle.rfind(client.id() + "/", 0) == 0 || bundle == client.id()) {
                return true;
            }
        }
    }
    std::string executable = executableName(application);
    static const char* const names[] = {"wow", "wowclassic", "wowclassicb", "wowclassict", "wowb", "wowt"};
    for (const char* name : names) {
        if (executable == name) {
            return true;
        }
    }
    std::string description = application.localizedName.value_or("") + " " + executable;
    return text::lowercased(description).find("warcraft") != std::string::npos ||
           description.find("魔兽世界") != std::string::npos;
}

void requireGameNotRunning(const std::vector<RunningApplication>& applications,
                           const std::vector<GameClient>& clients) {
    for (const auto& application : applications) {
        if (countsAsGame(application, clients)) {
            throw ManagerError("检测到魔兽世界仍在运行，请完全退出游戏。");
        }
    }
}

} // namespace olvex
