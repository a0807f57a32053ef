#include <gtest/gtest.h>

#include <algorithm>

#include "discovery/GameScanner.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {
std::vector<std::string> ids(const ScanReport& report) {
    std::vector<std::string> out;
    for (const auto& client : report.clients) {
        out.push_back(client.id());
    }
    return out;
}
} // namespace

TEST(GameScanner, FindsVersionFoldersOnceEachAndReportsMissingAndInaccessibleRoots) {
    TempDir dir;
    const Path game = dir / "World of Warcraft";
    makeDirs(game / "_retail_/Interface");
    makeDirs(game / "_classic_");
    makeDirs(game / "_Retail_");                                   // wrong case: not a version folder
    makeDirs(game / "_retail_/_ptr_");                             // inside a version folder: never entered
    makeDirs(dir / "hidden/.cache/_classic_");                     // a hidden folder is never entered
    fs::create_directory_symlink(game, dir / "hidden/inner-link"); // nor a link below a root
    fs::create_directory_symlink(game, dir / "link");
    writeFile(dir / "file", "x");
    const Path missing = dir / "missing", belowLink = dir / "link/_retail_", dotdot = game / "../World of Warcraft";
    auto report = GameScanner::scanReport(
        {game, game, game / "_retail_", dir.path(), missing, dir / "file", dir / "link", belowLink, dotdot});
    EXPECT_EQ(ids(report), (std::vector<std::string>{(game / "_classic_").native(), (game / "_retail_").native()}));
    EXPECT_EQ(report.missingRoots, (std::vector<Path>{missing}));
    EXPECT_EQ(report.inaccessibleRoots, (std::vector<Path>{dir / "link", belowLink, dotdot}));
    EXPECT_FALSE(report.reachedLimit);

    // A version folder picked itself, with a trailing slash.
    EXPECT_EQ(ids(GameScanner::scanReport({Path((game / "_retail_").native() + "/")})),
              std::vector<std::string>{(game / "_retail_").native()});
}

TEST(GameScanner, DepthLimitIsThreeLevelsBelowTheRoot) {
    TempDir dir;
    makeDirs(dir / "a/b/_retail_"); // depth 3: found
    auto atThree = GameScanner::scanReport({dir.path()});
    EXPECT_EQ(ids(atThree), (std::vector<std::string>{(dir / "a/b/_retail_").native()}));
    EXPECT_FALSE(atThree.reachedLimit);

    makeDirs(dir / "a/b/c/_classic_"); // depth 4: not found, limit flagged
    auto atFour = GameScanner::scanReport({dir.path()});
    EXPECT_EQ(ids(atFour), (std::vector<std::string>{(dir / "a/b/_retail_").native()}));
    EXPECT_TRUE(atFour.reachedLimit);
}

TEST(GameScanner, FolderCountLimitIsSharedByAllRoots) {
    TempDir dir;
    // Root (1) + 4998 folders = 4999 counted; the version folder is number 5000 and counts.
    makeDirs(dir / "r");
    for (int i = 0; i < 4998; ++i) {
        makeDirs(dir / ("r/f" + std::to_string(i)));
    }
    makeDirs(dir / "second/_retail_");
    auto exact = GameScanner::scanReport({dir / "r", dir / "second/_retail_"});
    EXPECT_EQ(exact.clients.size(), 1u);
    EXPECT_FALSE(exact.reachedLimit);

    makeDirs(dir / "r/one-more");
    auto over = GameScanner::scanReport({dir / "r", dir / "second/_retail_"});
    EXPECT_TRUE(over.clients.empty());
    EXPECT_TRUE(over.reachedLimit);
}

TEST(GameScanner, DefaultRootsAreAlwaysFive) {
    auto roots = GameScanner::defaultRoots(Path("/home/p"));
    EXPECT_EQ(roots, (std::vector<Path>{"/Applications/World of Warcraft", "/Applications/魔兽世界", "/home/p/Games",
                                        "/home/p/Applications", "/Volumes"}));
}
