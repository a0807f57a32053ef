#pragma once

// Helpers shared by the benchmarks: each measured run works in a folder of its own, and the
// standard tool a figure is compared with runs as a child process measured the same way.

#include <filesystem>
#include <string>
#include <vector>

namespace olvex::bench {

// The value of a "--name=value" argument, removed from argv; empty when absent. Call after
// benchmark::Initialize, which takes its own flags out first.
std::string takeFlag(int& argc, char** argv, const std::string& name);

// A new, empty folder below `base` that no earlier run used.
std::filesystem::path freshFolder(const std::filesystem::path& base);

// Runs a program with the arguments to its end; returns its peak resident memory in KiB.
// Throws std::runtime_error when it cannot start or does not exit with 0.
long runTool(const std::vector<std::string>& argv);

// Peak resident memory of this process so far, in KiB.
long peakResidentKb();

} // namespace olvex::bench
