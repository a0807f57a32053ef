// A manual WTF backup (backupWTF) beside the standard tools doing the same work: one copy of
// the WTF folder (`cp -r`) and one `sync` for durability.
//
//   bench_snapshot --wtf=wtf-template/ --into=runs/ --benchmark_filter=snapshot/ours
//
// Every iteration prepares a fresh version folder holding a copy of the template WTF folder,
// flushes it, and then measures only the backup.

#include <benchmark/benchmark.h>

#include <string>
#include <unistd.h>

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

void snapshotOurs(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        fs::path folder = prepareGame();
        olvex::ManagerService service({}, {}, folder);
        olvex::GameClient client(folder / "_retail_");
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

BENCHMARK(snapshotOurs)->Name("snapshot/ours")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(snapshotTools)->Name("snapshot/tools")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    return olvex::bench::runWithFlags(argc, argv, {{"wtf", &g_wtf}, {"into", &g_into}});
}
