#include <gtest/gtest.h>

#include <archive_entry.h>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <set>
#include <sys/stat.h>
#include <variant>

#include "archive/ExtractZip.h"
#include "records/Sys.h"
#include "support/TestSupport.h"
#include "support/ZipBuilder.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const std::string kRead = "ZIP 读取失败";
const std::string kDestination = "无法打开隔离目录";
const std::string kEmpty = "ZIP 为空";
const std::string kCancelled = "操作已取消";
const std::string kUnsafe = "ZIP 包含不安全的路径、链接、加密文件或过多文件";
const std::string kDeclared = "ZIP 解压总大小超过 2 GiB 限制";
const std::string kComponent = "ZIP 包含非法路径分量";
const std::string kMkdir = "无法创建解压目录";
const std::string kConflict = "ZIP 目录冲突或链接";
const std::string kTaken = "ZIP 存在重名文件或目录冲突";
const std::string kWritten = "ZIP 实际解压大小超过限制";
const std::string kWrite = "写入失败，请检查磁盘空间";
const std::string kSync = "文件同步失败";
const std::string D = "<dir>";
constexpr uint64_t kBudget = 2'147'483'648ULL;

using Tree = std::map<std::string, std::string>;
// Entries that writeZip encrypts with a passphrase.
struct Encrypted {
    std::vector<ZipEntry> entries;
};
using Entries = std::variant<std::vector<ZipEntry>, std::vector<RawZipEntry>, Encrypted>;

struct Outcome {
    int result;
    std::string message;
};

