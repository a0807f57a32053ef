// Benchmark of the file digest walk against `openssl dgst -sha256` over the same files, in
// the same run. Both hash with libcrypto (SHA instructions where the CPU has them); ours also
// walks the tree, checks every entry for links and special files and builds the map, while
// the baseline is handed the file list ready-made. Runs alternate (ours, baseline, ours, ...)
// so that drift of the shared machine hits both alike, and the table shows medians and their
// ratio: absolute times on these machines are noise.
//
// Usage: olvex_bench_digest [rounds] [folder]   (folder: where the test tree is made, default
// TMPDIR or /tmp; it is removed at the end)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "records/Errors.h"
#include "service/ManagerService.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void writeBytes(const fs::path& path, size_t size, std::mt19937_64& random) {
    std::string data(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        std::uint64_t word = random();
        std::memcpy(&data[i], &word, 8);
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
        std::perror(path.c_str());
        std::exit(1);
    }
    ::close(fd);
}

// Many small files (an add-on folder's shape) and a few large ones (textures, sound).
void makeTree(const fs::path& root) {
    std::mt19937_64 random(2001);
    std::uniform_int_distribution<size_t> smallSize(200, 24'000);
    for (int folder = 0; folder < 200; ++folder) {
        fs::path sub = root / "small" / ("Addon" + std::to_string(folder)) / "libs";
        fs::create_directories(sub);
        for (int file = 0; file < 60; ++file) {
            writeBytes(sub / ("file" + std::to_string(file) + ".lua"), smallSize(random), random);
        }
    }
    fs::create_directories(root / "large");
    for (int file = 0; file < 4; ++file) {
        writeBytes(root / "large" / ("media" + std::to_string(file) + ".blp"), 96u << 20, random);
    }
}

// Regular files below root, relative to it, in a stable order.
std::vector<std::string> filesBelow(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files.push_back(fs::relative(entry.path(), root).native());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Runs `openssl dgst -sha256 -r` in root over the files, in batches that fit an argument list
// (as xargs would), with its output sent to `output`. Returns the wall time in seconds.
double runOpenssl(const fs::path& root, const std::vector<std::string>& files, const fs::path& output) {
    int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    auto start = Clock::now();
    size_t next = 0;
    while (next < files.size()) {
        std::vector<const char*> argv{"openssl", "dgst", "-sha256", "-r"};
        size_t bytes = 0;
        while (next < files.size() && bytes < (1u << 20)) {
            argv.push_back(files[next].c_str());
            bytes += files[next].size() + 1;
            ++next;
        }
        argv.push_back(nullptr);
        pid_t child = ::fork();
        if (child == 0) {
            ::dup2(out, 1);
            if (::chdir(root.c_str()) != 0) {
                ::_exit(126);
            }
            ::execvp("openssl", const_cast<char* const*>(argv.data()));
            ::_exit(127);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "openssl dgst failed (is the openssl package installed?)\n");
            std::exit(1);
        }
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(out);
    return seconds;
}

// Parses "<hex> *<path>" lines.
std::map<std::string, std::string> readOpensslOutput(const fs::path& output) {
    std::map<std::string, std::string> digests;
    FILE* in = std::fopen(output.c_str(), "r");
    char line[8192];
    while (in && std::fgets(line, sizeof line, in)) {
        std::string text(line);
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        if (text.size() > 66) {
            digests[text.substr(66)] = text.substr(0, 64);
        }
    }
    if (in) {
        std::fclose(in);
    }
    return digests;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Row {
    std::string label;
    double ours;
    double baseline;
};

Row measure(const std::string& label, const fs::path& root, int rounds, const fs::path& scratch) {
    olvex::ManagerService service;
    const std::vector<std::string> files = filesBelow(root);
    const fs::path output = scratch / "openssl.out";

    // Warm-up of both, which also proves that the two agree on every file.
    olvex::DigestMap ours = service.fileDigests(root);
    runOpenssl(root, files, output);
    auto theirs = readOpensslOutput(output);
    if (theirs.size() != files.size()) {
        std::fprintf(stderr, "%s: openssl reported %zu of %zu files\n", label.c_str(), theirs.size(), files.size());
        std::exit(1);
    }
    for (const auto& [path, digest] : theirs) {
        auto it = ours.find(path);
        if (it == ours.end() || it->second != digest) {
            std::fprintf(stderr, "%s: digests differ for %s\n", label.c_str(), path.c_str());
            std::exit(1);
        }
    }

    std::vector<double> a, b;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        olvex::DigestMap map = service.fileDigests(root);
        a.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        if (map.size() != ours.size()) {
            std::exit(1);
        }
        b.push_back(runOpenssl(root, files, output));
    }
    return Row{label + " (" + std::to_string(files.size()) + " files)", median(a), median(b)};
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const char* tmp = std::getenv("TMPDIR");
    fs::path base = argc > 2 ? fs::path(argv[2]) : fs::path(tmp && *tmp ? tmp : "/tmp");
    std::string pattern = (base / "olvex-digest-bench-XXXXXX").native();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path scratch = pattern;
    const fs::path tree = scratch / "tree";
    int status = 0;
    try {
        makeTree(tree);
        std::vector<Row> rows{measure("fileDigests, small files", tree / "small", rounds, scratch),
                              measure("fileDigests, large files", tree / "large", rounds, scratch),
                              measure("fileDigests, mixed tree", tree, rounds, scratch)};
        std::printf("%-44s %12s %22s %8s\n", "benchmark", "ours", "openssl dgst -sha256", "ratio");
        for (const auto& row : rows) {
            std::printf("%-44s %10.3f s %20.3f s %8.2f\n", row.label.c_str(), row.ours, row.baseline,
                        row.ours / row.baseline);
        }
        std::printf("(medians of %d alternating runs; goal: ratio at most 1.10)\n", rounds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return status;
}
