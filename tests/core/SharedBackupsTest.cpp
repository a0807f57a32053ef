// Backups share the files that did not change since the newest backup of their kind, by hard
// link, and nothing else: not with the game's folders, not with restored or exported copies.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>
#include <sys/stat.h>

#include "base/Errors.h"
#include "base/Gzip.h"
#include "base/OperationControl.h"
#include "fs/FileSafety.h"
#include "fs/Sys.h"
#include "packs/FileDigests.h"
#include "service/BackupDigests.h"
#include "service/ManagerService.h"
#include "support/GameFixture.h"

using namespace olvex;
using namespace olvex::test;

namespace {

struct Shared : GameFixture {
    Shared() {
        writeFile(wtf() / "Config.wtf", "SET a \"1\"\n");
        writeFile(wtf() / "Account/A/SavedVariables/Same.lua", "same");
        writeFile(wtf() / "Account/A/SavedVariables/Edited.lua", "old!");
    }
    LocalBackup backUp() { return service.backupWTF(client); }
    Path folder(const LocalBackup& backup) const { return ManagerService::backupFolder(client, backup.id); }
    Path payload(const LocalBackup& backup) const { return folder(backup) / "payload"; }
};

struct ::stat examined(const Path& file) {
    struct ::stat st {};
    EXPECT_EQ(::lstat(file.c_str(), &st), 0) << file;
    return st;
}

// Every file's inode below a folder.
std::set<ino_t> inodes(const Path& folder) {
    std::set<ino_t> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            out.insert(examined(entry.path()).st_ino);
        }
    }
    return out;
}

bool sharesAny(const Path& a, const Path& b) {
    const std::set<ino_t> left = inodes(a);
    for (ino_t node : inodes(b)) {
        if (left.count(node) != 0) {
            return true;
        }
    }
    return false;
}

// Rewrites a file of a backup, read-only as it is, as a user's editor would.
void tamper(const Path& file, const std::string& content) {
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    writeFile(file, content);
}

} // namespace

