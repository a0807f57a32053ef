#include <gtest/gtest.h>

#include <algorithm>
#include <archive_entry.h>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <memory>
#include <random>
#include <set>
#include <sys/stat.h>

#include "archive/ExtractZip.h"
#include "fs/Sys.h"
#include "fs/VolumeFlush.h"
#include "support/TestSupport.h"
#include "support/ZipBuilder.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kDestination = "无法打开隔离目录", kUnsafe = "ZIP 包含不安全的路径、链接、加密文件或过多文件";
const std::string kDeclared = "ZIP 解压总大小超过 2 GiB 限制", kComponent = "ZIP 包含非法路径分量";
const std::string kConflict = "ZIP 目录冲突或链接", kTaken = "ZIP 存在重名文件或目录冲突";
const std::string kWritten = "ZIP 实际解压大小超过限制", D = "<dir>";
constexpr uint64_t kBudget = 2'147'483'648ULL;
using Tree = std::map<std::string, std::string>;
using Build = std::function<void(const fs::path&)>;

// Relative names mapped to "<dir>", "<link>", "<special>", a file's content or, beyond 64 bytes,
// its size (large files are never read); `skip` is left out.
Tree listing(const fs::path& root, const fs::path& skip = {}) {
    Tree out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path() == skip) {
            it.disable_recursion_pending();
            continue;
        }
        bool plain = it->is_regular_file() && !it->is_symlink(), big = plain && it->file_size() > 64;
        out[it->path().native().substr(root.native().size() + 1)] = it->is_symlink()     ? "<link>"
                                                                    : it->is_directory() ? D
                                                                    : !plain             ? "<special>"
                                                                    : big ? std::to_string(it->file_size()) + " bytes"
                                                                          : readFile(it->path());
    }
    return out;
}

// "a/|b/c=text|d": the folder "a", the file "b/c" holding "text" and "d" holding "x"; every
// folder above a name is in the tree too.
Tree spec(const std::string& text) {
    Tree out;
    for (size_t at = 0; at < text.size();) {
        size_t end = std::min(text.find('|', at), text.size()), equal = text.find('=', at);
        std::string name = text.substr(at, std::min(equal, end) - at);
        std::string content = name.ends_with('/') ? D : equal < end ? text.substr(equal + 1, end - equal - 1) : "x";
        name = name.ends_with('/') ? name.substr(0, name.size() - 1) : name;
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
            out[name.substr(0, slash)] = D;
        }
        out[name] = content;
        at = end + 1;
    }
    return out;
}

const auto openDescriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };

// A destination folder beside a file of its own: anything the extraction writes outside the
// destination changes the tree around it. Large cases pass a base on tmpfs, where a flush
// costs nothing.
class Sandbox {
public:
    explicit Sandbox(const fs::path& base = fs::temp_directory_path()) {
        std::string pattern = (base / "olvex-zip-XXXXXX").native();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp");
        }
        m_dir = pattern;
        makeDirs(dest());
        writeFile(m_dir / "outside.txt", "outside");
    }
    ~Sandbox() { fs::remove_all(m_dir); }
    fs::path dest() const { return m_dir / "dest"; }
    fs::path zip() const { return m_dir / "in.zip"; }
    Tree tree() const { return listing(dest()); }

    // Extracts into `destination` (default: dest()) and returns the message, "" on success, after
    // checking what must hold on every path: nothing outside the destination changed, every
    // descriptor was released, the thread's locale is back, and the message was written exactly
    // when the extraction failed.
    std::string extract(const fs::path& archive, const archive::ExtractLimits& limits = {}, fs::path destination = {},
                        olvex_cancel_query query = nullptr, void* context = nullptr) const {
        // libarchive's name conversion depends on the locale: the tests run in the plain "C" one.
        EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
        Tree before = listing(m_dir, dest());
        auto descriptors = openDescriptors();
        locale_t locale = ::uselocale(static_cast<locale_t>(nullptr));
        char message[1024];
        std::memset(message, '#', sizeof message);
        destination = destination.empty() ? dest() : destination;
        int result =
            archive::extractZip(archive.c_str(), destination.c_str(), message, sizeof message, query, context, limits);
        EXPECT_EQ(listing(m_dir, dest()), before) << "written outside the destination";
        EXPECT_EQ(openDescriptors(), descriptors);
        EXPECT_EQ(::uselocale(static_cast<locale_t>(nullptr)), locale);
        EXPECT_EQ(result, message[0] == '#' ? 0 : -1) << "message written other than exactly on failure";
        message[sizeof message - 1] = '\0';
        return result == 0 ? "" : message;
    }

