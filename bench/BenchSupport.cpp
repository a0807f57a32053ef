#include "BenchSupport.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace olvex::bench {

std::string takeFlag(int& argc, char** argv, const std::string& name) {
    std::string prefix = "--" + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            std::string value = argv[i] + prefix.size();
            for (int j = i; j + 1 < argc; ++j) {
                argv[j] = argv[j + 1];
            }
            --argc;
            return value;
        }
    }
    return {};
}

int runWithFlags(int argc, char** argv, const std::vector<std::pair<std::string, std::string*>>& flags) {
    benchmark::Initialize(&argc, argv);
    bool missing = false;
    for (const auto& [name, value] : flags) {
        *value = takeFlag(argc, argv, name);
        missing = missing || value->empty();
    }
    if (missing || benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

int runPrepared(int argc, char** argv, const std::string& flag, std::filesystem::path& folder,
                const std::function<void()>& prepare) {
    benchmark::Initialize(&argc, argv);
    folder = takeFlag(argc, argv, flag);
    const bool prepareOnly = takeFlag(argc, argv, "prepare") == "1";
    if (folder.empty() || benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    prepare();
    if (!prepareOnly) {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return 0;
}

std::filesystem::path freshFolder(const std::filesystem::path& base) {
    static std::atomic<int> counter{0};
    for (;;) {
        auto folder = base / ("run-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        if (std::filesystem::create_directories(folder)) {
            return folder;
        }
    }
}

long runTool(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(argv[0] + " failed");
    }
    return usage.ru_maxrss;
}

void reportOwnPeak(benchmark::State& state) {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_kb"] = static_cast<double>(usage.ru_maxrss);
}

void measureTool(benchmark::State& state, const std::function<long()>& run) {
    long peak = 0;
    for (auto _ : state) {
        peak = std::max(peak, run());
    }
    state.counters["peak_rss_kb"] = static_cast<double>(peak);
}

} // namespace olvex::bench
