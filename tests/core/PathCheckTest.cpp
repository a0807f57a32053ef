#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fs/FileSafety.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {
std::string refusal(const Path& path) {
    return failure([&] { FileSafety::checkPath(path); });
}
} // namespace

TEST(CheckPath, AcceptsRealAndMissingPathsAndRefusesLinksDotsAndSpecialFiles) {
    TempDir dir;
    makeDirs(dir / "real/sub");
    writeFile(dir / "real/file", "x");
    fs::create_directory_symlink(dir / "real", dir / "link");
    ::mkfifo((dir / "real/pipe").c_str(), 0600);

    EXPECT_EQ(refusal("/"), "");
    EXPECT_EQ(refusal(dir / "real/sub"), "");
    EXPECT_EQ(refusal(dir / "real/file"), "");
    EXPECT_EQ(refusal(dir / "real/missing/also-missing"), "");
    EXPECT_EQ(refusal(dir.path().native() + "//real///sub/"), "");

    const std::string link = "拒绝链接或特殊文件：" + (dir / "link").native();
    EXPECT_EQ(refusal(dir / "link/sub"), link);
    EXPECT_EQ(refusal(dir / "link"), link);
    EXPECT_EQ(refusal(dir / "real/pipe"), "拒绝链接或特殊文件：" + (dir / "real/pipe").native());
    EXPECT_EQ(refusal(dir / "real/../real/sub"), "路径中不允许 . 或 ..");
    EXPECT_EQ(refusal(dir / "real/./sub"), "路径中不允许 . 或 ..");
    // The first failing component decides: the link comes before the "..".
    EXPECT_EQ(refusal(dir / "link/../x"), link);

    EXPECT_TRUE(FileSafety::isDirectory(dir / "real"));
    for (const char* other : {"link", "real/file", "missing"}) {
        EXPECT_FALSE(FileSafety::isDirectory(dir / other)) << other;
    }
}

#ifdef OLVEX_FAULT_INJECTION
TEST(CheckPath, OnlyNoSuchFileCountsAsMissing) {
    TempDir dir;
    Path target = dir / "missing";
    sys::fault::arm({});
    FileSafety::checkPath(target);
    const long calls = sys::fault::calls();
    for (int error : {EACCES, EIO, ENOENT}) {
        sys::fault::arm({.failAt = calls, .error = error});
        EXPECT_EQ(refusal(target), error == ENOENT ? "" : "无法检查路径：" + target.native()) << error;
    }
    sys::fault::disarm();
}
#endif