private:
    fs::path m_dir;
};

const auto F = [](std::string name, std::string content = "x") { return ZipEntry::file(name, content); };
const auto Dir = [](std::string name) { return ZipEntry{name, "", ZipEntry::Type::directory}; };
const auto gbk = [](std::string bytes) { return ZipEntry{"", "x", ZipEntry::Type::file, bytes}; };
const auto zip = [](std::vector<ZipEntry> entries) -> Build {
    return [=](const fs::path& path) { writeZip(path, entries); };
};
const auto raw = [](std::vector<RawZipEntry> entries) -> Build {
    return [=](const fs::path& path) { writeRawZip(path, entries); };
};
// `real` bytes of "z" under a size that the headers may misstate.
const auto sized = [](std::string name, uint32_t real, std::optional<uint32_t> declared = std::nullopt) {
    return RawZipEntry{name, std::string(real, 'z'), 0100644, true, false, declared};
};

// A path of exactly `length` bytes in components of 199 bytes, the last one filling up.
std::string pathOfLength(size_t length) {
    std::string path;
    while (length - path.size() > 200) {
        path += std::string(199, 'd') + "/";
    }
    return path + std::string(length - path.size(), 'f');
}

} // namespace

TEST(ExtractZip, EntryRulesAndBudgetsRefuseHostileEntriesAndKeepTheirSafeTwins) {
    const std::string escape = "/tmp/olvex-zip-absolute-escape.txt", longName = "a/" + std::string(255, 'n');
    fs::remove(escape);
    struct Case {
        std::string what;
        Build build;
        std::string message; // "": success
        std::string tree;    // as `spec` reads it
        archive::ExtractLimits limits = {};
    };
    // Refusals that a corpus archive reaches first are left to its verdict: "./a.txt", "a\x01b.txt",
    // "C:evil.txt", the empty name, a character device, ZipCrypto data.
    const std::vector<Case> cases = {
        {"absolute", zip({F(escape)}), kUnsafe, ""},
        {"relative twin", zip({F(escape.substr(1))}), "", escape.substr(1)},
        {"inner ..", zip({F("a/b/../../../escaped.txt")}), kComponent, "a/b/"},
        {"inner .", zip({F("a/./b.txt")}), kComponent, "a/"},
        {"safe names: dots, spaces, Chinese, doubled slashes",
         zip({F("..foo"), F("..."), F("a..b/c."), F("插件 目录/说明.txt"), F("a/b-stream"), F("a//b.txt")}), "",
         "..foo|...|a..b/c.|插件 目录/说明.txt|a/b-stream|a/b.txt"},
        {"backslash in a GBK name", zip({gbk("\xd6\xd0\\..\\escaped.txt")}), kUnsafe, ""},
        {"GBK name whose second byte is a backslash", zip({gbk("\x81\x5c\xb1\xed.txt")}), "", "乗表.txt"},
        {"GBK names from Windows, UTF-8 ones and bytes that are neither",
         zip({gbk("\xb2\xe5\xbc\xfe/"), gbk("\xb2\xe5\xbc\xfe/\xd6\xd0\xce\xc4.lua"), F("插件/说明.txt"), gbk("é.txt"),
              gbk("\xff\xfe.txt")}),
         "", "插件/中文.lua|插件/说明.txt|é.txt|\xff\xfe.txt"},
        {"colon inside", zip({F("a/b:stream")}), kUnsafe, ""},
        {"escape", zip({F("dir/esc\x1b[31m.txt")}), kComponent, "dir/"},
        {"delete", zip({F("del\x7f.txt")}), kComponent, ""},
        {"symlink", zip({F("a.txt"), ZipEntry{"link", "/etc", ZipEntry::Type::symlink}}), kUnsafe, "a.txt"},
        {"file in its place", zip({F("a.txt"), F("link", "/etc")}), "", "a.txt|link=/etc"},
        {"encryption flag only", raw({{"b.txt", "x", 0100644, true, true}}), kUnsafe, ""},
        {"block device", raw({{"dev", "", 060644}}), kUnsafe, ""},
        // libarchive reports a FIFO entry as a regular file; it becomes one, never a FIFO.
        {"fifo", raw({{"fifo", "", 010644}}), "", "fifo="},
        {"empty archive", zip({}), "ZIP 为空", ""},
        // Named with a trailing slash, libarchive reports a directory whatever the mode says.
        {"trailing slash on a file", raw({{"d/f.txt/", "data"}}), "", "d/f.txt/"},
        {"duplicate file", zip({F("a.txt", "first"), F("a.txt", "second")}), kTaken, "a.txt=first"},
        {"file then file below it", zip({F("x", "file"), F("x/y")}), kConflict, "x=file"},
        {"directory then file", zip({Dir("x/"), F("x", "file")}), kTaken, "x/"},
        {"directories merge", zip({Dir("x/"), F("x/a", "a"), Dir("x/"), F("x/b", "b")}), "", "x/a=a|x/b=b"},
        {"2048-byte path", zip({F(pathOfLength(2048))}), "", pathOfLength(2048)},
        {"2049-byte path", zip({F(pathOfLength(2049))}), kUnsafe, ""},
        {"255-byte component", zip({F(longName)}), "", longName},
        {"256-byte component", zip({F(longName + "n")}), kComponent, "a/"},
        {"entries up to the limit", raw({sized("a", 1), sized("b", 1)}), "", "a=z|b=z", {2, kBudget}},
        {"one entry more", raw({sized("a", 1), sized("b", 1), sized("c", 1)}), kUnsafe, "a=z|b=z", {2, kBudget}},
        {"declared up to the budget",
         raw({sized("a", 600), sized("b", 400)}),
         "",
         "a=600 bytes|b=400 bytes",
         {9, 1000}},
        {"declared past what is left", raw({sized("a", 600), sized("b", 401)}), kDeclared, "a=600 bytes", {9, 1000}},
        {"a directory declaring data", raw({{"d/", std::string(1001, 'z')}}), kDeclared, "", {9, 1000}},
        {"written up to the budget", raw({sized("a", 131'072)}), "", "a=131072 bytes", {9, 131'072}},
        // Declares 10 bytes, holds 200,000: stopped by the count of written bytes, after one chunk.
        {"written past the budget", raw({sized("a", 200'000, 10)}), kWritten, "a=65536 bytes", {9, 100'000}},
        {"declared past the real budget", raw({sized("a", 1, 0x80000001u)}), kDeclared, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        c.build(box.zip());
        EXPECT_EQ(box.extract(box.zip(), c.limits), c.message);
        EXPECT_EQ(box.tree(), spec(c.tree));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(escape)));
}

TEST(ExtractZip, CreatedFilesAndDirectoriesArePrivateAndHardLinksAreRefused) {
    Sandbox box;
    writeRawZip(box.zip(), {{"d/", "", 040777}, {"d/run.sh", "#!", 0104777}});
    ASSERT_EQ(box.extract(box.zip()), "");
    EXPECT_EQ(fs::status(box.dest() / "d").permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(box.dest() / "d/run.sh").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // libarchive's ZIP reader never reports a hard link, so the rule is reached directly.
    std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(), archive_entry_free);
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    EXPECT_FALSE(archive::breaksEntryRules(entry.get(), "a.txt", 0, {}));
    archive_entry_set_hardlink(entry.get(), "b.txt");
    EXPECT_TRUE(archive::breaksEntryRules(entry.get(), "a.txt", 0, {}));
}

TEST(ExtractZip, TheDestinationMustBeARealDirectoryAndLinksInsideAreNotFollowed) {
    Sandbox box, elsewhere, linked;
    writeZip(box.zip(), {F("sub/a.txt", "a")});
    fs::path target = elsewhere.dest(), link = box.dest().parent_path() / "link";
    fs::create_directory_symlink(target, link);
    EXPECT_EQ(box.extract(box.zip()), "");
    EXPECT_EQ(archive::extractZip(box.zip().c_str(), link.c_str(), nullptr, 0, nullptr, nullptr, {}), -1);
    EXPECT_EQ(box.extract(box.zip(), {}, box.dest() / "missing"), kDestination);
    // Names already in the destination that are links: neither entered nor written through.
    fs::create_directory_symlink(target, linked.dest() / "sub");
    EXPECT_EQ(linked.extract(box.zip()), kConflict);
    fs::remove(linked.dest() / "sub");
    fs::create_symlink(target / "a.txt", linked.dest() / "a.txt");
    writeZip(linked.zip(), {F("a.txt", "a")});
    EXPECT_EQ(linked.extract(linked.zip()), kTaken);
    EXPECT_EQ(elsewhere.tree(), Tree{});
}

TEST(ExtractZip, ArchivesThatCannotBeReadSayWhyInChineseWithoutTheLibraryText) {
    Sandbox box, intact;
    writeFile(box.zip(), "this is not a zip file");
    EXPECT_EQ(box.extract(box.zip()), "ZIP 文件“in.zip”不是 ZIP 格式，或者已严重损坏。");
    EXPECT_EQ(box.extract(box.dest() / "missing.zip"), "找不到 ZIP 文件“missing.zip”。");
    EXPECT_EQ(box.tree(), Tree{});
    std::string noise(300'000, '\0'); // does not compress: the archive is as large as its content
    std::generate(noise.begin(), noise.end(), std::mt19937());
    writeZip(intact.zip(), {F("a.bin", noise), F("b.txt", "b")});
    writeFile(box.zip(), readFile(intact.zip()).substr(0, 200'000)); // cut inside the data of a.bin
    EXPECT_EQ(box.extract(box.zip()), "ZIP 文件“in.zip”不完整，可能没有下载完或复制时被截断。");
    EXPECT_EQ(box.tree().count("b.txt"), 0u);
    EXPECT_EQ(intact.extract(intact.zip()), "");
    EXPECT_EQ(intact.tree().size(), 2u);
}

TEST(ExtractZip, TheRealEntryLimitTakesFiftyThousandEntriesAndNotOneMore) {
    Sandbox box("/dev/shm"), bomb("/dev/shm");
    std::vector<ZipEntry> entries;
    for (int i = 0; i < 50'000; ++i) {
        entries.push_back(F("d" + std::to_string(i % 10) + "/f" + std::to_string(i), ""));
    }
    writeZip(box.zip(), entries, false);
    ASSERT_EQ(box.extract(box.zip()), "");
    EXPECT_TRUE(fs::exists(box.dest() / "d9/f49999"));
    EXPECT_EQ(bomb.extract(corpus("zips/generated/many_entries_50001.zip")), kUnsafe);
    EXPECT_EQ(std::distance(fs::directory_iterator(bomb.dest()), {}), 50'000);
    EXPECT_FALSE(fs::exists(bomb.dest() / "f50000"));
}

// A FIFO named as the archive once held the open until a writer came, deaf to a cancel; a
// link was followed. Only a regular file is read, and anything else is refused at once (a
// folder with words of its own). A link the player chose is resolved by the preview, not here.
TEST(ExtractZip, OnlyARegularFileIsReadAsTheArchive) {
    Sandbox good, box;
    writeZip(good.zip(), {F("a.txt", "a")});
    const fs::path beside = box.dest().parent_path();
    ASSERT_EQ(::mkfifo((beside / "p.zip").c_str(), 0600), 0);
    fs::create_symlink(good.zip(), beside / "link.zip");
    fs::create_directory(beside / "folder.zip");
    for (const std::string name : {"p.zip", "link.zip", "folder.zip"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(withinSeconds(20, [&] { return box.extract(beside / name); }),
                  name == "folder.zip"
                      ? "“folder.zip”是文件夹，不是 ZIP 文件，请选择 ZIP 文件本身。"
                      : "“" + name + "”不是普通文件（链接、管道或设备都不能作为 ZIP 读取），请选择 ZIP 文件本身。");
        EXPECT_EQ(box.tree(), Tree{});
    }
    EXPECT_EQ(good.extract(good.zip()), "");
    EXPECT_EQ(good.tree(), spec("a.txt=a"));
}

TEST(ExtractZip, CancellationIsAskedBeforeEveryEntryAndAfterEveryChunk) {
    // Questions: before a.bin (1), after its four chunks (2-5), before b.txt (6), after its chunk (7).
    const std::string a = "a.bin=200000 bytes";
    for (auto [at, expected] : std::vector<std::pair<int, std::string>>{
             {1, ""}, {2, "a.bin="}, {5, "a.bin=196608 bytes"}, {6, a}, {7, a + "|b.txt="}, {8, a + "|b.txt=b"}}) {
        SCOPED_TRACE(at);
        Sandbox box;
        writeZip(box.zip(), {F("a.bin", std::string(200'000, 'a')), F("b.txt", "b")});
        std::pair<int, int> cancel{at, 0}; // answers "cancelled" from the Nth question on
        auto query = [](void* context) {
            auto& [from, asked] = *static_cast<std::pair<int, int>*>(context);
            return ++asked >= from ? 1 : 0;
        };
        EXPECT_EQ(box.extract(box.zip(), {}, {}, query, &cancel), at <= 7 ? "操作已取消" : "");
        EXPECT_EQ(cancel.second, std::min(at, 7));
        EXPECT_EQ(box.tree(), spec(expected));
    }
}

TEST(ExtractZip, TheMessageIsCutToTheBuffer) {
    Sandbox box;
    writeZip(box.zip(), {F("../x")});
    char message[8];
    std::memset(message, '#', sizeof message);
    EXPECT_EQ(olvex_extract_zip_cancellable(box.zip().c_str(), box.dest().c_str(), message, 7, nullptr, nullptr), -1);
    EXPECT_EQ(std::string(message), kComponent.substr(0, 6)); // "ZIP " and the first two bytes of 包
    EXPECT_EQ(message[7], '#');
    EXPECT_EQ(olvex_extract_zip_cancellable(box.zip().c_str(), box.dest().c_str(), nullptr, 0, nullptr, nullptr), -1);
}

#ifdef OLVEX_FAULT_INJECTION
TEST(ExtractZip, FileSystemFailuresEndTheExtractionWithTheirMessage) {
    Sandbox clean;
    writeZip(clean.zip(), {Dir("d/"), F("d/f", std::string(100'000, 'f'))});
    sys::fault::arm({.recordTrace = true});
    ASSERT_EQ(clean.extract(clean.zip()), "");
    std::vector<std::string> trace = sys::fault::trace();
    sys::fault::disarm();
    const std::string kWrite = "写入失败，请检查磁盘空间";
    // One flush of the volume, or on a per-file volume (FUSE) one of each file.
    const std::string flush = FileSafety::wholeVolumeFlush(clean.dest()) ? "syncfs" : "fsync";
    const std::vector<std::tuple<std::string, int, int, std::string, std::string>> cases = {
        {"openat2", 1, EACCES, kDestination, ""},
        {"dup", 1, EMFILE, kDestination, ""},
        {"mkdirat", 1, EACCES, "无法创建解压目录", ""},
        {"openat", 1, ELOOP, kConflict, "d/"},
        {"openat", 3, EEXIST, kTaken, "d/"}, // d, d again for the second entry, then the file
        {"write", 1, ENOSPC, kWrite, "d/f="},
        {"write", 2, ENOSPC, kWrite, "d/f=65536 bytes"},
        {flush, 1, EIO, "文件同步失败", "d/f=100000 bytes"},
    };
    for (const auto& [call, occurrence, error, message, tree] : cases) {
        SCOPED_TRACE(call + " " + std::to_string(occurrence));
        long at = 0;
        for (int seen = 0; seen < occurrence && at < static_cast<long>(trace.size()); ++at) {
            seen += trace[static_cast<size_t>(at)] == call;
        }
        ASSERT_EQ(trace[static_cast<size_t>(at - 1)], call);
        Sandbox box;
        sys::fault::arm({.failAt = at, .error = error});
        std::string outcome = box.extract(clean.zip());
        sys::fault::disarm();
        EXPECT_EQ(outcome, message);
        EXPECT_EQ(box.tree(), spec(tree));
    }
}
#endif

TEST(ExtractZip, EveryCorpusArchiveGetsItsVerdict) {
    // The message and every name left in the destination, joined by "|".
    std::map<std::string, std::pair<std::string, std::string>> cases = {
        {"libarchive_test_read_format_zip_7075_utf8_paths.zip",
         {"", "File 1.txt|File 2 - ö.txt|File 3 - ä.txt|File 4 - xx.txt"}},
        {"libarchive_test_read_format_zip_encryption_header.zip", {"ZIP 读取失败", ""}},
        {"libarchive_test_read_format_zip_encryption_partially.zip", {kUnsafe, "bar.txt"}},
        // CP866 names are not UTF-8 and happen to decode as GB18030: they arrive as Chinese.
        {"libarchive_test_read_format_zip_filename_cp866.zip", {"", "彁垈厭|\ue215áモ"}},
        {"libarchive_test_read_format_zip_length_at_end.zip", {"", "hello.txt"}},
        {"libarchive_test_read_format_zip_mac_metadata.zip", {"", "__MACOSX|__MACOSX/._file3|file3"}},
        {"libarchive_test_read_format_zip_malformed1.zip",
         {"ZIP 文件“libarchive_test_read_format_zip_malformed1.zip”使用了不支持的压缩方式或功能，请用常见的 ZIP "
          "工具重新打包。",
          "0000"}},
        {"libarchive_test_read_format_zip_sfx.zip", {"", "build.sh|file0"}},
        {"libarchive_test_read_format_zip_size_exceeds_declared_deflate.zip",
         {"ZIP "
          "文件“libarchive_test_read_format_zip_size_exceeds_declared_deflate.zip”已损坏：记录的大小与实际内容不符。",
          "first"}},
        {"libarchive_test_read_format_zip_uncompressed_size_off_by_4gib.zip", {kDeclared, ""}},
        {"libarchive_test_symlink_1.zip", {kUnsafe, "dir"}},
        {"rubyzip_jwilk_relative2.zip", {kComponent, "tmp"}},
        {"snyk_zip-slip.zip", {kComponent, "good.txt"}},
        // libarchive turns the backslashes into slashes; the ".." is what stops it.
        {"snyk_zip-slip-win.zip", {kComponent, "good.txt"}},
        {"generated/backslash_names.zip", {kComponent, "dir|dir/file.txt"}},
        {"generated/case_collision.zip", {"", "Addon|Addon/README.txt|Addon/Readme.txt|addon|addon/x.lua"}},
        {"generated/cd_overlap_same_local.zip", {"", "a.bin"}},
        {"generated/duplicate_names.zip", {kTaken, "a.txt"}},
        {"generated/file_vs_dir.zip", {kConflict, "x"}},
        {"generated/nfc_nfd_collision.zip", {kTaken, "café.txt"}},
        {"generated/sharp_s_ss_collision.zip", {"", "strasse.txt|straße.txt"}},
        {"generated/special_files.zip", {kUnsafe, "fifo"}},
    };
    for (const std::string name :
         {"libarchive_test_read_format_zip_traditional_encryption_data.zip",
          "libarchive_test_read_format_zip_winzip_aes128.zip", "libarchive_test_symlink_dotdot.zip",
          "rubyzip_jwilk_absolute1.zip", "rubyzip_jwilk_absolute2.zip", "rubyzip_jwilk_dirsymlink.zip",
          "rubyzip_jwilk_dirsymlink2a.zip", "rubyzip_jwilk_dirsymlink2b.zip", "rubyzip_jwilk_symlink.zip",
          "generated/colon_names.zip", "generated/empty_and_slash_names.zip"}) {
        cases[name] = {kUnsafe, ""};
    }
    for (const std::string name :
         {"generated/control_bytes.zip", "generated/dot_components.zip", "generated/unicode_path_extra_mismatch.zip"}) {
        cases[name] = {kComponent, ""};
    }
    // Checked with the real limits in their own tests.
    const std::set<std::string> large = {"fifield_zbsm.zip", "recursiveextractor_10GB.zip.bz2",
                                         "generated/many_entries_50001.zip"};
    for (const auto& item : fs::recursive_directory_iterator(corpus("zips"))) {
        std::string name = fs::relative(item.path(), corpus("zips")).native();
        if (name.ends_with(".zip") || name.ends_with(".bz2")) {
            EXPECT_EQ(cases.count(name) + large.count(name), 1u) << name << " has no verdict";
        }
    }
    for (const auto& [name, verdict] : cases) {
        SCOPED_TRACE(name);
        Sandbox box;
        EXPECT_EQ(box.extract(corpus("zips/" + name)), verdict.first);
        std::string names;
        for (const auto& item : box.tree()) {
            names += (names.empty() ? "" : "|") + item.first;
        }
        EXPECT_EQ(names, verdict.second);
    }
}

TEST(ExtractZip, CorpusSizeBombsStopAtTheRealByteBudget) {
    // 250 entries whose data overlap: 5.4 GB declared in 42 KB, each size true. The declared
    // size of the entry that no longer fits stops it before a byte of it is written.
    Sandbox overlap, wrapped;
    EXPECT_EQ(overlap.extract(corpus("zips/fifield_zbsm.zip")), kDeclared);
    uintmax_t total = 0;
    for (const auto& item : fs::recursive_directory_iterator(overlap.dest())) {
        total += item.is_regular_file() ? item.file_size() : 0;
    }
    EXPECT_LE(total, kBudget);
    EXPECT_GT(total, kBudget - 22'000'000);
    // One entry declaring 1.9 GB (a 32-bit wrap) that inflates to 10 GB: only the count of
    // written bytes can stop it, at exactly 2 GiB.
    ASSERT_EQ(std::system(("bunzip2 -c '" + corpus("zips/recursiveextractor_10GB.zip.bz2").native() + "' > '" +
                           wrapped.zip().native() + "'")
                              .c_str()),
              0);
    EXPECT_EQ(wrapped.extract(wrapped.zip()), kWritten);
    Tree left = wrapped.tree();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left.begin()->second, std::to_string(kBudget) + " bytes");
}
