// The replaced add-on folder and the preview's staging folder are deleted after the operation
// has reported `finished`, in the background; the next operation waits for that deletion, and
// a process that dies during it leaves only leftovers that the next sweep removes.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "base/OperationControl.h"
#include "fs/Sys.h"
#include "service/ManagerService.h"
#include "support/GameFixture.h"

using namespace olvex;
using namespace olvex::test;

#ifdef OLVEX_FAULT_INJECTION

namespace {

using Names = std::vector<std::string>;

// A version folder with two add-ons and a pack that adds a third.
struct Install {
    GameFixture game;
    GameClient client{game.root()};
    Path zip = game.pack("p.zip", {"New"});
    Install() {
        game.addAddon("One");
        game.addAddon("Two");
    }
    Path manager() const { return client.url() / ".olvex-manager"; }
    // Runs a preview and its installation; the stages the installation reported.
    std::vector<OperationStage> run(ManagerService& service) const {
        std::vector<OperationStage> stages;
        OperationControl control([&](OperationStage stage) { stages.push_back(stage); });
        service.install(service.preview(zip, client).token, &control);
        return stages;
    }
};

bool offMainThread(std::thread::id main) {
    return std::this_thread::get_id() != main;
}

} // namespace

TEST(DeferredDeletion, FinishedComesFirstAndTheNextOperationWaitsForTheDeletion) {
    Install install;
    ManagerService service({}, {}, install.game.temporary());
    // The deleter stops at its first call until the test lets it go on.
    const auto main = std::this_thread::get_id();
    std::atomic<std::thread::id> deleter;
    std::promise<void> reached;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    sys::fault::arm({.onCall = [&](long, const char*) {
        if (!offMainThread(main)) {
            return;
        }
        if (deleter.load() == std::thread::id()) {
            deleter = std::this_thread::get_id();
            reached.set_value();
        }
        if (deleter.load() == std::this_thread::get_id()) {
            released.wait();
        }
    }});

    EXPECT_EQ(install.run(service).back(), OperationStage::finished);
    reached.get_future().wait();
    EXPECT_TRUE(fs::exists(install.game.addons() / "New/New.toc"));
    const Names manager = names(install.manager());
    ASSERT_EQ(manager.size(), 3u);
    const Path trash = install.manager() / manager[2];
    EXPECT_EQ(manager[2].rfind("trash-", 0), 0u);
    EXPECT_EQ(readFile(trash / "previous/One/One.toc"), "## Title: One\n");
    ASSERT_EQ(names(install.game.temporary()).size(), 1u);

    auto next = std::async(std::launch::async, [&] { return service.recover(install.client); });
    EXPECT_EQ(next.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "the next operation did not wait for the deletion";
    release.set_value();
    EXPECT_FALSE(next.get());
    EXPECT_EQ(names(install.manager()), (Names{"backups", "operation.lock"}));
    EXPECT_EQ(names(install.game.temporary()), Names{});
    sys::fault::disarm();
}

// The crash ends the process at the second removal of the deletion (a reference run numbers
// the calls), so that the set-aside folder is left half-deleted.
TEST(DeferredDeletion, ACrashDuringTheDeletionLeavesOnlyLeftoversThatTheNextSweepRemoves) {
    long crashAt = 0;
    {
        Install reference;
        ManagerService service({}, {}, reference.game.temporary());
        const auto main = std::this_thread::get_id();
        int removals = 0;
        sys::fault::arm({.onCall = [&](long n, const char* name) {
            if (offMainThread(main) && std::string_view(name) == "unlinkat" && ++removals == 2) {
                crashAt = n;
            }
        }});
        reference.run(service);
        service.waitForDeletions();
        sys::fault::disarm();
    }
    ASSERT_GT(crashAt, 0);

    Install install;
    const pid_t child = ::fork();
    if (child == 0) {
        ManagerService service({}, {}, install.game.temporary());
        sys::fault::arm({.crashAt = crashAt});
        try {
            install.run(service);
            service.waitForDeletions();
        } catch (...) {
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 86) << "the process did not end in the deletion";

    EXPECT_TRUE(fs::exists(install.game.addons() / "New/New.toc"));
    ManagerService service({}, {}, install.game.temporary());
    const std::vector<Path> left = service.leftovers(install.client);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].filename().native().rfind("trash-", 0), 0u);
    EXPECT_TRUE(fs::exists(left[0] / "previous"));
    EXPECT_FALSE(service.recover(install.client));
    EXPECT_EQ(service.leftovers(install.client), std::vector<Path>{});
    EXPECT_EQ(names(install.manager()), (Names{"backups", "operation.lock"}));
}

#endif
