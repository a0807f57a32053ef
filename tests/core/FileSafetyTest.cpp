#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <set>
#include <sys/stat.h>

#include "base/Errors.h"
#include "base/OperationControl.h"
#include "fs/FileSafety.h"
#include "fs/FolderQueue.h"
#include "packs/FileDigests.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {
mode_t permissions(const Path& path) {
    struct ::stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}
} // namespace

TEST(FileSafety, TreeChecksRefuseLinksAnywhereAndNeverActThroughThem) {
    TempDir dir;
    writeFile(dir / "tree/a/b/file", "x");
    writeFile(dir / "outside/keep", "keep");
    EXPECT_EQ(failure([&] { FileSafety::checkTree(dir / "tree"); }), "");
    EXPECT_EQ(failure([&] { FileSafety::checkTree(dir / "missing"); }), "");

    fs::create_directory_symlink(dir / "outside", dir / "tree/a/b/link");
    std::string refusal = "拒绝链接或特殊文件：" + (dir / "tree/a/b/link").native();
    EXPECT_EQ(failure([&] { FileSafety::checkTree(dir / "tree"); }), refusal);
    EXPECT_EQ(failure([&] { FileSafety::byteSize(dir / "tree"); }), refusal);
    FileSafety::FileStamps stamps;
    EXPECT_EQ(failure([&] { FileSafety::byteSize(dir / "tree", stamps); }), refusal);
    EXPECT_EQ(failure([&] { FileSafety::copyTree(dir / "tree", dir / "copy"); }), refusal);

    // Removing through a link refuses before anything is removed; removing the tree that
    // holds a link removes the link itself, never what it points to.
    EXPECT_EQ(failure([&] { FileSafety::remove(dir / "tree/a/b/link/keep"); }), refusal);
    EXPECT_EQ(readFile(dir / "outside/keep"), "keep");
    FileSafety::remove(dir / "tree");
    EXPECT_FALSE(fs::exists(dir / "tree"));
    EXPECT_EQ(readFile(dir / "outside/keep"), "keep");
    FileSafety::remove(dir / "tree"); // missing: success
}

TEST(FileSafety, DirectoriesAndCopiesArePrivateAndCopiesNeverOverwrite) {
    TempDir dir;
    FileSafety::directory(dir / "x/y/z");
    EXPECT_EQ(permissions(dir / "x"), 0700u);
    EXPECT_EQ(permissions(dir / "x/y/z"), 0700u);
    ::chmod((dir / "x/y").c_str(), 0755);
    FileSafety::directory(dir / "x/y");
    EXPECT_EQ(permissions(dir / "x/y"), 0755u);
    writeFile(dir / "file", "f");
    EXPECT_EQ(failure([&] { FileSafety::directory(dir / "file/sub"); }),
              "无法检查路径：" + (dir / "file/sub").native());

    // Copies are private too, never overwrite, and merge up to the first existing file.
    writeFile(dir / "src/a.txt", "new a");
    writeFile(dir / "src/.hidden", "h");
    writeFile(dir / "src/sub/b.txt", std::string(3000, 'b'));
    FileSafety::copyTree(dir / "src", dir / "dst");
    EXPECT_EQ(snapshotTree(dir / "dst"), snapshotTree(dir / "src"));
    EXPECT_EQ(permissions(dir / "dst/sub/b.txt"), 0600u);
    EXPECT_EQ(permissions(dir / "dst/sub"), 0700u);
    EXPECT_EQ(FileSafety::byteSize(dir / "dst"), 5 + 1 + 3000);
    EXPECT_EQ(FileSafety::byteSize(dir / "missing"), 0);

    writeFile(dir / "existing", "old");
    EXPECT_EQ(failure([&] { FileSafety::copyTree(dir / "src/a.txt", dir / "existing"); }), "复制目标已存在。");
    EXPECT_EQ(readFile(dir / "existing"), "old");

    writeFile(dir / "merge/a.txt", "old a");
    EXPECT_EQ(failure([&] { FileSafety::copyTree(dir / "src", dir / "merge"); }), "复制目标已存在。");
    EXPECT_EQ(readFile(dir / "merge/a.txt"), "old a");
}