size_t openDescriptors() {
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// A destination folder beside files of its own: anything the extraction writes outside the
// destination changes the tree around it. Large cases pass a base on tmpfs, where a flush
// costs nothing.
class Sandbox {
public:
    explicit Sandbox(const fs::path& base = {}) {
        std::string pattern = ((base.empty() ? fs::temp_directory_path() : base) / "olvex-zip-XXXXXX").native();
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
    Tree tree() const { return snapshotTree(dest()); }

    void build(const Entries& entries) const {
        if (auto* plain = std::get_if<std::vector<ZipEntry>>(&entries)) {
            writeZip(zip(), *plain);
        } else if (auto* secret = std::get_if<Encrypted>(&entries)) {
            writeZip(zip(), secret->entries, {.deflate = true, .passphrase = "olvex"});
        } else {
            writeRawZip(zip(), std::get<std::vector<RawZipEntry>>(entries));
        }
    }

    // Runs one extraction and checks what must hold on every path: nothing outside the
    // destination changed, every descriptor was released, the thread's locale is back, and the
    // message buffer was written exactly when the extraction failed.
    Outcome extract(const fs::path& archive, const archive::ExtractLimits& limits = {},
                    olvex_cancel_query query = nullptr, void* context = nullptr) const {
        // libarchive's name conversion depends on the locale: the tests run in the plain "C" one.
        EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
        Tree before = outside();
        size_t descriptors = openDescriptors();
        locale_t locale = ::uselocale(static_cast<locale_t>(nullptr));
        char message[1024];
        std::memset(message, '#', sizeof message);
        int result =
            archive::extractZip(archive.c_str(), dest().c_str(), message, sizeof message, query, context, limits);
        EXPECT_EQ(outside(), before) << "written outside the destination";
        EXPECT_EQ(openDescriptors(), descriptors);
        EXPECT_EQ(::uselocale(static_cast<locale_t>(nullptr)), locale);
        if (result == 0) {
            EXPECT_EQ(message[0], '#') << "message buffer written on success";
            return {0, ""};
        }
        EXPECT_EQ(result, -1);
        return {result, message};
    }
    Outcome extract(const archive::ExtractLimits& limits = {}) const { return extract(zip(), limits); }

private:
    // Everything but the destination; large files are only measured, never read.
    Tree outside() const {
        Tree all;
        for (auto it = fs::recursive_directory_iterator(m_dir); it != fs::recursive_directory_iterator(); ++it) {
            if (it->path() == dest()) {
                it.disable_recursion_pending();
                continue;
            }
            std::string relative = it->path().native().substr(m_dir.native().size() + 1);
            bool small = it->is_regular_file() && it->file_size() < (1u << 20);
            all[relative] = small ? readFile(it->path())
                                  : std::to_string(static_cast<int>(it->symlink_status().type())) + " " +
                                        std::to_string(it->is_regular_file() ? it->file_size() : 0);
        }
        return all;
    }
    fs::path m_dir;
};

std::map<std::string, uint64_t> sizes(const fs::path& root) {
    std::map<std::string, uint64_t> out;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        out[item.path().native().substr(root.native().size() + 1)] = item.is_regular_file() ? item.file_size() : 0;
    }
    return out;
}

fs::path shm() {
    return fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
}

RawZipEntry raw(std::string name, std::string data = "x", uint32_t mode = 0100644) {
    return {std::move(name), std::move(data), mode, true, false, std::nullopt};
}

RawZipEntry unflagged(std::string name, std::string data = "x") {
    RawZipEntry entry = raw(std::move(name), std::move(data));
    entry.utf8Flag = false;
    return entry;
}

ZipEntry gbk(std::string bytes, std::string content = "x") {
    ZipEntry entry = ZipEntry::file("", std::move(content));
    entry.rawName = std::move(bytes);
    return entry;
}

// Bytes that do not compress, so that an archive is about as large as its content.
std::string noise(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char& byte : bytes) {
        state = state * 1'103'515'245u + 12'345u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

// A path of exactly `length` bytes in components of 199 bytes, the last one filling up.
std::string pathOfLength(size_t length) {
    std::string path;
    while (length - path.size() > 200) {
        path += std::string(199, 'd') + "/";
    }
    return path + std::string(length - path.size(), 'f');
}

} // namespace

TEST(ExtractZip, EntryRulesRefuseHostileEntriesAndKeepTheirSafeTwins) {
    const std::string escape = "/tmp/olvex-zip-absolute-escape.txt";
    fs::remove(escape);
    struct Case {
        std::string what;
        Entries entries;
        std::string message; // empty: success
        Tree tree;
    };
    const std::vector<Case> cases = {
        {"absolute", std::vector{ZipEntry::file(escape, "x")}, kUnsafe, {}},
        {"absolute, doubled slash", std::vector{ZipEntry::file("/" + escape, "x")}, kUnsafe, {}},
        {"relative twin",
         std::vector{ZipEntry::file(escape.substr(1), "x")},
         "",
         {{"tmp", D}, {escape.substr(1), "x"}}},
        {"leading ..", std::vector{ZipEntry::file("../escaped.txt", "x")}, kComponent, {}},
        {"inner ..", std::vector{ZipEntry::file("a/b/../../../escaped.txt", "x")}, kComponent, {{"a", D}, {"a/b", D}}},
        {"trailing .. of a directory", std::vector{ZipEntry::directory("a/..")}, kComponent, {{"a", D}}},
        {"leading .", std::vector{ZipEntry::file("./a.txt", "x")}, kComponent, {}},
        {"inner .", std::vector{ZipEntry::file("a/./b.txt", "x")}, kComponent, {{"a", D}}},
        {"dots that are names",
         std::vector{ZipEntry::file("..foo", "1"), ZipEntry::file("...", "2"), ZipEntry::file("a..b/c.", "3")},
         "",
         {{"..foo", "1"}, {"...", "2"}, {"a..b", D}, {"a..b/c.", "3"}}},
        {"backslash in a raw name", std::vector{unflagged("\xff\\..\\escaped.txt")}, kUnsafe, {}},
        {"backslash in a GBK name", std::vector{gbk("\xd6\xd0\\..\\escaped.txt")}, kUnsafe, {}},
        {"GBK name whose second byte is a backslash",
         std::vector{gbk("\x81\x5c\xb1\xed.txt")},
         "",
         {{"乗表.txt", "x"}}},
        {"colon", std::vector{ZipEntry::file("C:evil.txt", "x")}, kUnsafe, {}},
        {"colon inside", std::vector{ZipEntry::file("a/b:stream", "x")}, kUnsafe, {}},
        {"colon-free twin", std::vector{ZipEntry::file("a/b-stream", "x")}, "", {{"a", D}, {"a/b-stream", "x"}}},
        {"control byte",
         std::vector{ZipEntry::file("a\x01"
                                    "b.txt",
                                    "x")},
         kComponent,
         {}},
        {"newline", std::vector{ZipEntry::file("new\nline.txt", "x")}, kComponent, {}},
        {"escape", std::vector{ZipEntry::file("dir/esc\x1b[31m.txt", "x")}, kComponent, {{"dir", D}}},
        {"delete", std::vector{ZipEntry::file("del\x7f.txt", "x")}, kComponent, {}},
        {"spaces and Chinese",
         std::vector{ZipEntry::file("插件 目录/说明.txt", "x")},
         "",
         {{"插件 目录", D}, {"插件 目录/说明.txt", "x"}}},
        {"symlink",
         std::vector{ZipEntry::file("a.txt", "x"), ZipEntry::symlink("link", "/etc")},
         kUnsafe,
         {{"a.txt", "x"}}},
        {"file in its place",
         std::vector{ZipEntry::file("a.txt", "x"), ZipEntry::file("link", "/etc")},
         "",
         {{"a.txt", "x"}, {"link", "/etc"}}},
        {"encrypted", Encrypted{{ZipEntry::file("a.txt", "secret")}}, kUnsafe, {}},
        {"the same in the clear", std::vector{ZipEntry::file("a.txt", "secret")}, "", {{"a.txt", "secret"}}},
        {"encryption flag only", std::vector{RawZipEntry{"b.txt", "x", 0100644, true, true, {}}}, kUnsafe, {}},
        {"character device", std::vector{raw("dev", "", 020644)}, kUnsafe, {}},
        {"block device", std::vector{raw("dev", "", 060644)}, kUnsafe, {}},
        {"socket", std::vector{raw("sock", "", 0140644)}, kUnsafe, {}},
        // libarchive reports a FIFO entry as a regular file; it becomes one, never a FIFO.
        {"fifo", std::vector{raw("fifo", "", 010644)}, "", {{"fifo", ""}}},
        {"setuid file", std::vector{raw("run.sh", "#!", 0104755)}, "", {{"run.sh", "#!"}}},
        {"empty name", std::vector{raw("", "x")}, kUnsafe, {}},
        {"doubled slash", std::vector{ZipEntry::file("a//b.txt", "x")}, "", {{"a", D}, {"a/b.txt", "x"}}},
        // Named with a trailing slash, libarchive reports a directory whatever the mode says.
        {"trailing slash on a file", std::vector{raw("d/f.txt/", "data")}, "", {{"d", D}, {"d/f.txt", D}}},
        {"duplicate file",
         std::vector{ZipEntry::file("a.txt", "first"), ZipEntry::file("a.txt", "second")},
         kTaken,
         {{"a.txt", "first"}}},
        {"file then directory",
         std::vector{ZipEntry::file("x", "file"), ZipEntry::directory("x/")},
         kConflict,
         {{"x", "file"}}},
        {"file then file below it",
         std::vector{ZipEntry::file("x", "file"), ZipEntry::file("x/y", "y")},
         kConflict,
         {{"x", "file"}}},
        {"directory then file",
         std::vector{ZipEntry::directory("x/"), ZipEntry::file("x", "file")},
         kTaken,
         {{"x", D}}},
        {"directories merge",
         std::vector{ZipEntry::directory("x/"), ZipEntry::file("x/a", "a"), ZipEntry::directory("x/"),
                     ZipEntry::file("x/b", "b")},
         "",
         {{"x", D}, {"x/a", "a"}, {"x/b", "b"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        box.build(c.entries);
        Outcome outcome = box.extract();
        EXPECT_EQ(outcome.message, c.message);
        EXPECT_EQ(box.tree(), c.tree);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(escape)));
}

TEST(ExtractZip, PathAndComponentLengthsStopAtTheirLimits) {
    struct Case {
        std::string name;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{{pathOfLength(2048), ""},
                                           {pathOfLength(2049), kUnsafe},
                                           {"a/" + std::string(255, 'n'), ""},
                                           {"a/" + std::string(256, 'n'), kComponent}}) {
        SCOPED_TRACE(c.name.size());
        Sandbox box;
        box.build(std::vector{ZipEntry::file(c.name, "x")});
        EXPECT_EQ(box.extract().message, c.message);
        std::error_code error;
        EXPECT_EQ(fs::exists(box.dest() / c.name, error), c.message.empty());
    }
}

TEST(ExtractZip, CreatedFilesAndDirectoriesArePrivate) {
    Sandbox box;
    box.build(std::vector{raw("d/", "", 040777), raw("d/run.sh", "#!", 0104777)});
    ASSERT_EQ(box.extract().result, 0);
    EXPECT_EQ(fs::status(box.dest() / "d").permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(box.dest() / "d/run.sh").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(ExtractZip, HardLinkTargetsAreRefusedByTheEntryRules) {
    // libarchive's ZIP reader never reports a hard link, so the rule is reached directly.
    std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(), archive_entry_free);
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    EXPECT_FALSE(archive::breaksEntryRules(entry.get(), "a.txt", 0, {}));
    archive_entry_set_hardlink(entry.get(), "b.txt");
    EXPECT_TRUE(archive::breaksEntryRules(entry.get(), "a.txt", 0, {}));
}

TEST(ExtractZip, ChineseNamesFromWindowsAreDecodedFromGbk) {
    Sandbox box;
    box.build(std::vector{gbk("\xb2\xe5\xbc\xfe/"), gbk("\xb2\xe5\xbc\xfe/\xd6\xd0\xce\xc4.lua", "print(1)"),
                          ZipEntry::file("插件/说明.txt", "utf8 flag"), gbk("é.txt", "valid UTF-8 without the flag"),
                          gbk("\xff\xfe.txt", "neither")});
    ASSERT_EQ(box.extract().message, "");
    EXPECT_EQ(box.tree(), (Tree{{"插件", D},
                                {"插件/中文.lua", "print(1)"},
                                {"插件/说明.txt", "utf8 flag"},
                                {"é.txt", "valid UTF-8 without the flag"},
                                {"\xff\xfe.txt", "neither"}}));
}

TEST(ExtractZip, TheDestinationMustBeARealDirectoryAndLinksInsideAreNotFollowed) {
    Sandbox box, elsewhere;
    box.build(std::vector{ZipEntry::file("sub/a.txt", "a")});
    fs::path target = elsewhere.dest();

    fs::path link = box.dest().parent_path() / "link";
    fs::create_directory_symlink(target, link);
    EXPECT_EQ(box.extract(box.zip()).message, "");
    EXPECT_EQ(archive::extractZip(box.zip().c_str(), link.c_str(), nullptr, 0, nullptr, nullptr, {}), -1);
    char message[64] = {};
    EXPECT_EQ(olvex_extract_zip_cancellable(box.zip().c_str(), (box.dest() / "missing").c_str(), message,
                                            sizeof message, nullptr, nullptr),
              -1);
    EXPECT_EQ(message, kDestination);
    EXPECT_EQ(elsewhere.tree(), Tree{});

    // Names already in the destination that are links: neither entered nor written through.
    Sandbox linked;
    fs::create_directory_symlink(target, linked.dest() / "sub");
    linked.build(std::vector{ZipEntry::file("sub/a.txt", "a")});
    EXPECT_EQ(linked.extract().message, kConflict);
    fs::remove(linked.dest() / "sub");
    fs::create_symlink(target / "a.txt", linked.dest() / "a.txt");
    linked.build(std::vector{ZipEntry::file("a.txt", "a")});
    EXPECT_EQ(linked.extract().message, kTaken);
    EXPECT_EQ(elsewhere.tree(), Tree{});
}

TEST(ExtractZip, ArchivesThatCannotBeReadFailWithTheLibraryText) {
    Sandbox box;
    writeZip(box.zip(), {});
    EXPECT_EQ(box.extract().message, kEmpty);
    writeFile(box.zip(), "this is not a zip file");
    EXPECT_EQ(box.extract().message, "Unrecognized archive format");
    EXPECT_EQ(box.extract(box.dest() / "missing.zip").message.rfind("Failed to open", 0), 0u);
    EXPECT_EQ(box.tree(), Tree{});

    writeZip(box.zip(), {ZipEntry::file("a.bin", noise(300'000)), ZipEntry::file("b.txt", "b")});
    std::string whole = readFile(box.zip());
    writeFile(box.zip(), whole.substr(0, 200'000)); // cut inside the data of a.bin
    EXPECT_EQ(box.extract().message, "ZIP decompression failed (-5)");
    EXPECT_EQ(box.tree().count("b.txt"), 0u);
    Sandbox intact;
    writeFile(intact.zip(), whole);
    EXPECT_EQ(intact.extract().message, "");
    EXPECT_EQ(intact.tree().size(), 2u);
}

TEST(ExtractZip, EntryAndSizeBudgetsCountDeclaredAndWrittenBytes) {
    struct Case {
        std::string what;
        archive::ExtractLimits limits;
        std::vector<RawZipEntry> entries;
        std::string message;
        std::map<std::string, uint64_t> sizes;
    };
    auto sized = [](std::string name, size_t real, std::optional<uint32_t> declared = {}) {
        RawZipEntry entry = raw(std::move(name), std::string(real, 'z'));
        entry.declaredSize = declared;
        return entry;
    };
    const std::vector<Case> cases = {
        {"entries up to the limit",
         {3, kBudget},
         {sized("a", 1), sized("b", 1), sized("c", 1)},
         "",
         {{"a", 1}, {"b", 1}, {"c", 1}}},
        {"one entry more",
         {3, kBudget},
         {sized("a", 1), sized("b", 1), sized("c", 1), sized("d", 1)},
         kUnsafe,
         {{"a", 1}, {"b", 1}, {"c", 1}}},
        {"declared up to the budget", {10, 1000}, {sized("a", 600), sized("b", 400)}, "", {{"a", 600}, {"b", 400}}},
        {"declared past what is left", {10, 1000}, {sized("a", 600), sized("b", 401)}, kDeclared, {{"a", 600}}},
        {"a directory declaring data", {10, 1000}, {raw("d/", std::string(1001, 'z'))}, kDeclared, {}},
        {"written up to the budget", {10, 131'072}, {sized("a", 131'072)}, "", {{"a", 131'072}}},
        // Declares 10 bytes, holds 200,000: stopped by the count of written bytes, after one chunk.
        {"written past the budget", {10, 100'000}, {sized("a", 200'000, 10)}, kWritten, {{"a", 65'536}}},
        {"declared past the real budget", {}, {sized("a", 1, 0x80000001u)}, kDeclared, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        box.build(c.entries);
        EXPECT_EQ(box.extract(c.limits).message, c.message);
        EXPECT_EQ(sizes(box.dest()), c.sizes);
    }
}

TEST(ExtractZip, ExactlyFiftyThousandEntriesExtractWithTheRealLimits) {
    Sandbox box(shm());
    std::vector<ZipEntry> entries;
    for (int i = 0; i < 50'000; ++i) {
        entries.push_back(ZipEntry::file("d" + std::to_string(i % 10) + "/f" + std::to_string(i), ""));
    }
    writeZip(box.zip(), entries, {.deflate = false, .passphrase = {}});
    char message[64];
    ASSERT_EQ(
        olvex_extract_zip_cancellable(box.zip().c_str(), box.dest().c_str(), message, sizeof message, nullptr, nullptr),
        0);
    EXPECT_TRUE(fs::exists(box.dest() / "d9/f49999"));
}

namespace {
// Answers "cancelled" from the Nth question on, and counts the questions.
struct CancelAt {
    int at;
    int asked = 0;
    static int query(void* context) {
        auto* self = static_cast<CancelAt*>(context);
        return ++self->asked >= self->at ? 1 : 0;
    }
};
} // namespace

TEST(ExtractZip, CancellationIsAskedBeforeEveryEntryAndAfterEveryChunk) {
    // Questions: before a.bin (1), after its four chunks (2-5), before b.txt (6), after its chunk (7).
    const std::vector<std::pair<int, std::map<std::string, uint64_t>>> cases = {
        {1, {}},
        {2, {{"a.bin", 0}}},
        {3, {{"a.bin", 65'536}}},
        {5, {{"a.bin", 196'608}}},
        {6, {{"a.bin", 200'000}}},
        {7, {{"a.bin", 200'000}, {"b.txt", 0}}},
        {8, {{"a.bin", 200'000}, {"b.txt", 1}}},
    };
    for (const auto& [at, expected] : cases) {
        SCOPED_TRACE(at);
        Sandbox box;
        box.build(std::vector{ZipEntry::file("a.bin", std::string(200'000, 'a')), ZipEntry::file("b.txt", "b")});
        CancelAt cancel{at};
        Outcome outcome = box.extract(box.zip(), {}, &CancelAt::query, &cancel);
        EXPECT_EQ(outcome.message, at <= 7 ? kCancelled : "");
        EXPECT_EQ(cancel.asked, std::min(at, 7));
        EXPECT_EQ(sizes(box.dest()), expected);
    }
}

TEST(ExtractZip, TheMessageIsCutToTheBuffer) {
    Sandbox box;
    box.build(std::vector{ZipEntry::file("../x", "x")});
    char message[8];
    std::memset(message, '#', sizeof message);
    EXPECT_EQ(olvex_extract_zip_cancellable(box.zip().c_str(), box.dest().c_str(), message, 7, nullptr, nullptr), -1);
    EXPECT_EQ(std::string(message), kComponent.substr(0, 6)); // "ZIP " and the first two bytes of 包
    EXPECT_EQ(message[7], '#');
    EXPECT_EQ(olvex_extract_zip_cancellable(box.zip().c_str(), box.dest().c_str(), nullptr, 0, nullptr, nullptr), -1);
}

#ifdef OLVEX_FAULT_INJECTION
TEST(ExtractZip, FileSystemFailuresEndTheExtractionWithTheirMessage) {
    const std::vector<ZipEntry> entries = {ZipEntry::directory("d/"), ZipEntry::file("d/f", std::string(100'000, 'f'))};
    std::vector<std::string> trace;
    {
        Sandbox box;
        box.build(entries);
        sys::fault::arm({.recordTrace = true});
        ASSERT_EQ(box.extract().result, 0);
        trace = sys::fault::trace();
        sys::fault::disarm();
    }
    struct Case {
        std::string call;
        int occurrence;
        int error;
        std::string message;
        std::map<std::string, uint64_t> sizes;
    };
    const std::vector<Case> cases = {
        {"open", 1, EACCES, kDestination, {}},
        {"dup", 1, EMFILE, kDestination, {}},
        {"mkdirat", 1, EACCES, kMkdir, {}},
        {"openat", 1, ELOOP, kConflict, {{"d", 0}}},
        {"openat", 3, EEXIST, kTaken, {{"d", 0}}}, // d, d again for the second entry, then the file
        {"write", 1, ENOSPC, kWrite, {{"d", 0}, {"d/f", 0}}},
        {"write", 2, ENOSPC, kWrite, {{"d", 0}, {"d/f", 65'536}}},
        {"syncfs", 1, EIO, kSync, {{"d", 0}, {"d/f", 100'000}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call + " " + std::to_string(c.occurrence));
        long at = 0;
        for (int seen = 0; at < static_cast<long>(trace.size()) && seen < c.occurrence; ++at) {
            seen += trace[static_cast<size_t>(at)] == c.call ? 1 : 0;
        }
        ASSERT_EQ(trace[static_cast<size_t>(at - 1)], c.call);
        Sandbox box;
        box.build(entries);
        sys::fault::arm({.failAt = at, .error = c.error});
        Outcome outcome = box.extract();
        sys::fault::disarm();
        EXPECT_EQ(outcome.message, c.message);
        EXPECT_EQ(sizes(box.dest()), c.sizes);
    }
}
#endif

TEST(ExtractZip, EveryCorpusArchiveGetsItsVerdict) {
    struct Case {
        std::string message;
        std::set<std::string> names; // what the destination holds afterwards
    };
    const std::map<std::string, Case> cases = {
        {"libarchive_test_read_format_zip_7075_utf8_paths.zip",
         {"", {"File 1.txt", "File 2 - ö.txt", "File 3 - ä.txt", "File 4 - xx.txt"}}},
        {"libarchive_test_read_format_zip_encryption_header.zip", {kRead, {}}},
        {"libarchive_test_read_format_zip_encryption_partially.zip", {kUnsafe, {"bar.txt"}}},
        // CP866 names are not UTF-8 and happen to decode as GB18030: they arrive as Chinese.
        {"libarchive_test_read_format_zip_filename_cp866.zip", {"", {"彁垈厭", "\ue215áモ"}}},
        {"libarchive_test_read_format_zip_length_at_end.zip", {"", {"hello.txt"}}},
        {"libarchive_test_read_format_zip_mac_metadata.zip", {"", {"file3", "__MACOSX", "__MACOSX/._file3"}}},
        {"libarchive_test_read_format_zip_malformed1.zip", {"Unsupported ZIP compression method (48: ?\?)", {"0000"}}},
        {"libarchive_test_read_format_zip_sfx.zip", {"", {"file0", "build.sh"}}},
        {"libarchive_test_read_format_zip_size_exceeds_declared_deflate.zip",
         {"ZIP uncompressed data is wrong size (read 262150, expected 10)\n", {"first"}}},
        {"libarchive_test_read_format_zip_traditional_encryption_data.zip", {kUnsafe, {}}},
        {"libarchive_test_read_format_zip_uncompressed_size_off_by_4gib.zip", {kDeclared, {}}},
        {"libarchive_test_read_format_zip_winzip_aes128.zip", {kUnsafe, {}}},
        {"libarchive_test_symlink_1.zip", {kUnsafe, {"dir"}}},
        {"libarchive_test_symlink_dotdot.zip", {kUnsafe, {}}},
        {"rubyzip_jwilk_absolute1.zip", {kUnsafe, {}}},
        {"rubyzip_jwilk_absolute2.zip", {kUnsafe, {}}},
        {"rubyzip_jwilk_dirsymlink.zip", {kUnsafe, {}}},
        {"rubyzip_jwilk_dirsymlink2a.zip", {kUnsafe, {}}},
        {"rubyzip_jwilk_dirsymlink2b.zip", {kUnsafe, {}}},
        {"rubyzip_jwilk_relative2.zip", {kComponent, {"tmp"}}},
        {"rubyzip_jwilk_symlink.zip", {kUnsafe, {}}},
        {"snyk_zip-slip.zip", {kComponent, {"good.txt"}}},
        // libarchive turns the backslashes into slashes; the ".." is what stops it.
        {"snyk_zip-slip-win.zip", {kComponent, {"good.txt"}}},
        {"generated/backslash_names.zip", {kComponent, {"dir", "dir/file.txt"}}},
        {"generated/case_collision.zip",
         {"", {"Addon", "Addon/Readme.txt", "Addon/README.txt", "addon", "addon/x.lua"}}},
        {"generated/cd_overlap_same_local.zip", {"", {"a.bin"}}},
        {"generated/colon_names.zip", {kUnsafe, {}}},
        {"generated/control_bytes.zip", {kComponent, {}}},
        {"generated/dot_components.zip", {kComponent, {}}},
        {"generated/duplicate_names.zip", {kTaken, {"a.txt"}}},
        {"generated/empty_and_slash_names.zip", {kUnsafe, {}}},
        {"generated/file_vs_dir.zip", {kConflict, {"x"}}},
        {"generated/nfc_nfd_collision.zip", {kTaken, {"café.txt"}}},
        {"generated/sharp_s_ss_collision.zip", {"", {"straße.txt", "strasse.txt"}}},
        {"generated/special_files.zip", {kUnsafe, {"fifo"}}},
        {"generated/unicode_path_extra_mismatch.zip", {kComponent, {}}},
    };
    // Checked with the real limits in their own tests below.
    const std::set<std::string> large = {"fifield_zbsm.zip", "recursiveextractor_10GB.zip.bz2",
                                         "generated/many_entries_50001.zip"};
    for (const fs::path& folder : {corpus("zips"), corpus("zips/generated")}) {
        for (const auto& item : fs::directory_iterator(folder)) {
            std::string name = fs::relative(item.path(), corpus("zips")).native();
            if (item.is_regular_file() && (name.ends_with(".zip") || name.ends_with(".bz2"))) {
                EXPECT_TRUE(cases.count(name) + large.count(name) == 1) << name << " has no verdict";
            }
        }
    }
    for (const auto& [name, c] : cases) {
        SCOPED_TRACE(name);
        Sandbox box;
        EXPECT_EQ(box.extract(corpus("zips/" + name)).message, c.message);
        std::set<std::string> names;
        for (const auto& item : sizes(box.dest())) {
            names.insert(item.first);
        }
        EXPECT_EQ(names, c.names);
    }
}

TEST(ExtractZip, CorpusEntryBombStopsAtTheRealEntryLimit) {
    Sandbox box(shm());
    EXPECT_EQ(box.extract(corpus("zips/generated/many_entries_50001.zip")).message, kUnsafe);
    auto extracted = sizes(box.dest());
    EXPECT_EQ(extracted.size(), 50'000u);
    EXPECT_EQ(extracted.count("f49999"), 1u);
    EXPECT_EQ(extracted.count("f50000"), 0u);
}

TEST(ExtractZip, CorpusSizeBombsStopAtTheRealByteBudget) {
    {
        // 250 entries whose data overlap: 5.4 GB declared in 42 KB, each size true. The declared
        // size of the entry that no longer fits stops it before a byte of it is written.
        Sandbox box;
        EXPECT_EQ(box.extract(corpus("zips/fifield_zbsm.zip")).message, kDeclared);
        uint64_t total = 0;
        for (const auto& item : sizes(box.dest())) {
            total += item.second;
        }
        EXPECT_LE(total, kBudget);
        EXPECT_GT(total, kBudget - 22'000'000);
    }
    {
        // One entry declaring 1.9 GB (a 32-bit wrap) that inflates to 10 GB: only the count of
        // written bytes can stop it, at exactly 2 GiB.
        Sandbox box;
        std::string unpack = "bunzip2 -c '" + corpus("zips/recursiveextractor_10GB.zip.bz2").native() + "' > '" +
                             box.zip().native() + "'";
        ASSERT_EQ(std::system(unpack.c_str()), 0);
        EXPECT_EQ(box.extract().message, kWritten);
        auto extracted = sizes(box.dest());
        ASSERT_EQ(extracted.size(), 1u);
        EXPECT_EQ(extracted.begin()->second, kBudget);
    }
}
