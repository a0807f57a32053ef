#pragma once

// Helpers shared by the benchmarks: each measured run works in a folder of its own, and the
// standard tool a figure is compared with runs as a child process measured the same way.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace olvex::bench {

// The value of a "--name=value" argument, removed from argv; empty when absent. Call after
// benchmark::Initialize, which takes its own flags out first.
std::string takeFlag(int& argc, char** argv, const std::string& name);

// The whole main of a benchmark binary whose flags are all required: reads each --name=value
// into its variable and runs the benchmarks the command line selects. 2 when a flag is missing
// or unknown.
int runWithFlags(int argc, char** argv, const std::vector<std::pair<std::string, std::string*>>& flags);

// The whole main of a benchmark binary over one data folder: reads the required --<flag>=FOLDER
// into `folder`, makes the data there with `prepare` (kept between runs), then runs the selected
// benchmarks, or only prepares with --prepare=1. 2 when the flag is missing or an argument unknown.
int runPrepared(int argc, char** argv, const std::string& flag, std::filesystem::path& folder,
                const std::function<void()>& prepare);

// A new, empty folder below `base` that no earlier run used.
std::filesystem::path freshFolder(const std::filesystem::path& base);

// Runs a program with the arguments to its end; returns its peak resident memory in KiB.
// Throws std::runtime_error when it cannot start or does not exit with 0.
long runTool(const std::vector<std::string>& argv);

// Reports this process's peak resident memory so far, in KiB: the figure of our own runs.
void reportOwnPeak(benchmark::State& state);

// The standard tool's side: calls `run` in every measured iteration (it runs the tool through
// runTool, once or more, and returns the largest peak) and reports the largest peak of all.
void measureTool(benchmark::State& state, const std::function<long()>& run);

} // namespace olvex::bench
