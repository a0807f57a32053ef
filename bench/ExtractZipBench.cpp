// Extraction of one ZIP archive by olvex_extract_zip_cancellable and by `bsdtar -x`, the
// standard tool doing the same work. Every iteration extracts into a new folder below
// --into. Our routine flushes each file it writes; bsdtar flushes nothing, so on archives
// of many small files the gap is mostly that flush.
//
//   bench_extract_zip --archive=big.zip --into=runs/ --benchmark_filter=extract_zip/ours

#include <benchmark/benchmark.h>

#include <string>

#include "BenchSupport.h"
#include "archive/ExtractZip.h"

namespace {

std::string g_archive;
std::string g_into;

void extractOurs(benchmark::State& state) {
    for (auto _ : state) {
        auto folder = olvex::bench::freshFolder(g_into);
        char message[1024] = {};
        if (olvex_extract_zip_cancellable(g_archive.c_str(), folder.c_str(), message, sizeof message, nullptr,
                                          nullptr) != 0) {
            state.SkipWithError(message);
            break;
        }
    }
    olvex::bench::reportOwnPeak(state);
}

void extractBsdtar(benchmark::State& state) {
    olvex::bench::measureTool(state, [] {
        auto folder = olvex::bench::freshFolder(g_into);
        return olvex::bench::runTool({"bsdtar", "-x", "-f", g_archive, "-C", folder.native()});
    });
}

BENCHMARK(extractOurs)->Name("extract_zip/ours")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(extractBsdtar)->Name("extract_zip/bsdtar")->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return olvex::bench::runWithFlags(argc, argv, {{"archive", &g_archive}, {"into", &g_into}});
}
