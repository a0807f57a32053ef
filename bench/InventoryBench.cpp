// The two reads the application runs on every refresh, per call: the add-on inventory of a
// version folder with 1,000 add-on folders (real .toc files from the corpus), beside `find`
// reading every .toc file with `cat`; and the backup list with sizes over 100 backups whose
// records carry no size, beside `du -sb` measuring the same folders. A third figure,
// backup_details_recorded/ours, lists 100 backups whose records carry their size (no walk).
//
//   bench_inventory --data=folder [--prepare=1] --benchmark_filter=inventory/ours
//
// The data is built below --data once (a "ready" marker keeps it); --prepare=1 only builds it.
// Everything here reads, so runs share the data.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "base/Json.h"
#include "records/Backup.h"
#include "service/ManagerService.h"

namespace fs = std::filesystem;
using namespace olvex;

namespace {

constexpr int kAddons = 1000;
constexpr int kBackups = 100;

fs::path g_data;

fs::path addonVersion() {
    return g_data / "game/_retail_";
}
fs::path measuredVersion() {
    return g_data / "game/_classic_";
}
fs::path recordedVersion() {
    return g_data / "game/_classic_era_";
}

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// 1,000 add-on folders, each with the .toc files of one corpus add-on (renamed after the new
// folder, flavour suffixes kept), six Lua files and a library folder, as installed add-ons
// look; and two stores of 100 backups of a small WTF tree, with and without recorded sizes.
void prepare() {
    if (fs::exists(g_data / "ready")) {
        return;
    }
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
        fs::path folder = addonVersion() / "Interface/AddOns" / name;
        for (const auto& toc : fs::directory_iterator(source)) {
            std::string file = toc.path().filename();
            writeFile(folder / (name + file.substr(original.size())), readFile(toc.path()));
        }
        for (int f = 0; f < 6; ++f) {
            writeFile(folder / ("module" + std::to_string(f) + ".lua"), std::string(4096, '-'));
        }
        writeFile(folder / "Libs/LibStub/LibStub.lua", std::string(2048, '-'));
    }
    for (const auto& [version, recorded] : {std::pair{measuredVersion(), false}, std::pair{recordedVersion(), true}}) {
        for (int i = 0; i < kBackups; ++i) {
            LocalBackup record{Uuid::random(), Date{1000.0 + i}, BackupKind::wtf, "自动备份", std::nullopt};
            if (recorded) {
                record.byteCount = 30 * 1024;
            }
            fs::path folder = version / ".olvex-manager/backups" / record.id.text();
            writeFile(folder / "metadata.json", json::encode(toJson(record)));
            for (int f = 0; f < 30; ++f) {
                writeFile(folder / "payload/Account/ALICE/SavedVariables" / ("Addon" + std::to_string(f) + ".lua"),
                          std::string(1024, 'v'));
            }
        }
    }
    writeFile(g_data / "ready", "");
}

// Our side of a read: `list` lists the version folder in every iteration; a list of another
// length than `expected` ends the run with an error rather than measuring the wrong work.
template <typename List>
void measureList(benchmark::State& state, const fs::path& version, size_t expected, List list) {
    ManagerService service;
    GameClient client(version);
    for (auto _ : state) {
        auto rows = list(service, client);
        if (rows.size() != expected) {
            state.SkipWithError("wrong row count");
            break;
        }
        benchmark::DoNotOptimize(rows);
    }
    bench::reportOwnPeak(state);
}

void inventoryOurs(benchmark::State& state) {
    measureList(state, addonVersion(), kAddons,
                [](ManagerService& service, const GameClient& client) { return service.installedAddons(client); });
}

void inventoryFindCat(benchmark::State& state) {
    std::string addons = (addonVersion() / "Interface/AddOns").native();
    bench::measureTool(state, [&] {
        return bench::runTool(
            {"sh", "-c", "find \"$0\" -mindepth 2 -maxdepth 2 -iname '*.toc' -exec cat {} + >/dev/null", addons});
    });
}

void detailsOurs(benchmark::State& state, const fs::path& version) {
    measureList(state, version, kBackups,
                [](ManagerService& service, const GameClient& client) { return service.backupDetails(client); });
}

void detailsMeasured(benchmark::State& state) {
    detailsOurs(state, measuredVersion());
}
void detailsRecorded(benchmark::State& state) {
    detailsOurs(state, recordedVersion());
}

void detailsDu(benchmark::State& state) {
    std::string store = (measuredVersion() / ".olvex-manager/backups").native();
    bench::measureTool(state, [&] { return bench::runTool({"sh", "-c", "du -sb \"$0\"/* >/dev/null", store}); });
}

BENCHMARK(inventoryOurs)->Name("inventory/ours")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(inventoryFindCat)->Name("inventory/find_cat")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(detailsMeasured)->Name("backup_details/ours")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(detailsDu)->Name("backup_details/du")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(detailsRecorded)->Name("backup_details_recorded/ours")->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return olvex::bench::runPrepared(argc, argv, "data", g_data, prepare);
}
