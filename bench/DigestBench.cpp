// The file digest walk (fileDigests) against `openssl dgst -sha256` over the
// same files. Both hash with libcrypto, which uses the CPU's SHA instructions where it has
// them; ours also walks the tree, refuses links and special files and builds the map, while
// the baseline is handed the list of files ready-made (outside the measured time), in
// batches that fit one argument list as xargs would pass them.
//
//   bench_file_digests --make-tree=data/digest-tree   makes the tree once and checks that both
//                                                     sides agree on every file
//   bench_file_digests --tree=data/digest-tree/small --benchmark_filter=file_digests/ours

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "BenchSupport.h"
#include "packs/FileDigests.h"

namespace fs = std::filesystem;

namespace {

fs::path g_tree;
std::vector<std::string> g_files;

void writeRandom(const fs::path& path, size_t size, std::mt19937_64& random) {
    std::string data(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        std::uint64_t word = random();
        std::memcpy(&data[i], &word, 8);
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0 || ::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
        throw std::runtime_error("cannot write " + path.native());
    }
    ::close(fd);
}

// small/: 200 add-on folders of 60 files of 0.2 to 24 KB (12,000 files, about 140 MB), the
// shape of a large add-on pack; large/: 4 files of 96 MiB, like bundled media.
void makeTree(const fs::path& root) {
    std::mt19937_64 random(2001);
    std::uniform_int_distribution<size_t> smallSize(200, 24'000);
    for (int folder = 0; folder < 200; ++folder) {
        fs::path sub = root / "small" / ("Addon" + std::to_string(folder)) / "libs";
        fs::create_directories(sub);
        for (int file = 0; file < 60; ++file) {
            writeRandom(sub / ("file" + std::to_string(file) + ".lua"), smallSize(random), random);
        }
    }
    fs::create_directories(root / "large");
    for (int file = 0; file < 4; ++file) {
        writeRandom(root / "large" / ("media" + std::to_string(file) + ".blp"), 96u << 20, random);
    }
}

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

// Runs `openssl dgst -sha256 -r` in `root` over the files, its output into `output`. Returns
// the largest peak resident memory of its processes in KiB.
long runOpenssl(const fs::path& root, const std::vector<std::string>& files, const fs::path& output) {
    long peak = 0;
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
            int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (out < 0 || ::dup2(out, 1) < 0 || ::chdir(root.c_str()) != 0) {
                ::_exit(126);
            }
            ::execvp("openssl", const_cast<char* const*>(argv.data()));
            ::_exit(127);
        }
        int status = 0;
        struct rusage usage {};
        if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            throw std::runtime_error("openssl dgst failed (is the openssl package installed?)");
        }
        peak = std::max(peak, usage.ru_maxrss);
    }
    return peak;
}

// Both sides over one folder must give the same digest for every file.
void verify(const fs::path& root, const fs::path& output) {
    olvex::DigestMap ours = olvex::fileDigests(root);
    const std::vector<std::string> files = filesBelow(root);
    fs::remove(output);
    runOpenssl(root, files, output);
    std::map<std::string, std::string> theirs;
    FILE* in = std::fopen(output.c_str(), "r");
    char line[8192];
    while (in && std::fgets(line, sizeof line, in)) {
        std::string text(line);
        text.erase(text.find_last_not_of('\n') + 1);
        if (text.size() > 66) {
            theirs[text.substr(66)] = text.substr(0, 64); // "<hex> *<path>"
        }
    }
    if (in) {
        std::fclose(in);
    }
    fs::remove(output);
    if (theirs.size() != files.size()) {
        throw std::runtime_error("openssl reported " + std::to_string(theirs.size()) + " files of " +
                                 std::to_string(files.size()));
    }
    for (const auto& [path, digest] : theirs) {
        auto it = ours.find(path);
        if (it == ours.end() || it->second != digest) {
            throw std::runtime_error("the digests of " + path + " differ");
        }
    }
}

void digestOurs(benchmark::State& state) {
    size_t entries = 0;
    for (auto _ : state) {
        entries = olvex::fileDigests(g_tree).size();
        benchmark::DoNotOptimize(entries);
    }
    state.counters["entries"] = static_cast<double>(entries);
    olvex::bench::reportOwnPeak(state);
}

void digestOpenssl(benchmark::State& state) {
    olvex::bench::measureTool(state, [] { return runOpenssl(g_tree, g_files, "/dev/null"); });
}

BENCHMARK(digestOurs)->Name("file_digests/ours")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(digestOpenssl)->Name("file_digests/openssl")->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string make = olvex::bench::takeFlag(argc, argv, "make-tree");
    g_tree = olvex::bench::takeFlag(argc, argv, "tree");
    if (benchmark::ReportUnrecognizedArguments(argc, argv) || (make.empty() == g_tree.empty())) {
        std::fprintf(stderr,
                     "usage: bench_file_digests --make-tree=<new folder> | --tree=<folder> [benchmark flags]\n");
        return 2;
    }
    try {
        if (!make.empty()) {
            makeTree(make);
            const fs::path check = make + ".openssl-check";
            for (const char* part : {"small", "large"}) {
                verify(fs::path(make) / part, check);
            }
            verify(make, check);
            return 0;
        }
        g_files = filesBelow(g_tree);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
