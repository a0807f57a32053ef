// libFuzzer target of the ZIP extraction. Each input is written as an archive file and
// extracted into a fresh destination; afterwards the target checks what must hold whatever
// the input: the result is 0 or -1 with a message exactly on failure, nothing outside the
// destination changed, the destination holds only private directories and regular files
// within the byte budget, every descriptor was released and the thread's locale is back.
// A broken rule aborts with a line starting "ESCAPE:", which scripts/fuzz.sh counts apart
// from crashes found by the sanitizers.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <locale.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/ExtractZip.h"

namespace fs = std::filesystem;

namespace {

// Small budgets keep every run fast; the rules are the same as with the real ones.
constexpr olvex::archive::ExtractLimits kLimits{200, 8u << 20};
const std::string kSentinel = "left alone";

fs::path g_work;

[[noreturn]] void escape(const std::string& what) {
    std::fprintf(stderr, "ESCAPE: %s\n", what.c_str());
    std::abort();
}

size_t openDescriptors() {
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

void removeWorkspace() {
    std::error_code ignored;
    fs::remove_all(g_work, ignored);
}

// Answers "cancelled" from the Nth question on; N = 0 never cancels.
struct CancelAt {
    unsigned at;
    unsigned asked = 0;
    static int query(void* context) {
        auto* self = static_cast<CancelAt*>(context);
        return self->at != 0 && ++self->asked >= self->at ? 1 : 0;
    }
};

void checkOutside() {
    for (const auto& item : fs::directory_iterator(g_work)) {
        std::string name = item.path().filename();
        if (name != "archive.zip" && name != "box") {
            escape("created beside the workspace: " + name);
        }
    }
    for (const auto& item : fs::directory_iterator(g_work / "box")) {
        std::string name = item.path().filename();
        if (name != "dest" && name != "sentinel") {
            escape("created beside the destination: " + name);
        }
    }
    std::ifstream in(g_work / "box/sentinel", std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (content != kSentinel) {
        escape("file beside the destination changed");
    }
}

void checkDestination() {
    uint64_t bytes = 0;
    for (const auto& item : fs::recursive_directory_iterator(g_work / "box/dest")) {
        struct stat st {};
        if (::lstat(item.path().c_str(), &st) != 0) {
            escape("cannot examine " + item.path().native());
        }
        if (S_ISDIR(st.st_mode)) {
            if ((st.st_mode & 077) != 0) {
                escape("directory open to others: " + item.path().native());
            }
        } else if (S_ISREG(st.st_mode)) {
            if ((st.st_mode & 0177) != 0) {
                escape("file with more than owner read/write: " + item.path().native());
            }
            bytes += static_cast<uint64_t>(st.st_size);
        } else {
            escape("neither directory nor regular file: " + item.path().native());
        }
    }
    if (bytes > kLimits.maxTotalBytes) {
        escape("byte budget passed: " + std::to_string(bytes));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = std::getenv("OLVEX_FUZZ_WORK");
    std::string pattern = ((base != nullptr ? fs::path(base) : fs::temp_directory_path()) / "run-XXXXXX").native();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    g_work = pattern;
    fs::create_directories(g_work / "box");
    std::ofstream(g_work / "box/sentinel", std::ios::binary) << kSentinel;
    std::atexit(removeWorkspace);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fs::path archive = g_work / "archive.zip";
    fs::path dest = g_work / "box/dest";
    {
        std::ofstream out(archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    fs::remove_all(dest);
    fs::create_directory(dest);

    size_t descriptors = openDescriptors();
    locale_t locale = ::uselocale(static_cast<locale_t>(nullptr));
    // Some inputs also exercise cancellation, chosen from the size so the archive bytes stay intact.
    CancelAt cancel{size % 13 == 0 ? 1 + static_cast<unsigned>(size / 13 % 40) : 0};
    char message[1024];
    std::memset(message, 0x7F, sizeof message);

    int result = olvex::archive::extractZip(archive.c_str(), dest.c_str(), message, sizeof message, &CancelAt::query,
                                            &cancel, kLimits);

    if (result == 0 && message[0] != 0x7F) {
        escape("message written on success");
    }
    if (result == -1 && (std::memchr(message, 0, sizeof message) == nullptr || message[0] == '\0')) {
        escape("failure without a message");
    }
    if (result != 0 && result != -1) {
        escape("result " + std::to_string(result));
    }
    if (openDescriptors() != descriptors) {
        escape("descriptor leaked");
    }
    if (::uselocale(static_cast<locale_t>(nullptr)) != locale) {
        escape("thread locale not restored");
    }
    checkOutside();
    checkDestination();
    return 0;
}
