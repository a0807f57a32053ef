// The replaced add-on folder and the preview's staging folder are deleted after the operation
// has reported `finished`, in the background; the next operation waits for that deletion, and
// a process that dies during it leaves only leftovers that the next sweep removes.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
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

// Every wait here is bounded: a deletion that hangs fails the test, naming the wait, instead of
// holding the run until the ctest timeout.
constexpr auto kLimit = std::chrono::seconds(30);

// Runs `wait` and ends the test process with a failure when it takes longer than kLimit (a
// hung wait cannot be cancelled; only the process can end).
template <typename Wait> auto within(const char* what, Wait&& wait) {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!done.wait_for(lock, kLimit, [&] { return finished; })) {
            std::fprintf(stderr, "Failure: still waiting for %s after %lld s\n", what,
                         static_cast<long long>(kLimit.count()));
            std::_Exit(1);
        }
    });
    struct Finish {
        std::mutex& mutex;
        std::condition_variable& done;
        bool& finished;
        std::thread& watchdog;
        ~Finish() {
            {
                std::lock_guard guard(mutex);
                finished = true;
            }
            done.notify_all();
            watchdog.join();
        }
    } finish{mutex, done, finished, watchdog};
    return wait();
}

// waitpid with the same limit; the child is ended when it does not finish in time.
int waitForChild(pid_t child) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ADD_FAILURE() << "the child process did not end within " << kLimit.count() << " s";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

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
            released.wait_for(kLimit);
        }
    }});

    EXPECT_EQ(install.run(service).back(), OperationStage::finished);
    ASSERT_EQ(reached.get_future().wait_for(kLimit), std::future_status::ready) << "the deletion never started";
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
    ASSERT_EQ(next.wait_for(kLimit), std::future_status::ready) << "the next operation still waits";
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
        within("the deletion", [&] { service.waitForDeletions(); });
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
    const int status = waitForChild(child);
    ASSERT_TRUE(status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 86)
        << "the process did not end in the deletion";

    EXPECT_TRUE(fs::exists(install.game.addons() / "New/New.toc"));
    ManagerService service({}, {}, install.game.temporary());
    const std::vector<Path> left = service.leftovers(install.client);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].filename().native().rfind("trash-", 0), 0u);
    EXPECT_TRUE(fs::exists(left[0] / "previous"));
    EXPECT_FALSE(within("the sweep", [&] { return service.recover(install.client); }));
    EXPECT_EQ(service.leftovers(install.client), std::vector<Path>{});
    EXPECT_EQ(names(install.manager()), (Names{"backups", "operation.lock"}));
}

#endif
