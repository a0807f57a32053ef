#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
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

    // Anything but a regular file as the lock file is refused like everywhere else, never
    // followed, opened or waited on; every refusal names the path and why.
    const std::vector<std::tuple<std::string, std::function<void(const Path&)>, std::string>> planted{
        {"link", [&](const Path& file) { fs::create_symlink(dir / "elsewhere", file); }, "拒绝链接或特殊文件："},
        {"FIFO", [](const Path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }, "拒绝链接或特殊文件："},
        {"folder", [](const Path& file) { makeDirs(file); }, "无法创建操作锁“"},
    };
    for (const auto& [name, plant, refusal] : planted) {
        SCOPED_TRACE(name);
        const Path file = dir / name / "operation.lock";
        makeDirs(file.parent_path());
        plant(file);
        const std::string message = failure([&] { ClientLock refused(file.parent_path()); });
        EXPECT_EQ(message, name == "folder" ? refusal + file.native() + "”：目标是目录。" : refusal + file.native());
        EXPECT_FALSE(ClientLock::isHeld(file.parent_path()));
    }
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}
