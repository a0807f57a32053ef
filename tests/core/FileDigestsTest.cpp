#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "base/Errors.h"
#include "fs/Sys.h"
#include "packs/FileDigests.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {
const std::string kEmptySha = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string kAbcSha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
} // namespace

TEST(FileDigests, CoversEmptyAndHiddenEntriesNestedFoldersAndFilesAcrossChunks) {
    TempDir dir;
    const Path tree = dir / "tree";
    writeFile(tree / "empty.lua", "");
    makeDirs(tree / "Empty");
    writeFile(tree / ".hidden", "abc");
    writeFile(tree / "a/.b/c.txt", "abc");
    writeFile(tree / "名字/空", "");
    // Content that differs from one 1 MiB chunk to the next; the digest is from sha256sum.
    std::string large(3 * 1'048'576 + 17, '\0');
    for (size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>(i * 7 + i / 4096);
    }
    writeFile(tree / "large.bin", large);
    const DigestMap expected{{"empty.lua", kEmptySha},
                             {"Empty/", "directory"},
                             {".hidden", kAbcSha},
                             {"a/", "directory"},
                             {"a/.b/", "directory"},
                             {"a/.b/c.txt", kAbcSha},
                             {"名字/", "directory"},
                             {"名字/空", kEmptySha},
                             {"large.bin", "1a235f38a870bf33399da1c33073106be96684f2efa7d4da726c243d7db15584"}};
    EXPECT_EQ(fileDigests(tree), expected);
    EXPECT_EQ(fileDigests(tree.native() + "/"), expected); // a trailing slash names the same folder
}

TEST(FileDigests, RefusesLinksSpecialFilesWhatIsNotAFolderAndMoreThanTwoGibibytes) {
    TempDir dir;
    const Path tree = dir / "tree";
    writeFile(tree / "sub/file", "x");
    auto refusal = [&](const Path& folder) { return failure([&] { fileDigests(folder); }); };
    ASSERT_EQ(refusal(tree), "");
    const std::string refused = "拒绝链接或特殊文件：";
    fs::create_symlink(dir / "outside", tree / "sub/link");
    EXPECT_EQ(refusal(tree), refused + (tree / "sub/link").native());
    fs::remove(tree / "sub/link");
    ASSERT_EQ(::mkfifo((tree / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(refusal(tree), refused + (tree / "pipe").native());
    fs::create_symlink(tree, dir / "linked");
    EXPECT_EQ(refusal(dir / "linked"), refused + (dir / "linked").native());
    EXPECT_EQ(refusal(tree / "sub/file"), "迁移包缺少 payload 目录。");
    EXPECT_EQ(refusal(dir / "missing"), "迁移包缺少 payload 目录。");

    // Sparse files: 1 GiB in one file and 1 GiB + 1 byte in another exceed the limit together.
    for (auto [name, size] : {std::pair{"a", 1'073'741'824L}, std::pair{"b", 1'073'741'825L}}) {
        writeFile(dir / "big" / name, "");
        ASSERT_EQ(::truncate((dir / "big" / name).c_str(), size), 0);
    }
    EXPECT_EQ(refusal(dir / "big"), "迁移包超过 2 GiB 限制。");
}

#ifdef OLVEX_FAULT_INJECTION
// Between two entries of the walk, a folder not yet entered is swapped for a link to a folder
// outside: the walk refuses it where it meets it and reads nothing there.
TEST(FileDigests, AFolderSwappedForALinkDuringTheWalkIsRefused) {
    TempDir dir;
    const Path tree = dir / "tree";
    writeFile(tree / "file", "abc");
    writeFile(tree / "sub/inner", "abc");
    writeFile(dir / "canvas/secret", "secret");
    const auto canvas = snapshotTree(dir / "canvas");
    int opens = 0;
    sys::fault::arm({.onCall = [&](long, const char* name) {
        // The first openat is the tree's own; the second opens its first entry.
        if (std::string_view(name) == "openat" && ++opens == 2) {
            fs::remove_all(tree / "sub");
            fs::create_directory_symlink(dir / "canvas", tree / "sub");
        }
    }});
    const std::string message = failure([&] { fileDigests(tree); });
    sys::fault::disarm();
    EXPECT_EQ(message, "拒绝链接或特殊文件：" + (tree / "sub").native());
    EXPECT_EQ(snapshotTree(dir / "canvas"), canvas);
}
#endif

TEST(FileDigests, DigestsFiftyThousandEntriesAndRefusesOneMore) {
    TempDir dir;
    const Path tree = dir / "tree";
    // 100 folders of 499 empty files: 50,000 entries. Hard links to one file keep the set-up fast.
    writeFile(tree / "d0/0", "");
    for (int folder = 0; folder < 100; ++folder) {
        Path sub = tree / ("d" + std::to_string(folder));
        makeDirs(sub);
        for (int file = folder == 0 ? 1 : 0; file < 499; ++file) {
            ASSERT_EQ(::link((tree / "d0/0").c_str(), (sub / std::to_string(file)).c_str()), 0);
        }
    }
    DigestMap digests = fileDigests(tree);
    EXPECT_EQ(digests.size(), 50'000u);
    EXPECT_EQ(digests.at("d99/498"), kEmptySha);
    writeFile(tree / "one-more", "");
    EXPECT_EQ(failure([&] { fileDigests(tree); }), "迁移包超过 50000 个条目限制。");
}
