// A whole pack installation (preview, then install) beside the standard tools doing the work
// that cannot be avoided: unpacking the pack (`bsdtar -x`), copying the current add-on folder
// twice (`cp -r`: the work copy and the backup) and one `sync` for durability.
//
//   bench_install --pack=pack.zip --live=addons-template/ --into=runs/ --benchmark_filter=install/ours
//
// Every iteration prepares a fresh version folder holding a copy of the template add-on
// folder, flushes it, and then measures only the installation: its time is the time until the
// installation reports `finished`, and `freed_s` the time until the background deletion of the
// replaced folder and the preview's staging folder is done as well (all space given back).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "BenchSupport.h"
#include "service/ManagerService.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string g_pack;
std::string g_live;
std::string g_into;

// A version folder with the template add-on folder in place, on stable storage.
fs::path prepareGame(benchmark::State& state) {
    fs::path folder = olvex::bench::freshFolder(g_into);
    fs::path game = folder / "_retail_";
    fs::create_directories(game / "Interface");
    olvex::bench::runTool({"cp", "-r", g_live, (game / "Interface/AddOns").native()});
    olvex::bench::runTool({"touch", (game / "Wow.exe").native()});
    ::sync();
    (void)state;
    return folder;
}

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

void installOurs(benchmark::State& state) {
    for (auto _ : state) {
        fs::path folder = prepareGame(state);
        fs::create_directories(folder / "tmp");
        olvex::ManagerService service({}, {}, folder / "tmp");
        olvex::GameClient client(folder / "_retail_");
        const Clock::time_point start = Clock::now();
        try {
            auto preview = service.preview(g_pack, client);
            service.install(preview.token);
            const Clock::time_point finished = Clock::now();
            service.waitForDeletions();
            state.counters["freed_s"] = seconds(Clock::now() - start);
            state.SetIterationTime(seconds(finished - start));
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            break;
        }
    }
    olvex::bench::reportOwnPeak(state);
}

void installTools(benchmark::State& state) {
    olvex::bench::measureTool(state, [&] {
        state.PauseTiming();
        fs::path folder = prepareGame(state);
        fs::path live = folder / "_retail_/Interface/AddOns";
        state.ResumeTiming();
        fs::create_directories(folder / "unpacked");
        long peak = olvex::bench::runTool({"bsdtar", "-x", "-f", g_pack, "-C", (folder / "unpacked").native()});
        peak = std::max(peak, olvex::bench::runTool({"cp", "-r", live.native(), (folder / "work").native()}));
        peak = std::max(peak, olvex::bench::runTool({"cp", "-r", live.native(), (folder / "backup").native()}));
        ::sync();
        return peak;
    });
}

BENCHMARK(installOurs)->Name("install/ours")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(installTools)->Name("install/tools")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    return olvex::bench::runWithFlags(argc, argv, {{"pack", &g_pack}, {"live", &g_live}, {"into", &g_into}});
}