TEST(SharedBackups, ShareOnlyWhatIsUnchangedSinceTheNewestBackupOfTheKind) {
    const std::string edited = "Account/A/SavedVariables/Edited.lua";
    struct Row {
        const char* name;
        std::function<void(Shared&, const LocalBackup& earlier)> between;
        bool sameShared;   // Same.lua is one file with the earlier backup's
        bool editedShared; // Edited.lua likewise
    };
    const Row rows[] = {
        {"nothing changed", [](Shared&, const LocalBackup&) {}, true, true},
        {"same length, other content", [&](Shared& g, const LocalBackup&) { writeFile(g.wtf() / edited, "new!"); },
         true, false},
        {"written again with the same bytes",
         [&](Shared& g, const LocalBackup&) { writeFile(g.wtf() / edited, "old!"); }, true, true},
        {"the earlier backup's file changed after it was made",
         [&](Shared& g, const LocalBackup& earlier) { tamper(g.payload(earlier) / edited, "bad!"); }, true, false},
        {"an earlier backup without a digest list",
         [](Shared& g, const LocalBackup& earlier) { fs::remove(g.folder(earlier) / kDigestListName); }, false, false},
        {"an earlier backup whose list was stored uncompressed (the version before)",
         [](Shared& g, const LocalBackup& earlier) {
             const Path list = g.folder(earlier) / kDigestListName;
             writeFile(g.folder(earlier) / kUncompressedDigestListName, *gzip::decompress(readFile(list), 1 << 20));
             fs::remove(list);
         },
         true, true},
        {"an earlier backup whose list was cut short",
         [](Shared& g, const LocalBackup& earlier) {
             const Path list = g.folder(earlier) / kDigestListName;
             fs::resize_file(list, fs::file_size(list) - 9);
         },
         false, false},
        {"the earlier backup recycled and brought back",
         [](Shared& g, const LocalBackup& earlier) {
             g.service.recycleBackup(earlier, g.client);
             g.service.recoverRecycledBackups(g.client);
         },
         true, true},
        {"the earlier backup restored over WTF (its own backup first)",
         [](Shared& g, const LocalBackup& earlier) { g.service.restore(earlier, g.client, std::nullopt); }, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Shared g;
        const LocalBackup earlier = g.backUp();
        row.between(g, earlier);
        const LocalBackup later = g.backUp();
        const Path before = g.payload(earlier) / "Account/A/SavedVariables";
        const Path after = g.payload(later) / "Account/A/SavedVariables";
        EXPECT_EQ(examined(before / "Same.lua").st_ino == examined(after / "Same.lua").st_ino, row.sameShared);
        EXPECT_EQ(examined(before / "Edited.lua").st_ino == examined(after / "Edited.lua").st_ino, row.editedShared);
        // The new backup holds the folder as it is, whole and read-only, with true digests and its
        // whole size; the game's own files are never one of its names.
        EXPECT_EQ(snapshotTree(g.payload(later)), snapshotTree(g.wtf()));
        EXPECT_FALSE(sharesAny(g.payload(later), g.wtf()));
        EXPECT_EQ(examined(after / "Edited.lua").st_mode & 07777, 0400u);
        auto recorded = readDigestList(g.folder(later));
        ASSERT_TRUE(recorded);
        EXPECT_EQ(digestMapOf(*recorded), fileDigests(g.payload(later)));
        EXPECT_EQ(later.byteCount, FileSafety::byteSize(g.wtf()));
    }
}

// A source time no older than the backup proves nothing: a write just after the examination may
// have left it as it was. Such a file is read the next time, never taken on its time.
TEST(SharedBackups, ATimeTooRecentToProveAnythingIsNotTrusted) {
    Shared g;
    const std::string relative = "Account/A/SavedVariables/Edited.lua";
    const auto future = fs::last_write_time(g.wtf() / relative) + std::chrono::hours(1);
    fs::last_write_time(g.wtf() / relative, future);
    const LocalBackup earlier = g.backUp();
    EXPECT_EQ(readDigestList(g.folder(earlier))->at(relative).sourceTime, std::nullopt);
    writeFile(g.wtf() / relative, "new!");           // the same length ...
    fs::last_write_time(g.wtf() / relative, future); // ... and time
    const LocalBackup later = g.backUp();
    EXPECT_EQ(readFile(g.payload(later) / relative), "new!");
    EXPECT_NE(examined(g.payload(earlier) / relative).st_ino, examined(g.payload(later) / relative).st_ino);
}

#ifdef OLVEX_FAULT_INJECTION
TEST(SharedBackups, AVolumeThatRefusesLinksGetsCopiesWithoutAWord) {
    struct Row {
        int error;
        int asked; // link attempts: a volume's refusal is heard once, a file's link limit per file
    };
    for (const Row row : {Row{EXDEV, 1}, Row{EPERM, 1}, Row{EOPNOTSUPP, 1}, Row{EMLINK, 3}}) {
        SCOPED_TRACE(row.error);
        Shared g;
        const LocalBackup earlier = g.backUp();
        int asked = 0;
        sys::fault::arm({.inject = [&](const sys::fault::Call& call) {
            return std::string(call.name) == "linkat" ? (++asked, row.error) : 0;
        }});
        const LocalBackup later = g.backUp();
        sys::fault::disarm();
        EXPECT_EQ(asked, row.asked);
        EXPECT_FALSE(sharesAny(g.payload(earlier), g.payload(later)));
        EXPECT_EQ(snapshotTree(g.payload(later)), snapshotTree(g.wtf()));
    }
    // Any other failure of a link is the backup's own: reported, and nothing is left behind.
    Shared g;
    g.backUp();
    sys::fault::arm(
        {.inject = [](const sys::fault::Call& call) { return std::string(call.name) == "linkat" ? EIO : 0; }});
    try {
        g.backUp();
        ADD_FAILURE() << "the backup succeeded";
    } catch (const SystemError& failure) {
        EXPECT_EQ(failure.error(), EIO);
        EXPECT_EQ(failure.operation(), SystemOperation::create);
    }
    sys::fault::disarm();
    EXPECT_EQ(g.service.backups(g.client).size(), 1u);
    EXPECT_EQ(g.service.leftovers(g.client), std::vector<Path>{});
}
#endif

TEST(SharedBackups, RestoreAndExportCopyAndTheStoreCountsSharedFilesOnce) {
    Shared g;
    const LocalBackup earlier = g.backUp();
    writeFile(g.wtf() / "Account/A/SavedVariables/Edited.lua", "new content, longer");
    const LocalBackup later = g.backUp();
    const std::int64_t changed = 19, old = 4, whole = *later.byteCount;

    const BackupUsage usage = g.service.backupUsage(g.client);
    EXPECT_EQ(usage.occupiedBytes, whole + old);
    EXPECT_EQ(usage.freedBytes, (std::map<Uuid, std::int64_t>{{later.id, changed}, {earlier.id, old}}));

    writeFile(g.wtf() / "Config.wtf", "changed");
    g.service.restore(later, g.client, std::nullopt);
    g.service.waitForDeletions(); // the replaced WTF goes in the background, inside the walked folder
    EXPECT_EQ(snapshotTree(g.wtf()), snapshotTree(g.payload(later)));
    EXPECT_FALSE(sharesAny(g.wtf(), g.manager()));
    EXPECT_EQ(examined(g.wtf() / "Config.wtf").st_mode & 07777, 0600u);

    // Exported with the recorded digests (the payload is read once: the progress expects one
    // pass) and, once the list is gone, digested anew: the same package either way, without the
    // list, sharing nothing with the store.
    OperationControl control;
    g.service.exportBackup(later, g.client, g.dir / "recorded", &control);
    EXPECT_EQ(control.progress().total, whole);
    fs::remove(g.folder(later) / kDigestListName);
    g.service.exportBackup(later, g.client, g.dir / "digested", &control);
    EXPECT_EQ(control.progress().total, 2 * whole);
    EXPECT_EQ(snapshotTree(g.dir / "recorded"), snapshotTree(g.dir / "digested"));
    EXPECT_EQ(snapshotTree(g.dir / "recorded/payload"), snapshotTree(g.payload(later)));
    EXPECT_FALSE(fs::exists(g.dir / "recorded" / kDigestListName));
    EXPECT_FALSE(sharesAny(g.dir / "recorded", g.manager()));

    // Removing a backup (read-only files and all) leaves the others whole.
    const auto kept = snapshotTree(g.payload(later));
    fs::remove_all(g.folder(earlier));
    EXPECT_EQ(snapshotTree(g.payload(later)), kept);
    // Same.lua: this backup's name and the one of the backup the restore made first.
    EXPECT_EQ(examined(g.payload(later) / "Account/A/SavedVariables/Same.lua").st_nlink, 2u);
}
