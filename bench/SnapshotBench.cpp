// A manual WTF backup (backupWTF) beside the standard tools doing the same work: one copy of
// the WTF folder (`cp -r`) and one `sync` for durability.
//
//   bench_snapshot --wtf=wtf-template/ --into=runs/ --benchmark_filter=snapshot/ours
//
// snapshot_again/ours/P measures the second backup, P percent of the files changed since the
// first (it shares the rest with it). snapshot_disk/ours makes five backups, 1% of the files
// changed before each after the first, and reports as "disk_ratio" what the store takes on
// disk (as du counts it: allocated blocks, each file once) over what the WTF folder takes.
//
// Every iteration prepares a fresh version folder holding a copy of the template WTF folder,
// flushes it, and then measures only the backup.
//
//   bench_snapshot --make-mixed=wtf-mixed/
//
// makes the second template: 20,000 files whose sizes spread evenly on a log scale from 256 B to
// 128 KiB (about 420 MB, 21 KB on average), the size the store's folders really have: add-on
// folders of 0.5-2 GB in about 20,000 files, saved variables from a few hundred bytes to
// megabytes. The first template (every file 4 KiB) is the worst case for sharing, where each
// backup's own folders and list weigh most beside its files.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "service/ManagerService.h"

namespace {

namespace fs = std::filesystem;

std::string g_wtf;
std::string g_into;

// A version folder with the template WTF folder in place, on stable storage.
fs::path prepareGame() {
    fs::path folder = olvex::bench::freshFolder(g_into);
    fs::path game = folder / "_retail_";
    fs::create_directories(game);
    olvex::bench::runTool({"cp", "-r", g_wtf, (game / "WTF").native()});
    ::sync();
    return folder;
}

// Appends a line to every (100 / percent)-th file, starting at the `round`-th, then flushes:
// the files a player's sessions change between two backups.
void changeFiles(const fs::path& wtf, int percent, int round) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(wtf)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    if (percent > 0) {
        const size_t stride = static_cast<size_t>(100 / percent);
        for (size_t i = static_cast<size_t>(round) % stride; i < files.size(); i += stride) {
            std::ofstream(files[i], std::ios::app) << "-- changed in round " << round << "\n";
        }
    }
    ::sync();
}

// Bytes allocated below a folder, each file counted once however many names it has (as du).
std::int64_t diskUse(const fs::path& folder) {
    std::set<std::pair<dev_t, ino_t>> seen;
    std::int64_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        struct ::stat st {};
        if (::lstat(entry.path().c_str(), &st) == 0 && seen.insert({st.st_dev, st.st_ino}).second) {
            bytes += static_cast<std::int64_t>(st.st_blocks) * 512;
        }
    }
    return bytes;
}

// Measures one backup of a fresh folder; `again`: the second one, with state.range(0) percent
// of the files changed since the first.
void measureBackup(benchmark::State& state, bool again) {
    for (auto _ : state) {
        state.PauseTiming();
        fs::path folder = prepareGame();
        olvex::ManagerService service({}, {}, folder);
        olvex::GameClient client(folder / "_retail_");
        if (again) {
            service.backupWTF(client);
            changeFiles(folder / "_retail_/WTF", static_cast<int>(state.range(0)), 1);
        }
        state.ResumeTiming();
        try {
            service.backupWTF(client);
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            break;
        }
    }
    olvex::bench::reportOwnPeak(state);
}

void snapshotOurs(benchmark::State& state) {
    measureBackup(state, false);
}

void snapshotAgain(benchmark::State& state) {
    measureBackup(state, true);
}

void snapshotDisk(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        fs::path folder = prepareGame();
        olvex::ManagerService service({}, {}, folder);
        olvex::GameClient client(folder / "_retail_");
        state.ResumeTiming();
        try {
            for (int round = 0; round < 5; ++round) {
                if (round > 0) {
                    state.PauseTiming();
                    changeFiles(folder / "_retail_/WTF", 1, round);
                    state.ResumeTiming();
                }
                service.backupWTF(client);
            }
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            break;
        }
        state.counters["disk_ratio"] = static_cast<double>(diskUse(folder / "_retail_/.olvex-manager/backups")) /
                                       static_cast<double>(diskUse(folder / "_retail_/WTF"));
    }
    olvex::bench::reportOwnPeak(state);
}

void snapshotTools(benchmark::State& state) {
    olvex::bench::measureTool(state, [&] {
        state.PauseTiming();
        fs::path folder = prepareGame();
        state.ResumeTiming();
        const long peak =
            olvex::bench::runTool({"cp", "-r", (folder / "_retail_/WTF").native(), (folder / "backup").native()});
        ::sync();
        return peak;
    });
}

// The same hard links made by one thread: `cp -al` of an earlier copy (a new folder tree, one
// link per file) and one `sync`, beside snapshot_again/ours/0.
void snapshotLinkTool(benchmark::State& state) {
    olvex::bench::measureTool(state, [&] {
        state.PauseTiming();
        fs::path folder = prepareGame();
        olvex::bench::runTool({"cp", "-r", (folder / "_retail_/WTF").native(), (folder / "earlier").native()});
        ::sync();
        state.ResumeTiming();
        const long peak =
            olvex::bench::runTool({"cp", "-al", (folder / "earlier").native(), (folder / "backup").native()});
        ::sync();
        return peak;
    });
}

BENCHMARK(snapshotOurs)->Name("snapshot/ours")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(snapshotAgain)
    ->Name("snapshot_again/ours")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(snapshotDisk)->Name("snapshot_disk/ours")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(snapshotLinkTool)->Name("snapshot_link/tools")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(snapshotTools)->Name("snapshot/tools")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Text files (as saved variables are) of log-uniform sizes, 100 in each of 200 folders.
void makeMixed(const fs::path& root) {
    std::mt19937_64 random(2027);
    std::uniform_real_distribution<double> logSize(std::log(256.0), std::log(128.0 * 1024));
    std::uniform_int_distribution<int> letter('a', 'z');
    for (int folder = 1; folder <= 200; ++folder) {
        const fs::path sub = root / "Account/PLAYER" / ("Realm" + std::to_string(folder)) / "SavedVariables";
        fs::create_directories(sub);
        for (int file = 1; file <= 100; ++file) {
            std::string text(static_cast<size_t>(std::exp(logSize(random))), ' ');
            for (size_t i = 0; i < text.size(); ++i) {
                text[i] = (i % 76 == 75) ? '\n' : static_cast<char>(letter(random));
            }
            std::ofstream(sub / ("Addon" + std::to_string(file) + ".lua"), std::ios::binary) << text;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string mixed = olvex::bench::takeFlag(argc, argv, "make-mixed");
    if (!mixed.empty()) {
        try {
            makeMixed(mixed);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 1;
        }
        return 0;
    }
    return olvex::bench::runWithFlags(argc, argv, {{"wtf", &g_wtf}, {"into", &g_into}});
}
