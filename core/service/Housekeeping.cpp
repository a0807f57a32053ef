// The installation check run before a pack installation, and the clean-up of preview staging
// folders that a crash or a forced quit left in the temporary folder.

#include <algorithm>
#include <array>
#include <dirent.h>
#include <unistd.h>

#include "base/Errors.h"
#include "base/Text.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"
#include "packs/Staging.h"
#include "service/ManagerService.h"

namespace olvex {

namespace {

const char* const kNoApplication =
    "版本目录中未找到完整游戏应用（.app/Contents/MacOS）。请在战网中修复安装或重新选择目录。";

bool hasExtension(const std::string& name, std::string_view extension) {
    size_t dot = name.rfind('.');
    return dot != std::string::npos && dot != 0 && std::string_view(name).substr(dot + 1) == extension;
}

// A bundle qualifies when Contents/MacOS is a real folder holding at least one entry that is
// executable for this user and not a folder.
bool isGameBundle(const Path& bundle) {
    const Path executables = bundle / "Contents/MacOS";
    FileSafety::checkPath(executables);
    if (!FileSafety::isDirectory(executables)) {
        return false;
    }
    for (const auto& entry : FileSafety::list(executables)) {
        const Path path = executables / entry.name;
        if (entry.type != DT_DIR && sys::access(path.c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

#ifndef __APPLE__
// Players on Linux run the Windows client under Wine: its program files sit directly in the
// version folder and need no executable bit.
bool isWindowsGameProgram(const sys::DirEntry& entry) {
    static constexpr std::array<std::string_view, 6> names{"Wow.exe",        "WowT.exe",        "WowB.exe",
                                                           "WowClassic.exe", "WowClassicT.exe", "WowClassicB.exe"};
    if (entry.type != DT_REG) {
        return false;
    }
    return std::any_of(names.begin(), names.end(),
                       [&](std::string_view name) { return text::equalIgnoringCase(entry.name, name); });
}
#endif

} // namespace

InstallationCheck ManagerService::installationCheck(const GameClient& client, std::int64_t incomingBytes) {
    checkClient(client);
    const std::vector<sys::DirEntry> entries = FileSafety::list(client.url());
    std::optional<Path> application;
    for (const auto& entry : entries) {
        if (hasExtension(entry.name, "app") && isGameBundle(client.url() / entry.name)) {
            application = client.url() / entry.name;
            break;
        }
    }
#ifndef __APPLE__
    if (!application) {
        for (const auto& entry : entries) {
            if (isWindowsGameProgram(entry)) {
                application = client.url() / entry.name;
                break;
            }
        }
    }
#endif
    if (!application) {
        throw ManagerError(kNoApplication);
    }
    const std::int64_t current = FileSafety::byteSize(targetFolder(BackupKind::addons, client));
    // The incoming add-ons, a backup of the current folder and its new copy, plus the margin.
    const std::int64_t required = incomingBytes + 2 * current + kMargin;
    const std::int64_t available = requireSpace(client, required);
    return InstallationCheck{available, required, *application};
}

TemporaryCleanup ManagerService::cleanupTemporaryFiles(Date olderThan) {
    const Path folder = resolvedTemporaryFolder(m_temporaryFolder);
    TemporaryCleanup result;
    for (const auto& entry : FileSafety::list(folder)) {
        if (!isStagingName(entry.name)) {
            continue;
        }
        const Path staging = folder / entry.name;
        struct ::stat st {};
        if (sys::lstat(staging.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            continue;
        }
        if (!(FileSafety::modificationDate(st) < olderThan)) {
            continue;
        }
        // Only a folder with a lease file is a staging folder; and a lease that cannot be taken
        // belongs to a preview still retained, here or in another running copy. A lease file
        // that is no file (a link, a pipe) or cannot be locked is named: the folder stays.
        std::optional<ClientLock> lease;
        try {
            const Path lockFile = stagingLease(staging) / "operation.lock";
            FileSafety::checkPath(lockFile);
            if (!FileSafety::exists(lockFile)) {
                continue;
            }
            lease.emplace(stagingLease(staging));
        } catch (const LeaseHeldError&) {
            continue;
        } catch (const std::exception& failure) {
            result.skipped.push_back({staging, describe(failure)});
            continue;
        }
        // One folder that cannot be cleaned (a permission) must not keep every other stale
        // folder on the disk for ever. What an unpacked pack may hold that is neither folder nor
        // file (a link, a pipe) is removed itself, never followed.
        try {
            const std::int64_t size = FileSafety::regularFileBytes(staging);
            removeStagingFolder(staging, [&] { lease.reset(); });
            result.removedBytes += size;
            ++result.removedFolders;
        } catch (const std::exception& failure) {
            result.skipped.push_back({staging, describe(failure)});
        }
    }
    return result;
}

} // namespace olvex
