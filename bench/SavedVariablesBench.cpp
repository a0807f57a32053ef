// The health check of a WTF folder holding 300 MB of saved variables in 2,000 files (a few
// large ones as Details! and WeakAuras write them, many small ones), beside `cat` reading them
// (the floor: reading the bytes at all); and the check of the 1,990 small files alone (120 MB)
// beside the Lua 5.1 reference compiler parsing them (`luac5.1 -p`, in batches as `find -exec
// … +` hands them over). The compiler cannot take the large files: a function of its holds at
// most 262,143 constants ("constant table overflow"), and these hold far more distinct strings.
// Every iteration checks with a new service, so the cache of verdicts never answers.
//
//   bench_saved_variables --data=folder [--prepare=1] --benchmark_filter=saved_variables/ours
//
// The data is built below --data once (a "ready" marker keeps it); --prepare=1 only builds it,
// so that building it never counts in the peak memory of a measured run.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "service/ManagerService.h"

namespace fs = std::filesystem;
using namespace olvex;

namespace {

constexpr int kFiles = 2000;
fs::path g_data;

fs::path version() {
    return g_data / "game/_retail_";
}
// The same small files (hard links), without the large ones.
fs::path smallVersion() {
    return g_data / "game/_classic_";
}
constexpr int kLarge = 10;

// A saved-variables file as the game writes it, of about `bytes`: nested tables of distinct
// keys, strings with escapes, numbers, booleans and the "-- [n]" comments of list items.
void writeSaved(const fs::path& path, const std::string& name, std::size_t bytes, int seed) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    std::string block = "\n" + name + " = {\n";
    std::size_t written = 0;
    for (int i = 0; written + block.size() < bytes; ++i) {
        const std::string id = std::to_string(seed) + "_" + std::to_string(i);
        block += "\t[\"aura" + id + "\"] = {\n\t\t[\"name\"] = \"光环 " + id + " \\\"引号\\\"\\n第二行\",\n";
        block += "\t\t[\"values\"] = {\n\t\t\t" + std::to_string(i) + ", -- [1]\n\t\t\t-" + std::to_string(i) +
                 ".25, -- [2]\n\t\t\t1e-05, -- [3]\n\t\t},\n";
        block += "\t\t[\"enabled\"] = true,\n\t\t[\"color\"] = { 0.5, 1, 0, 1 },\n\t},\n";
        if (block.size() > (1 << 20)) {
            out << block;
            written += block.size();
            block.clear();
        }
    }
    out << block << "}\n";
}

// 300 MB in 2,000 files: ten large files (180 MB) at account level, the rest about 60 KB each,
// spread over the account and 18 characters.
void prepare() {
    if (fs::exists(g_data / "ready")) {
        return;
    }
    const fs::path account = version() / "WTF/Account/PLAYER";
    const std::size_t large[] = {40, 30, 25, 20, 15, 10, 10, 10, 10, 10};
    int file = 0;
    for (std::size_t megabytes : large) { // kLarge of them
        const std::string name = "Large" + std::to_string(file);
        writeSaved(account / "SavedVariables" / (name + ".lua"), name, megabytes << 20, file);
        ++file;
    }
    for (; file < kFiles; ++file) {
        const std::string name = "Addon" + std::to_string(file);
        const int character = file % 19;
        const fs::path folder = character == 0
                                    ? account / "SavedVariables"
                                    : account / "Realm" / ("Hero" + std::to_string(character)) / "SavedVariables";
        writeSaved(folder / (name + ".lua"), name, 61 * 1024, file);
    }
    const fs::path wtf = version() / "WTF";
    for (const auto& entry : fs::recursive_directory_iterator(wtf)) {
        const std::string name = entry.path().filename().native();
        if (entry.is_regular_file() && !name.starts_with("Large")) {
            const fs::path link = smallVersion() / "WTF" / fs::relative(entry.path(), wtf);
            fs::create_directories(link.parent_path());
            fs::create_hard_link(entry.path(), link);
        }
    }
    std::ofstream(g_data / "ready") << "";
}

void check(benchmark::State& state, const fs::path& folder, int files) {
    const GameClient client(folder);
    for (auto _ : state) {
        ManagerService service;
        const SavedVariablesHealth health = service.savedVariablesHealth(client);
        if (health.checkedFiles != files || !health.healthy()) {
            state.SkipWithError("wrong verdicts");
            break;
        }
        benchmark::DoNotOptimize(health);
    }
    bench::reportOwnPeak(state);
}

void ours(benchmark::State& state) {
    check(state, version(), kFiles);
}
void oursSmall(benchmark::State& state) {
    check(state, smallVersion(), kFiles - kLarge);
}

void tool(benchmark::State& state, const fs::path& folder, const std::string& command) {
    const std::string wtf = (folder / "WTF").native();
    bench::measureTool(state, [&] {
        return bench::runTool({"sh", "-c", "find \"$0\" -name '*.lua' -exec " + command + " {} + >/dev/null", wtf});
    });
}

void luac(benchmark::State& state) {
    tool(state, smallVersion(), "luac5.1 -p");
}
void cat(benchmark::State& state) {
    tool(state, version(), "cat");
}

BENCHMARK(ours)->Name("saved_variables/ours")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(oursSmall)->Name("saved_variables_small/ours")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(luac)->Name("saved_variables_small/luac")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(cat)->Name("saved_variables/cat")->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return olvex::bench::runPrepared(argc, argv, "data", g_data, prepare);
}
