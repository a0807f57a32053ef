// Restore of a backup into its version folder, whole or (for a WTF backup) one account, realm
// or character, and the listing of those restorable parts. Every restore is one transaction,
// so the state before it is backed up automatically and an interrupted restore is undone.

#include <algorithm>

#include "base/Errors.h"
#include "fs/FileSafety.h"
#include "savedvars/WtfLayout.h"
#include "service/ManagerService.h"

namespace olvex {

std::vector<ConfigurationScope> ManagerService::configurationScopes(const LocalBackup& backup,
                                                                    const GameClient& client) {
    checkClient(client);
    if (backup.kind != BackupKind::wtf) {
        return {};
    }
    const Path folder = verifiedBackupFolder(backup, client);
    const Path accounts = folder / "payload" / "Account";
    if (!FileSafety::isDirectory(accounts)) {
        return {};
    }
    std::vector<ConfigurationScope> scopes;
    for (const auto& account : wtfScopeChildren(accounts)) {
        scopes.push_back({"Account/" + account, "账号：" + account + "（含共享配置）"});
        for (const auto& realm : wtfScopeChildren(accounts / account)) {
            scopes.push_back({"Account/" + account + "/" + realm, "服务器：" + account + " / " + realm});
            for (const auto& character : wtfScopeChildren(accounts / account / realm)) {
                scopes.push_back({"Account/" + account + "/" + realm + "/" + character,
                                  "角色：" + account + " / " + realm + " / " + character});
            }
        }
    }
    return scopes;
}

void ManagerService::restore(const LocalBackup& backup, const GameClient& client,
                             const std::optional<std::string>& scope, OperationControl* control) {
    ControlScope current(*this, control);
    locked(client, [&] {
        const Path payload = verifiedBackupFolder(backup, client) / "payload";

        if (!scope) {
            const std::int64_t incoming = FileSafety::byteSize(payload);
            const std::int64_t present = FileSafety::byteSize(targetFolder(backup.kind, client));
            // The transaction's own check does not know about the incoming copy.
            requireSpace(client, incoming + 2 * present + kMargin);
            transaction(backup.kind, client, "恢复前自动备份", [&](const Path& next) {
                if (m_control != nullptr) {
                    m_control->expectBytes(incoming);
                }
                FileSafety::copyTree(payload, next, m_control, FileSafety::Flush::deferred);
            });
            return;
        }

        if (backup.kind != BackupKind::wtf) {
            throw ManagerError(kScopeNotInBackup);
        }
        // Only a scope the listing produced is accepted: this is what keeps "..", absolute
        // paths and paths into SavedVariables or hidden folders out of the copy below.
        const auto scopes = configurationScopes(backup, client);
        if (std::none_of(scopes.begin(), scopes.end(),
                         [&](const ConfigurationScope& candidate) { return candidate.relativePath == *scope; })) {
            throw ManagerError(kScopeNotInBackup);
        }
        const Path source = payload / *scope;
        const std::int64_t incoming = FileSafety::byteSize(source);
        changeWtf(client, "选择配置恢复前自动备份", incoming, [&](const Path& next) {
            const Path sub = next / *scope;
            FileSafety::remove(sub);
            FileSafety::directory(sub.parent_path());
            FileSafety::copyTree(source, sub, m_control, FileSafety::Flush::deferred);
        });
    });
}

void ManagerService::changeWtf(const GameClient& client, const std::string& reason, std::int64_t incoming,
                               const Build& change) {
    const Path wtf = targetFolder(BackupKind::wtf, client);
    const std::int64_t present = FileSafety::byteSize(wtf);
    // The transaction's own check does not know about the incoming copy.
    requireSpace(client, incoming + 2 * present + kMargin);
    transaction(BackupKind::wtf, client, reason, [&](const Path& next) {
        if (m_control != nullptr) {
            m_control->expectMoreBytes(incoming);
        }
        // exists() raises on anything but "no such file": a failed examination must never
        // be taken for a missing WTF, or the change would start from an empty folder.
        if (FileSafety::exists(wtf)) {
            FileSafety::copyTree(wtf, next, m_control, FileSafety::Flush::deferred);
        } else {
            FileSafety::directory(next);
        }
        change(next);
    });
}

} // namespace olvex
