#include <gtest/gtest.h>

#include <atomic>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "records/ClientLock.h"
#include "records/Errors.h"
#include "records/OperationControl.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

TEST(OperationControl, CancellationWinsBeforeCommittingAndIsDroppedAfter) {
    std::vector<OperationStage> seen;
    OperationControl control([&](OperationStage stage) { seen.push_back(stage); });
    control.report(OperationStage::extracting);
    control.report(OperationStage::validating);
    control.cancel();
    EXPECT_TRUE(control.isCancelled());
    EXPECT_THROW(control.check(), CancellationError);
    EXPECT_THROW(control.report(OperationStage::committing), CancellationError);
    EXPECT_THROW(control.report(OperationStage::finished), CancellationError);
    EXPECT_EQ(seen, (std::vector<OperationStage>{OperationStage::extracting, OperationStage::validating}));

    std::vector<OperationStage> late;
    OperationControl committed([&](OperationStage stage) { late.push_back(stage); });
    committed.report(OperationStage::committing);
    committed.cancel();
    EXPECT_NO_THROW(committed.check());
    EXPECT_FALSE(committed.isCancelled());
    committed.report(OperationStage::finished);
    EXPECT_EQ(late, (std::vector<OperationStage>{OperationStage::committing, OperationStage::finished}));
}

TEST(OperationControl, ACancelRacingCommittingResolvesToExactlyOneOutcome) {
    for (int round = 0; round < 2000; ++round) {
        std::atomic<bool> observedCommitting{false};
        OperationControl control([&](OperationStage stage) {
            if (stage == OperationStage::committing) {
                observedCommitting = true;
            }
        });
        std::thread canceller([&] { control.cancel(); });
        bool reported = true;
        try {
            control.report(OperationStage::committing);
        } catch (const CancellationError&) {
            reported = false;
        }
        canceller.join();
        // Either the commit won (the cancel is ignored) or the cancel won (nothing announced).
        ASSERT_EQ(reported, observedCommitting.load());
        ASSERT_EQ(control.isCancelled(), !reported);
    }
}

TEST(ClientLock, IsExclusiveInOneProcessAndLeavesItsFileBehind) {
    TempDir dir;
    Path storage = dir / "deep/.olvex-manager";
    {
        ClientLock first(storage);
        struct ::stat st {};
        ASSERT_EQ(::stat((storage / "operation.lock").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(st.st_size, 0);
        ASSERT_EQ(::stat(storage.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        try {
            ClientLock second(storage);
            FAIL() << "a second lease was granted";
        } catch (const ManagerError& error) {
            EXPECT_EQ(error.message(), "另一个管理器正在操作此游戏目录，请稍后再试。");
        }
    }
    EXPECT_NO_THROW(ClientLock again(storage));
    EXPECT_TRUE(fs::exists(storage / "operation.lock"));

    Path linked = dir / "linked";
    makeDirs(linked);
    fs::create_symlink(dir / "elsewhere", linked / "operation.lock");
    try {
        ClientLock refused(linked);
        FAIL() << "a linked lock file was opened";
    } catch (const ManagerError& error) {
        EXPECT_EQ(error.message(), "无法创建操作锁");
    }
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

TEST(ClientLock, TwoProcessesNeverHoldTheLeaseTogether) {
    TempDir dir;
    makeDirs(dir / "_retail_");
    GameClient client(dir / "_retail_");
    // Shared counters: how many processes are inside, and whether two ever were.
    auto* shared = static_cast<std::atomic<int>*>(
        ::mmap(nullptr, 4 * sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(shared, MAP_FAILED);
    new (&shared[0]) std::atomic<int>(0); // inside
    new (&shared[1]) std::atomic<int>(0); // overlaps
    new (&shared[2]) std::atomic<int>(0); // wins
    new (&shared[3]) std::atomic<int>(0); // refusals with the wrong message or a wait

    constexpr int kRounds = 300;
    pid_t children[2];
    for (pid_t& child : children) {
        child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ManagerService service;
            for (int i = 0; i < kRounds; ++i) {
                try {
                    service.locked(client, [&] {
                        if (shared[0].fetch_add(1) != 0) {
                            shared[1]++;
                        }
                        std::this_thread::sleep_for(std::chrono::microseconds(300));
                        shared[0].fetch_sub(1);
                        shared[2]++;
                    });
                } catch (const ManagerError& error) {
                    if (error.message() != "另一个管理器正在操作此游戏目录，请稍后再试。") {
                        shared[3]++;
                    }
                }
            }
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(shared[1].load(), 0);
    EXPECT_EQ(shared[3].load(), 0);
    EXPECT_GT(shared[2].load(), 0);
    EXPECT_LT(shared[2].load(), 2 * kRounds); // the race was real: some attempts lost
    ::munmap(shared, 4 * sizeof(std::atomic<int>));

    // The loser does not wait for the holder: with the lease held for three seconds here, the
    // other process is refused long before it is released.
    ClientLock held(client.url() / ".olvex-manager");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto started = std::chrono::steady_clock::now();
        try {
            ManagerService().recover(client);
        } catch (const ManagerError& error) {
            bool quick = std::chrono::steady_clock::now() - started < std::chrono::milliseconds(1500);
            ::_exit(error.message() == "另一个管理器正在操作此游戏目录，请稍后再试。" && quick ? 0 : 1);
        }
        ::_exit(2);
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