// Walks of many folders run on several threads: each folder is walked once, helpers write under
// the caller's flush decision, and the first failure ends the walk and is the one reported.
TEST(FileSafety, AFolderQueueWalksEachFolderOnceOnItsThreadsAndStopsAtTheFirstFailure) {
    TempDir dir;
    FileSafety::VolumeFlush flush(dir.path());
    struct Part {
        FileSafety::FolderQueue<int>& folders;
        int failAt;
        std::vector<int> walked;
        std::set<FileSafety::VolumeFlush*> flushes;
        void walk(int folder) {
            if (folders.failed()) {
                throw FileSafety::WalkAbandoned{};
            }
            walked.push_back(folder);
            flushes.insert(FileSafety::VolumeFlush::current());
            if (folder == failAt) {
                throw ManagerError("文件夹 " + std::to_string(folder) + " 出错");
            }
            for (int child : {2 * folder + 1, 2 * folder + 2}) {
                if (child < 1000) {
                    folders.push(child);
                }
            }
        }
    };
    for (int failAt : {-1, 37}) {
        SCOPED_TRACE(failAt);
        FileSafety::FolderQueue<int> folders(0);
        std::vector<std::unique_ptr<Part>> parts;
        for (int i = 0; i < 3; ++i) {
            parts.push_back(std::make_unique<Part>(Part{folders, failAt, {}, {}}));
        }
        const std::string error = failure([&] { folders.run(parts); });
        std::multiset<int> walked;
        for (const auto& part : parts) {
            walked.insert(part->walked.begin(), part->walked.end());
            EXPECT_TRUE(part->flushes.empty() || part->flushes == std::set<FileSafety::VolumeFlush*>{&flush});
        }
        EXPECT_EQ(std::set<int>(walked.begin(), walked.end()).size(), walked.size()) << "a folder walked twice";
        if (failAt < 0) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(walked.size(), 1000U);
        } else {
            EXPECT_EQ(error, "文件夹 37 出错");
            EXPECT_EQ(walked.count(37), 1U);
        }
    }
}

TEST(FileSafety, CopyStopsBetweenChunksWhenCancelledUntilCommitting) {
    TempDir dir;
    writeFile(dir / "big", std::string(3 << 20, 'x'));
    OperationControl cancelled;
    cancelled.cancel();
    EXPECT_THROW(FileSafety::copyTree(dir / "big", dir / "never", &cancelled), CancellationError);
    EXPECT_FALSE(fs::exists(dir / "never"));

#ifdef OLVEX_FAULT_INJECTION
    // Cancel while the second chunk is copied: the third is never started.
    OperationControl control;
    int chunks = 0;
    sys::fault::arm({.onCall = [&](long, const char* name) {
        if (std::string_view(name) == "copyFileRange" && ++chunks == 2) {
            control.cancel();
        }
    }});
    EXPECT_THROW(FileSafety::copyTree(dir / "big", dir / "partial", &control), CancellationError);
    sys::fault::disarm();
    EXPECT_EQ(fs::file_size(dir / "partial"), 2u << 20); // the partial file stays for the caller
#endif

    OperationControl committing;
    committing.report(OperationStage::committing);
    committing.cancel();
    FileSafety::copyTree(dir / "big", dir / "done", &committing);
    EXPECT_EQ(fs::file_size(dir / "done"), 3u << 20);
}

#ifdef OLVEX_FAULT_INJECTION
// Where the kernel refuses to copy between two volumes, the copy goes through a buffer from
// where the kernel left off, and asks the kernel no more for the rest of the tree.
TEST(FileSafety, ARefusedKernelCopyCopiesTheSameBytesThroughABuffer) {
    TempDir dir;
    std::string large((2 << 20) + 5, '\0');
    for (size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>(i * 13 + i / 1000);
    }
    writeFile(dir / "src/large.bin", large);
    writeFile(dir / "src/sub/small", "small");
    writeFile(dir / "src/empty", "");
    int kernelCopies = 0, reads = 0;
    sys::fault::arm({.inject = [&](const sys::fault::Call& call) {
        const std::string_view name = call.name;
        reads += name == "read" ? 1 : 0;
        return name == "copyFileRange" && ++kernelCopies ? EXDEV : 0;
    }});
    FileSafety::copyTree(dir / "src", dir / "dst");
    sys::fault::disarm();
    EXPECT_EQ(snapshotTree(dir / "dst"), snapshotTree(dir / "src"));
    EXPECT_EQ(kernelCopies, 1);
    EXPECT_GE(reads, 3 + 2 + 1);
}

// A folder swapped for a link after its parent was listed is refused where the walk meets it:
// nothing outside the tree is read, written or deleted.
TEST(FileSafety, ADeletionRefusesAFolderSwappedForALinkAndLeavesWhatItPointsTo) {
    TempDir dir;
    writeFile(dir / "tree/sub/file", "x");
    writeFile(dir / "canvas/keep", "keep");
    const auto canvas = snapshotTree(dir / "canvas");
    int opens = 0;
    sys::fault::arm({.onCall = [&](long, const char* name) {
        // The first openat is the tree's own; the second enters "sub", listed as a folder.
        if (std::string_view(name) == "openat" && ++opens == 2) {
            fs::remove_all(dir / "tree/sub");
            fs::create_directory_symlink(dir / "canvas", dir / "tree/sub");
        }
    }});
    const std::string message = failure([&] { FileSafety::remove(dir / "tree"); });
    sys::fault::disarm();
    EXPECT_EQ(message, "拒绝链接或特殊文件：" + (dir / "tree/sub").native());
    EXPECT_EQ(snapshotTree(dir / "canvas"), canvas);
    EXPECT_TRUE(fs::is_symlink(dir / "tree/sub"));
}

