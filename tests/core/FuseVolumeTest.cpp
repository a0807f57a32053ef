// The durability and deletion contracts on a real FUSE volume (a bindfs mount of a plain folder,
// as many players keep the game on ntfs-3g): the file layer flushes each file and folder itself,
// and the background deletion leaves nothing behind, FUSE's hidden names of files deleted while
// open included. Skipped where FUSE cannot be mounted (no /dev/fuse, no bindfs, a container).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <unistd.h>

#include "fs/Sys.h"
#include "fs/VolumeFlush.h"
#include "service/ManagerService.h"
#include "support/GameFixture.h"

using namespace olvex;
using namespace olvex::test;

#ifdef OLVEX_FAULT_INJECTION

namespace {

std::string quoted(const Path& path) {
    return "'" + path.native() + "'";
}

// A bindfs mount of a fresh folder for the test's lifetime; TMPDIR points into it meanwhile, so
// that every fixture folder lies on the FUSE volume.
class FuseMount {
public:
    FuseMount() {
        if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            m_problem = "/dev/fuse cannot be opened";
            return;
        }
        makeDirs(m_source);
        makeDirs(m_point);
        const std::string mount = "bindfs " + quoted(m_source) + " " + quoted(m_point) + " >/dev/null 2>&1";
        if (std::system(mount.c_str()) != 0) {
            m_problem = "bindfs could not mount a folder";
            return;
        }
        m_mounted = true;
        const char* previous = std::getenv("TMPDIR");
        m_previous = previous != nullptr ? previous : "";
        ::setenv("TMPDIR", m_point.c_str(), 1);
    }
    ~FuseMount() {
        if (!m_mounted) {
            return;
        }
        m_previous.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", m_previous.c_str(), 1);
        const std::string point = quoted(m_point);
        const std::string unmount = "fusermount3 -u " + point + " 2>/dev/null || fusermount -u " + point +
                                    " 2>/dev/null || umount " + point + " 2>/dev/null";
        if (std::system(unmount.c_str()) != 0) {
            ADD_FAILURE() << "the FUSE mount " << m_point << " could not be unmounted";
        }
    }
    const std::string& problem() const { return m_problem; }

private:
    TempDir m_dir;
    Path m_source = m_dir / "source";
    Path m_point = m_dir / "mounted";
    bool m_mounted = false;
    std::string m_problem;
    std::string m_previous;
};

std::string descriptorPath(int fd) {
    std::error_code error;
    return fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error).native();
}

} // namespace

// An installation on FUSE: no syncfs (it may not reach the server), every file it writes flushed
// before it is closed, every folder it creates in the version folder made durable in its parent;
// after the bounded wait for the background deletion, neither the replaced add-ons nor the
// preview's staging folder remain, and no hidden name of a file deleted while open.
TEST(FuseVolume, AnInstallationFlushesEachFileAndFolderAndItsDeletionLeavesNothing) {
    const FuseMount mount;
    if (!mount.problem().empty()) {
        GTEST_SKIP() << "FUSE is not available here: " << mount.problem();
    }
    GameFixture game;
    ASSERT_FALSE(FileSafety::wholeVolumeFlush(game.root())) << "the mount is not seen as FUSE";
    game.addAddon("One");
    const Path zip = game.pack("p.zip", {"New"});
    ManagerService service({}, {}, game.temporary());

    std::mutex mutex; // the deleter's thread goes through the seam too
    int volumeFlushes = 0;
    std::set<int> unflushed;
    std::vector<std::string> closedUnflushed;
    std::set<std::string> created;
    std::set<std::string> flushed;
    sys::fault::arm({.inject = [&](const sys::fault::Call& call) {
        std::lock_guard guard(mutex);
        const std::string name = call.name;
        if (name == "syncfs") {
            ++volumeFlushes;
        } else if (name == "write" || name == "copyFileRange") {
            unflushed.insert(call.fd);
        } else if (name == "fsync") {
            unflushed.erase(call.fd);
            flushed.insert(descriptorPath(call.fd));
        } else if (name == "close" && unflushed.erase(call.fd) != 0) {
            closedUnflushed.push_back(descriptorPath(call.fd));
        } else if (name == "mkdir" || name == "mkdirat") {
            const Path folder = name == "mkdir" ? Path(call.path) : Path(descriptorPath(call.fd)) / call.path;
            created.insert(folder.parent_path().native());
        }
        return 0;
    }});
    service.install(service.preview(zip, game.client).token);
    const bool deleted = service.waitForDeletions(std::chrono::seconds(30));
    sys::fault::disarm();

    ASSERT_TRUE(deleted) << "the background deletion did not end within 30 s";
    EXPECT_EQ(volumeFlushes, 0);
    EXPECT_EQ(closedUnflushed, std::vector<std::string>{});
    ASSERT_FALSE(created.empty());
    for (const std::string& parent : created) {
        if (parent.starts_with(game.root().native())) {
            EXPECT_TRUE(flushed.count(parent)) << "a folder created in " << parent << " was never flushed there";
        }
    }
    EXPECT_TRUE(fs::exists(game.addons() / "New/New.toc"));
    EXPECT_EQ(names(game.manager()), (std::vector<std::string>{"backups", "operation.lock"}));
    EXPECT_EQ(names(game.temporary()), std::vector<std::string>{});
    for (const auto& entry : fs::recursive_directory_iterator(game.dir.path())) {
        EXPECT_FALSE(entry.path().filename().native().starts_with(".fuse_hidden")) << entry.path();
    }
}

#endif
