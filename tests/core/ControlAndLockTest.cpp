#include <gtest/gtest.h>

#include <atomic>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "records/ClientLock.h"
#include "records/Errors.h"
#include "records/OperationControl.h"
#include "service/ManagerService.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

const std::string kLeaseHeld = "另一个管理器正在操作此游戏目录，请稍后再试。";

TEST(OperationControl, ACancelRacingCommittingResolvesToExactlyOneOutcome) {
    for (int round = 0; round < 2000; ++round) {
        std::atomic<bool> announced{false};
        OperationControl control([&](OperationStage) { announced = true; });
        std::thread canceller([&] { control.cancel(); });
        bool reported = failure([&] { control.report(OperationStage::committing); }).empty();
        canceller.join();
        // Either the commit won (the cancel is ignored) or the cancel won (nothing announced).
        ASSERT_EQ(reported, announced.load());
        ASSERT_EQ(control.isCancelled(), !reported);
    }
}

TEST(ClientLock, IsExclusiveInOneProcessAndRefusesALinkedLockFile) {
    TempDir dir;
    Path storage = dir / "deep/.olvex-manager";
    {
        ClientLock first(storage);
        EXPECT_EQ(fs::status(storage / "operation.lock").permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(fs::file_size(storage / "operation.lock"), 0u);
        EXPECT_EQ(fs::status(storage).permissions(), fs::perms::owner_all);
        EXPECT_EQ(failure([&] { ClientLock second(storage); }), kLeaseHeld);
    }
    EXPECT_EQ(failure([&] { ClientLock again(storage); }), "");
    EXPECT_TRUE(fs::exists(storage / "operation.lock"));

    makeDirs(dir / "linked");
    fs::create_symlink(dir / "elsewhere", dir / "linked/operation.lock");
    EXPECT_EQ(failure([&] { ClientLock refused(dir / "linked"); }), "无法创建操作锁");
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

TEST(ClientLock, TwoProcessesNeverHoldTheLeaseTogether) {
    TempDir dir;
    makeDirs(dir / "_retail_");
    GameClient client(dir / "_retail_");
    struct Shared {
        std::atomic<int> inside{0}, overlaps{0}, wins{0};
    };
    void* memory = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    auto* shared = new (memory) Shared;
    constexpr int kRounds = 300;
    pid_t children[2];
    for (pid_t& child : children) {
        ASSERT_GE(child = ::fork(), 0);
        if (child == 0) {
            ManagerService service;
            bool otherMessage = false;
            for (int i = 0; i < kRounds; ++i) {
                std::string message = failure([&] {
                    service.locked(client, [&] {
                        shared->overlaps += shared->inside++ != 0;
                        std::this_thread::sleep_for(std::chrono::microseconds(300));
                        shared->inside--;
                        shared->wins++;
                    });
                });
                otherMessage = otherMessage || (!message.empty() && message != kLeaseHeld);
            }
            ::_exit(otherMessage ? 1 : 0);
        }
    }
    for (pid_t child : children) {
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(status, 0); // exited normally, every refusal with the lease message
    }
    EXPECT_EQ(shared->overlaps.load(), 0);
    EXPECT_GT(shared->wins.load(), 0);
    // Some attempts lost: the loser is refused at once rather than made to wait.
    EXPECT_LT(shared->wins.load(), 2 * kRounds);
    ::munmap(memory, sizeof(Shared));
}