// A folder above the root of a walk swapped for a link after the path was checked is refused
// where the root is opened, by the kernel's no-link resolution or, where there is none, by the
// walk from "/": nothing the link points to is read, copied or removed.
TEST(FileSafety, AWalkRefusesALinkAboveItsRootWithOrWithoutTheKernelsResolution) {
    for (const bool kernel : {true, false}) {
        TempDir dir;
        writeFile(dir / "store/tree/file", "x");
        writeFile(dir / "canvas/tree/file", "keep");
        const auto canvas = snapshotTree(dir / "canvas");
        const std::vector<std::pair<std::string, std::function<void()>>> walks{
            {"removal", [&] { FileSafety::removeLeftover(dir / "store/tree"); }},
            {"removal of a file", [&] { FileSafety::remove(dir / "store/tree/file"); }},
            {"copy", [&] { FileSafety::copyTree(dir / "store/tree", dir / "copy"); }},
            {"size", [&] { FileSafety::byteSize(dir / "store/tree"); }},
            {"digest", [&] { fileDigests(dir / "store/tree"); }},
        };
        sys::fault::withoutOpenNoLinks(!kernel);
        for (const auto& [name, walk] : walks) {
            SCOPED_TRACE(name + (kernel ? " (kernel)" : " (walk from /)"));
            bool planted = false;
            sys::fault::arm({.inject = [&](const sys::fault::Call& call) {
                if (!planted && std::string_view(call.name) == "openat2") {
                    fs::rename(dir / "store", dir / "moved");
                    fs::create_directory_symlink(dir / "canvas", dir / "store");
                    planted = true;
                }
                return 0;
            }});
            const std::string message = failure(walk);
            sys::fault::disarm();
            EXPECT_EQ(message, "拒绝链接或特殊文件：" + (dir / "store").native());
            EXPECT_EQ(snapshotTree(dir / "canvas"), canvas);
            EXPECT_FALSE(fs::exists(dir / "copy"));
            fs::remove(dir / "store");
            fs::rename(dir / "moved", dir / "store");
        }
    }
    sys::fault::withoutOpenNoLinks(false);
}

// Two processes removing one leftover at once take entries away under each other: what the
// other already removed (a folder about to be entered, a folder about to be removed, the
// whole tree) counts as removed, never as a failure that leaves the rest behind.
TEST(FileSafety, ARemovalIsNotStoppedByAnotherRemovingTheSameTree) {
    for (const int at : {2, 3, 4}) {
        SCOPED_TRACE(at);
        TempDir dir;
        for (const char* folder : {"a", "b", "c"}) {
            writeFile(dir / "tree" / folder / "deep/file", "x");
        }
        int calls = 0;
        sys::fault::arm({.onCall = [&](long, const char* name) {
            // The other remover gets ahead at the `at`-th folder opening or removal.
            const std::string_view call(name);
            if ((call == "openat" || call == "unlinkat" || call == "rmdir") && ++calls == at) {
                fs::remove_all(at == 4 ? dir / "tree" : dir / "tree/b");
            }
        }});
        const std::string message = failure([&] { FileSafety::removeLeftover(dir / "tree"); });
        sys::fault::disarm();
        EXPECT_EQ(message, "");
        EXPECT_FALSE(fs::exists(dir / "tree"));
    }
}

TEST(FileSafety, OwnedDescriptorsCloseOnceAndBoundedReadsStopAtTheirLimit) {
    TempDir dir;
    writeFile(dir / "ten", "0123456789");
    int closes = 0;
    sys::fault::arm({.inject = [&](const sys::fault::Call& call) {
        closes += std::string_view(call.name) == "close" ? 1 : 0;
        return 0;
    }});
    {
        sys::Fd kept(sys::open((dir / "ten").c_str(), O_RDONLY));
        sys::Fd replaced(sys::open((dir / "ten").c_str(), O_RDONLY));
        replaced = std::move(kept);
        EXPECT_EQ(closes, 1);
        EXPECT_FALSE(kept.valid());

        std::string data;
        EXPECT_EQ(sys::readUpTo(replaced.get(), 4, data), 0);
        EXPECT_EQ(data, "0123");
        EXPECT_EQ(sys::readUpTo(replaced.get(), 100, data), 0);
        EXPECT_EQ(data, "456789");
        sys::Fd folder(sys::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY));
        const int result = sys::readUpTo(folder.get(), 100, data);
        const int error = errno;
        EXPECT_EQ(result, -1);
        EXPECT_EQ(error, EISDIR);
    }
    sys::fault::disarm();
    EXPECT_EQ(closes, 3);
}
#endif
