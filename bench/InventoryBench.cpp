// Listing speed of the two reads the application runs on every refresh: the add-on inventory
// of a version folder and the backup list with sizes. Each is measured per call, beside a
// standard tool doing comparable work on the same data in the same run (A B A B with
// --benchmark_enable_random_interleaving), so the ratio is what to read.
//
//   bench_inventory --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
//                   --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "records/Backup.h"
#include "records/Json.h"
#include "service/ManagerService.h"

namespace fs = std::filesystem;
using namespace olvex;

namespace {

constexpr int kAddons = 1000;
constexpr int kBackups = 100;

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A game folder built once per process: 1,000 add-on folders, each with the real .toc files of
// one corpus add-on (renamed after the new folder, flavour suffixes kept), a few Lua files
// and a library folder; and 100 backups of a small WTF tree, half of them without a recorded
// size so that details must measure them.
struct Data {
    fs::path root;
    fs::path version;
    fs::path measuredVersion;

    Data() {
        std::string pattern = (fs::temp_directory_path() / "olvex-bench-XXXXXX").native();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root = pattern;
        version = root / "game/_retail_";
        measuredVersion = root / "game/_classic_";
        std::vector<fs::path> corpusAddons;
        for (const auto& entry : fs::directory_iterator(fs::path(OLVEX_CORPORA) / "tocs")) {
            if (entry.is_directory()) {
                corpusAddons.push_back(entry.path());
            }
        }
        std::sort(corpusAddons.begin(), corpusAddons.end());
        for (int i = 0; i < kAddons; ++i) {
            const fs::path& source = corpusAddons[static_cast<size_t>(i) % corpusAddons.size()];
            std::string original = source.filename();
            std::string name = original + std::to_string(i);
            fs::path folder = version / "Interface/AddOns" / name;
            for (const auto& toc : fs::directory_iterator(source)) {
                std::string file = toc.path().filename();
                writeFile(folder / (name + file.substr(original.size())), readFile(toc.path()));
            }
            for (int f = 0; f < 6; ++f) {
                writeFile(folder / ("module" + std::to_string(f) + ".lua"), std::string(4096, '-'));
            }
            writeFile(folder / "Libs/LibStub/LibStub.lua", std::string(2048, '-'));
        }
        for (const auto& [target, recorded] : {std::pair{version, true}, std::pair{measuredVersion, false}}) {
            for (int i = 0; i < kBackups; ++i) {
                LocalBackup record{Uuid::random(), Date{1000.0 + i}, BackupKind::wtf, "自动备份", std::nullopt};
                if (recorded) {
                    record.byteCount = 30 * 1024;
                }
                fs::path folder = target / ".olvex-manager/backups" / record.id.text();
                writeFile(folder / "metadata.json", json::encode(toJson(record)));
                for (int f = 0; f < 30; ++f) {
                    writeFile(folder / "payload/Account/ALICE/SavedVariables" / ("Addon" + std::to_string(f) + ".lua"),
                              std::string(1024, 'v'));
                }
            }
        }
    }
    ~Data() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

Data& data() {
    static Data instance;
    return instance;
}

void runShell(benchmark::State& state, const std::string& command) {
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("baseline command failed");
            return;
        }
    }
}

void BM_installedAddons(benchmark::State& state) {
    ManagerService service;
    GameClient client(data().version);
    size_t count = 0;
    for (auto _ : state) {
        auto addons = service.installedAddons(client);
        count = addons.size();
        benchmark::DoNotOptimize(addons);
    }
    state.counters["addons"] = static_cast<double>(count);
    state.counters["per_addon"] =
        benchmark::Counter(static_cast<double>(count) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Baseline: find every .toc file of every add-on folder and read it whole.
void BM_baseline_find_cat_tocs(benchmark::State& state) {
    runShell(state, "find '" + (data().version / "Interface/AddOns").native() +
                        "' -mindepth 2 -maxdepth 2 -iname '*.toc' -exec cat {} + >/dev/null");
}

void BM_backupDetails_recorded(benchmark::State& state) {
    ManagerService service;
    GameClient client(data().version);
    for (auto _ : state) {
        auto details = service.backupDetails(client);
        if (details.size() != kBackups) {
            state.SkipWithError("wrong backup count");
            return;
        }
        benchmark::DoNotOptimize(details);
    }
}

void BM_backupDetails_measured(benchmark::State& state) {
    ManagerService service;
    GameClient client(data().measuredVersion);
    for (auto _ : state) {
        auto details = service.backupDetails(client);
        if (details.size() != kBackups) {
            state.SkipWithError("wrong backup count");
            return;
        }
        benchmark::DoNotOptimize(details);
    }
}

// Baseline: measure every backup folder with du (what details does for unrecorded sizes).
void BM_baseline_du_backups(benchmark::State& state) {
    runShell(state, "du -sb '" + (data().measuredVersion / ".olvex-manager/backups").native() + "'/* >/dev/null");
}

} // namespace

BENCHMARK(BM_installedAddons)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_baseline_find_cat_tocs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_backupDetails_recorded)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_backupDetails_measured)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_baseline_du_backups)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
