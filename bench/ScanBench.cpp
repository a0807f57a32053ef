// The default scan of a home with 100,000 folders (documents, caches, a Lutris prefix with its
// Windows folders and game, Steam prefixes, a bottle), beside `find` listing the version
// folders of the same tree. The scan reads the launchers' records and looks only where they and
// the Windows layout say the game is; `find` walks everything.
//
//   bench_scan --home=folder [--prepare=1] --benchmark_filter=scan/ours
//
// The home is built once (a "ready" marker keeps it); --prepare=1 only builds it. Both sides
// only read, so runs share it.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "discovery/GameScanner.h"

namespace fs = std::filesystem;
using namespace olvex;

namespace {

constexpr int kFolders = 100'000;
constexpr size_t kClients = 4; // two in the Lutris prefix, one each in a Steam prefix and a bottle

fs::path g_home;
int g_made = 0;

void folder(const fs::path& path) {
    g_made += fs::create_directories(path) ? 1 : 0;
}

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// A Wine prefix with a Windows folder of `systemFolders` folders (C:\windows is thousands).
fs::path prefix(const fs::path& path, int systemFolders) {
    for (int i = 0; i < systemFolders; ++i) {
        folder(path / "drive_c/windows" / ("s" + std::to_string(i / 100)) / ("f" + std::to_string(i % 100)));
    }
    folder(path / "drive_c/users/player/Documents");
    fs::create_directories(path / "dosdevices");
    fs::create_directory_symlink("../drive_c", path / "dosdevices/c:");
    fs::create_directory_symlink("/", path / "dosdevices/z:");
    return path / "drive_c";
}

// The game folder's version folders, each with 1,000 add-on folders.
void game(const fs::path& gameFolder, const std::vector<std::string>& versions) {
    for (const auto& version : versions) {
        for (int i = 0; i < 1000; ++i) {
            folder(gameFolder / version / "Interface/AddOns" / ("Addon" + std::to_string(i)));
        }
    }
}

void prepare() {
    if (fs::exists(g_home / "ready")) {
        return;
    }
    writeFile(g_home / ".config/lutris/games/world-of-warcraft-1.yml",
              "game:\n  prefix: " + (g_home / "Games/world-of-warcraft").native() + "\ngame_slug: world-of-warcraft\n");
    game(prefix(g_home / "Games/world-of-warcraft", 20'000) / "Program Files (x86)/World of Warcraft",
         {"_retail_", "_classic_"});
    for (int i = 0; i < 10; ++i) {
        const fs::path pfx = g_home / ".local/share/Steam/steamapps/compatdata" / std::to_string(3'000'000 + i) / "pfx";
        auto drive = prefix(pfx, 1000);
        if (i == 0) {
            game(drive / "Program Files (x86)/World of Warcraft", {"_retail_"});
        }
    }
    game(prefix(g_home / ".local/share/bottles/bottles/Battle.net", 2000) / "Program Files (x86)/World of Warcraft",
         {"_ptr_"});
    for (int i = 0; i < 100; ++i) {
        folder(g_home / ".cache" / ("c" + std::to_string(i)) / "x");
    }
    // The rest of the 100,000: a home's documents, three levels deep.
    for (int i = 0; g_made < kFolders; ++i) {
        folder(g_home / "Documents" / ("d" + std::to_string(i / 500)) / ("e" + std::to_string(i / 5 % 100)) /
               ("f" + std::to_string(i % 5)));
    }
    writeFile(g_home / "ready", "");
}

void scanOurs(benchmark::State& state) {
    UserEnvironment environment = UserEnvironment::forHome(g_home, "");
    environment.mountRoots.clear();
    for (auto _ : state) {
        ScanReport report = GameScanner::scanDefaultPlaces(environment, {});
        if (report.clients.size() != kClients || report.reachedLimit) {
            state.SkipWithError("wrong clients found");
            break;
        }
        benchmark::DoNotOptimize(report);
    }
    bench::reportOwnPeak(state);
}

void scanFind(benchmark::State& state) {
    bench::measureTool(state, [&] {
        return bench::runTool({"sh", "-c", "find \"$0\" -type d -name '_*_' -prune >/dev/null", g_home.native()});
    });
}

BENCHMARK(scanOurs)->Name("scan/ours")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(scanFind)->Name("scan/find")->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return olvex::bench::runPrepared(argc, argv, "home", g_home, prepare);
}
