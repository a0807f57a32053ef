#pragma once

// Runs the built olvex executable as a child process, as a script or a person would, and
// collects its exit status and both output streams.

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/TestSupport.h"
#include "support/ZipBuilder.h"

namespace olvex::test {

struct CliResult {
    int status = -1; // the exit status, or 128 + the signal that ended the process
    std::string out;
    std::string err;
};

struct CliRun {
    std::vector<std::string> arguments;
    // Set (or, with nullopt, removed) on top of this process's environment.
    std::map<std::string, std::optional<std::string>> environment;
    std::string input;
    // Called with the process id and all standard error so far whenever more arrives.
    std::function<void(pid_t, const std::string&)> onError;
};

// Pipes for the three streams; standard input gets `input` and is then closed.
CliResult runCli(const CliRun& run);

// A pseudo-terminal for all three streams, so that standard input is a terminal. `answer`
// is typed once the combined output contains `prompt`. The output lands in `out`.
CliResult runCliOnTerminal(const CliRun& run, const std::string& prompt, const std::string& answer);

// A temporary game folder with an installed game (Wow.exe, as the Windows client under Wine
// has it), an add-on folder, and a private temporary folder, scan roots and environment for
// each run: the tests never see the real home folder, /Volumes or other staging folders.
class CliTest : public ::testing::Test {
protected:
    CliTest();

    // The environment of every run: TMPDIR, OLVEX_DEFAULT_ROOTS and no OLVEX_PROC_ROOT.
    std::map<std::string, std::optional<std::string>> environment() const;
    CliResult olvex(const std::vector<std::string>& arguments,
                    const std::map<std::string, std::optional<std::string>>& extra = {},
                    std::function<void(pid_t, const std::string&)> onError = {});
    // Standard output parsed as JSON; fails the test when it is not.
    static nlohmann::json parse(const CliResult& result);
    // Preview staging folders left in the private temporary folder.
    std::vector<std::string> stagingLeft() const;

    TempDir m_temp;
    fs::path m_game;
    fs::path m_addons;
    fs::path m_tmp;
};

// Add-on folders (each a .toc and a core.lua holding `marker`) and, when `version` is given,
// a manifest of the pack "pack.test".
std::vector<ZipEntry> packEntries(const std::vector<std::string>& names, const std::string& version = "",
                                  const std::string& marker = "1");

} // namespace olvex::test
