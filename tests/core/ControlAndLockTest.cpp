#include <gtest/gtest.h>

#include <atomic>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "base/Errors.h"
#include "base/OperationControl.h"
#include "fs/ClientLock.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

const std::string kLeaseHeld = "另一个管理器正在操作此游戏目录，请稍后再试。";

TEST(OperationControl, ACancelBeforeCommittingWinsAndARacingOneResolvesToExactlyOneOutcome) {
    OperationControl cancelled([](OperationStage) { ADD_FAILURE() << "a stage was announced after the cancel"; });
    cancelled.cancel();
    EXPECT_THROW(cancelled.report(OperationStage::committing), CancellationError);
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

TEST(ClientLock, IsExclusiveInThisAndOtherProcessesAndRefusesALinkedLockFile) {
    TempDir dir;
    const Path storage = dir / "deep/.olvex-manager";
    // What another process gets: 0 the lease, 1 the refusal with its message, anything else a fault.
    auto otherProcess = [&] {
        pid_t child = ::fork();
        if (child == 0) {
            ::alarm(10); // a lease that waited instead of refusing ends here
            std::string message = failure([&] { ClientLock lease(storage); });
            ::_exit(message.empty() ? 0 : message == kLeaseHeld ? 1 : 2);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    {
        ClientLock first(storage);
        EXPECT_EQ(fs::status(storage / "operation.lock").permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(fs::file_size(storage / "operation.lock"), 0u);
        EXPECT_EQ(fs::status(storage).permissions(), fs::perms::owner_all);
        EXPECT_EQ(failure([&] { ClientLock second(storage); }), kLeaseHeld);
        EXPECT_EQ(otherProcess(), 1);
    }
    EXPECT_EQ(otherProcess(), 0);
    EXPECT_TRUE(fs::exists(storage / "operation.lock"));

    makeDirs(dir / "linked");
    fs::create_symlink(dir / "elsewhere", dir / "linked/operation.lock");
    EXPECT_EQ(failure([&] { ClientLock refused(dir / "linked"); }), "无法创建操作锁");
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}
