// Add-on settings: the health of every saved-variables file of WTF, the repair of damaged ones
// from the game's own `.lua.bak` or a WTF backup, and the restore of one add-on's settings from
// a backup. Both changes are WTF transactions (ServiceFrame.cpp): a WTF backup first, so the
// damaged or replaced files are kept too, and a crash is rolled back like any other.

#include <algorithm>
#include <set>

#include "base/Errors.h"
#include "fs/FileSafety.h"
#include "savedvars/WtfLayout.h"
#include "service/ManagerService.h"

namespace olvex {

namespace {

const char* const kNothingToRepair = "没有可修复的插件配置文件：损坏的文件都没有完好的副本。";
const char* const kRepairReason = "修复插件配置前自动备份";
const char* const kRestoreAddonReason = "恢复插件配置前自动备份";
const char* const kNotWtfBackup = "只能从 WTF 备份恢复插件配置。";

std::string notDamaged(const std::string& path) {
    return "“" + path + "”不是已损坏的插件配置文件，请重新检查。";
}
std::string noSource(const std::string& path) {
    return "“" + path + "”没有完好的副本（游戏的 .bak 或 WTF 备份），无法修复。";
}
std::string sourceChanged(const std::string& path) {
    return "“" + path + "”的修复来源已变化，不再完好，未做任何更改。请重新检查。";
}
std::string addonNotInBackup(const std::string& addon) {
    return "此备份中没有插件“" + addon + "”的配置。";
}

// "WTF/Account/…" → "Account/…".
std::string insideWtf(const std::string& relativePath) {
    return relativePath.substr(std::string("WTF/").size());
}

} // namespace

SavedVariablesVerdict ManagerService::cachedVerdict(const Path& file, std::int64_t& bytes) {
    FileSafety::OpenedFile opened;
    if (!FileSafety::openRegularFile(file.native(), opened, SystemOperation::open, SystemOperation::examine)) {
        throw SystemError(SystemOperation::open, file.native(), ENOENT);
    }
    bytes = opened.status.st_size;
    const Date modified = FileSafety::modificationDate(opened.status);
    const auto inode = static_cast<std::uint64_t>(opened.status.st_ino);
    const auto found = m_savedVariablesCache.find(file.native());
    if (found != m_savedVariablesCache.end() && found->second.size == bytes && found->second.modified == modified &&
        found->second.inode == inode) {
        if (m_control != nullptr) {
            m_control->addProgress(bytes);
        }
        return found->second.verdict;
    }
    const SavedVariablesVerdict verdict = checkSavedVariablesOpened(opened.descriptor.get(), file.native(), m_control);
    m_savedVariablesCache[file.native()] = {bytes, modified, inode, verdict};
    return verdict;
}

std::optional<SavedVariablesSource> ManagerService::repairSource(const GameClient& client,
                                                                 const std::string& relativeToWtf,
                                                                 std::vector<LocalBackup>& wtfBackups) {
    // Candidates are read without the request's progress. A missing one, a link or a special
    // file is no candidate; a failure to read one fails the request, since skipping it would
    // silently name an older copy, or none, as the source.
    OperationControl* const control = std::exchange(m_control, nullptr);
    struct Restore {
        ManagerService& service;
        OperationControl* control;
        ~Restore() { service.m_control = control; }
    } restore{*this, control};
    auto healthy = [&](const Path& file) -> std::optional<Date> {
        try {
            FileSafety::checkPath(file);
            FileSafety::OpenedFile opened;
            if (!FileSafety::openRegularFile(file.native(), opened, SystemOperation::open, SystemOperation::examine)) {
                return std::nullopt;
            }
            std::int64_t bytes = 0;
            if (cachedVerdict(file, bytes).state == SavedVariablesState::healthy) {
                return FileSafety::modificationDate(opened.status);
            }
        } catch (const ManagerError& refused) {
            // A link or special file in place of the copy: never followed, and no candidate.
            if (refused.message() != linkOrSpecialFile(file.native())) {
                throw;
            }
        }
        return std::nullopt;
    };
    const Path wtf = targetFolder(BackupKind::wtf, client);
    if (const auto date = healthy(wtf / (relativeToWtf + ".bak"))) {
        return SavedVariablesSource{std::nullopt, *date};
    }
    for (const auto& backup : wtfBackups) {
        if (healthy(backupFolder(client, backup.id) / "payload" / relativeToWtf)) {
            return SavedVariablesSource{backup, backup.date};
        }
    }
    return std::nullopt;
}

SavedVariablesHealth ManagerService::savedVariablesHealth(const GameClient& client, OperationControl* control) {
    ControlScope current(*this, control);
    checkClient(client);
    // A backup whose record cannot be read is left out of the sources shown, as the backup
    // list leaves it out; a repair lists strictly.
    return savedVariablesHealthUnlocked(client, false);
}

SavedVariablesHealth ManagerService::savedVariablesHealthUnlocked(const GameClient& client, bool strict) {
    const Path wtf = targetFolder(BackupKind::wtf, client);
    if (m_control != nullptr) {
        m_control->report(OperationStage::validating);
    }
    struct Found {
        const SavedVariablesFolder* folder;
        std::string name;
    };
    const std::vector<SavedVariablesFolder> folders = savedVariablesFolders(wtf);
    std::vector<Found> files;
    std::int64_t total = 0;
    for (const auto& folder : folders) {
        for (auto& name : savedVariablesFiles(wtf / folder.relativePath)) {
            if (m_control != nullptr) {
                total += FileSafety::byteSize(wtf / folder.relativePath / name);
            }
            files.push_back({&folder, std::move(name)});
        }
    }
    if (m_control != nullptr) {
        m_control->expectBytes(total);
    }

    SavedVariablesHealth health;
    std::set<std::string> seen;
    std::optional<std::vector<LocalBackup>> wtfBackups;
    for (const auto& file : files) {
        const std::string relativeToWtf = file.folder->relativePath + "/" + file.name;
        const Path path = wtf / relativeToWtf;
        std::int64_t bytes = 0;
        const SavedVariablesVerdict verdict = cachedVerdict(path, bytes);
        seen.insert(path.native());
        ++health.checkedFiles;
        health.checkedBytes += bytes;
        if (verdict.state == SavedVariablesState::healthy) {
            continue;
        }
        if (!wtfBackups) {
            wtfBackups.emplace();
            for (auto& backup : listBackups(client, strict)) {
                if (backup.kind == BackupKind::wtf) {
                    wtfBackups->push_back(std::move(backup));
                }
            }
        }
        health.damaged.push_back({"WTF/" + relativeToWtf, file.name.substr(0, file.name.size() - 4), file.folder->place,
                                  verdict, repairSource(client, relativeToWtf, *wtfBackups)});
    }
    // Forget the files of this folder that are gone, so the cache follows what exists.
    const std::string prefix = wtf.native() + "/";
    std::erase_if(m_savedVariablesCache, [&](const auto& entry) {
        return entry.first.starts_with(prefix) && !seen.contains(entry.first) && !entry.first.ends_with(".bak");
    });
    return health;
}

std::vector<DamagedSavedVariables> ManagerService::repairSavedVariables(const GameClient& client,
                                                                        const std::vector<std::string>& relativePaths,
                                                                        OperationControl* control) {
    ControlScope current(*this, control);
    return locked(client, [&] {
        // Checked again under the lease: only what is damaged now, from a source healthy now.
        const SavedVariablesHealth health = savedVariablesHealthUnlocked(client, true);
        std::vector<DamagedSavedVariables> chosen;
        if (relativePaths.empty()) {
            std::copy_if(health.damaged.begin(), health.damaged.end(), std::back_inserter(chosen),
                         [](const DamagedSavedVariables& damaged) { return damaged.source.has_value(); });
            if (chosen.empty()) {
                throw ManagerError(health.damaged.empty() ? "插件配置完好，无需修复。" : kNothingToRepair);
            }
        }
        for (const auto& path : relativePaths) {
            const auto found =
                std::find_if(health.damaged.begin(), health.damaged.end(),
                             [&](const DamagedSavedVariables& damaged) { return damaged.relativePath == path; });
            if (found == health.damaged.end()) {
                throw ManagerError(notDamaged(path));
            }
            if (!found->source) {
                throw ManagerError(noSource(path));
            }
            if (std::none_of(chosen.begin(), chosen.end(),
                             [&](const DamagedSavedVariables& damaged) { return damaged.relativePath == path; })) {
                chosen.push_back(*found);
            }
        }

        const Path wtf = targetFolder(BackupKind::wtf, client);
        std::vector<Path> sources;
        std::int64_t incoming = 0;
        for (const auto& damaged : chosen) {
            const std::string inside = insideWtf(damaged.relativePath);
            sources.push_back(damaged.source->backup
                                  ? verifiedBackupFolder(*damaged.source->backup, client) / "payload" / inside
                                  : wtf / (inside + ".bak"));
            incoming += FileSafety::byteSize(sources.back());
        }
        changeWtf(client, kRepairReason, incoming, [&](const Path& next) {
            for (std::size_t i = 0; i < chosen.size(); ++i) {
                const Path destination = next / insideWtf(chosen[i].relativePath);
                FileSafety::remove(destination);
                FileSafety::copyTree(sources[i], destination, m_control, FileSafety::Flush::deferred);
                // What was copied is what goes live: checked once more, after the copy.
                if (checkSavedVariablesFile(destination).state != SavedVariablesState::healthy) {
                    throw ManagerError(sourceChanged(chosen[i].relativePath));
                }
            }
        });
        return chosen;
    });
}

std::vector<SavedVariablesAddon> ManagerService::savedVariablesAddons(const LocalBackup& backup,
                                                                      const GameClient& client) {
    checkClient(client);
    if (backup.kind != BackupKind::wtf) {
        return {};
    }
    const Path payload = verifiedBackupFolder(backup, client) / "payload";
    std::map<std::string, int> counts;
    for (const auto& folder : savedVariablesFolders(payload)) {
        for (const auto& name : savedVariablesFiles(payload / folder.relativePath)) {
            ++counts[name.substr(0, name.size() - 4)];
        }
    }
    std::map<std::string, std::string> titles;
    if (FileSafety::isDirectory(targetFolder(BackupKind::addons, client))) {
        for (const auto& addon : installedAddons(client)) {
            titles[addon.folder.filename().native()] = addon.title;
        }
    }
    std::vector<SavedVariablesAddon> addons;
    for (const auto& [name, files] : counts) {
        const auto title = titles.find(name);
        addons.push_back({name, title != titles.end() && !title->second.empty() ? title->second : name, files});
    }
    return addons;
}

void ManagerService::restoreAddonSettings(const LocalBackup& backup, const GameClient& client, const std::string& addon,
                                          const std::optional<std::string>& scope, OperationControl* control) {
    ControlScope current(*this, control);
    locked(client, [&] {
        if (backup.kind != BackupKind::wtf) {
            throw ManagerError(kNotWtfBackup);
        }
        const Path payload = verifiedBackupFolder(backup, client) / "payload";
        if (scope) {
            const auto scopes = configurationScopes(backup, client);
            if (std::none_of(scopes.begin(), scopes.end(),
                             [&](const ConfigurationScope& candidate) { return candidate.relativePath == *scope; })) {
                throw ManagerError(kScopeNotInBackup);
            }
        }
        // Only a name the backup's own files carry is taken, which keeps "/" and ".." out.
        const std::string file = addon + ".lua";
        const std::vector<SavedVariablesFolder> folders = savedVariablesFolders(payload, scope.value_or(""));
        std::int64_t incoming = 0;
        bool held = false;
        for (const auto& folder : folders) {
            const auto names = savedVariablesFiles(payload / folder.relativePath);
            if (std::find(names.begin(), names.end(), file) != names.end()) {
                held = true;
                incoming += FileSafety::byteSize(payload / folder.relativePath / file);
                incoming += FileSafety::byteSize(payload / folder.relativePath / (file + ".bak"));
            }
        }
        if (!held) {
            throw ManagerError(addonNotInBackup(addon));
        }
        changeWtf(client, kRestoreAddonReason, incoming, [&](const Path& next) {
            // The pair the game keeps (the file and its previous save, `.lua.bak`) becomes the
            // backup's pair in every folder the backup holds; characters it does not know keep
            // theirs.
            for (const auto& folder : folders) {
                for (const std::string& name : {file, file + ".bak"}) {
                    const Path destination = next / folder.relativePath / name;
                    const Path source = payload / folder.relativePath / name;
                    FileSafety::remove(destination);
                    if (FileSafety::exists(source)) {
                        FileSafety::directory(destination.parent_path());
                        FileSafety::copyTree(source, destination, m_control, FileSafety::Flush::deferred);
                    }
                }
            }
        });
    });
}

} // namespace olvex
