#include "CliRunner.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace olvex::test {

namespace {

[[noreturn]] void execute(const CliRun& run) {
    for (const auto& [name, value] : run.environment) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    std::vector<char*> argv;
    std::string program = OLVEX_EXECUTABLE;
    argv.push_back(program.data());
    std::vector<std::string> arguments = run.arguments;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool drain(int descriptor, std::string& into) {
    char buffer[65536];
    ssize_t n = ::read(descriptor, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<size_t>(n));
        return true;
    }
    return n < 0 && errno == EINTR;
}

} // namespace

CliResult runCli(const CliRun& run) {
    int in[2], out[2], err[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) {
        throw std::runtime_error("pipe");
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (int descriptor : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
            ::close(descriptor);
        }
        execute(run);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    // A small input fits the pipe; the child may never read it.
    std::signal(SIGPIPE, SIG_IGN);
    [[maybe_unused]] ssize_t written = ::write(in[1], run.input.data(), run.input.size());
    ::close(in[1]);

    CliResult result;
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd descriptors[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (::poll(descriptors, 2, -1) < 0) {
            continue;
        }
        if (descriptors[0].revents != 0) {
            outOpen = drain(out[0], result.out);
        }
        if (descriptors[1].revents != 0) {
            errOpen = drain(err[0], result.err);
            if (run.onError) {
                run.onError(pid, result.err);
            }
        }
    }
    ::close(out[0]);
    ::close(err[0]);
    result.status = waitFor(pid);
    return result;
}

CliResult runCliOnTerminal(const CliRun& run, const std::string& prompt, const std::string& answer) {
    int terminal = -1;
    pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) {
        throw std::runtime_error("forkpty");
    }
    if (pid == 0) {
        execute(run);
    }
    CliResult result;
    bool answered = false;
    for (;;) {
        pollfd descriptor{terminal, POLLIN, 0};
        if (::poll(&descriptor, 1, -1) < 0) {
            continue;
        }
        // The terminal reports EIO once the child has closed its side.
        if (!drain(terminal, result.out)) {
            break;
        }
        if (!answered && result.out.find(prompt) != std::string::npos) {
            answered = true;
            [[maybe_unused]] ssize_t written = ::write(terminal, answer.data(), answer.size());
        }
    }
    ::close(terminal);
    result.status = waitFor(pid);
    return result;
}

CliTest::CliTest()
    : m_game(m_temp / "Games/World of Warcraft/_retail_"), m_addons(m_game / "Interface/AddOns"),
      m_tmp(m_temp / "tmp") {
    makeDirs(m_addons);
    makeDirs(m_tmp);
    writeFile(m_game / "Wow.exe", "MZ");
}

std::map<std::string, std::optional<std::string>> CliTest::environment() const {
    return {{"TMPDIR", m_tmp.native()},
            {"OLVEX_DEFAULT_ROOTS", (m_temp / "Games").native()},
            {"OLVEX_PROC_ROOT", std::nullopt}};
}

CliResult CliTest::olvex(const std::vector<std::string>& arguments,
                         const std::map<std::string, std::optional<std::string>>& extra,
                         std::function<void(pid_t, const std::string&)> onError) {
    CliRun run{arguments, environment(), "", std::move(onError)};
    for (const auto& [name, value] : extra) {
        run.environment[name] = value;
    }
    return runCli(run);
}

nlohmann::json CliTest::parse(const CliResult& result) {
    try {
        return nlohmann::json::parse(result.out);
    } catch (const std::exception& failure) {
        ADD_FAILURE() << "not JSON: " << failure.what() << "\n" << result.out << result.err;
        return nullptr;
    }
}

std::vector<std::string> CliTest::stagingLeft() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_tmp)) {
        names.push_back(entry.path().filename().native());
    }
    return names;
}

std::vector<ZipEntry> packEntries(const std::vector<std::string>& names, const std::string& version,
                                  const std::string& marker) {
    std::vector<ZipEntry> entries;
    for (const auto& name : names) {
        entries.push_back(ZipEntry::file(name + "/" + name + ".toc", "## Title: " + name + "\n## Author: 测试\n"));
        entries.push_back(ZipEntry::file(name + "/core.lua", "-- " + name + " " + marker));
    }
    if (!version.empty()) {
        entries.push_back(
            ZipEntry::file(".olvex-pack.json", R"({"identifier":"pack.test","name":"测试整合包","version":")" +
                                                   version + R"(","gameFlavor":"_retail_","source":"本地"})"));
    }
    return entries;
}

} // namespace olvex::test
