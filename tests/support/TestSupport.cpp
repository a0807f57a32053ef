#include "support/TestSupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace olvex::test {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "olvex-test-XXXXXX").native();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests make folders unreadable on purpose; give permissions back before removing.
    for (auto it = fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (!it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_path, ignored);
}

void writeFile(const fs::path& path, const std::string& content) {
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path.native());
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.native());
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void makeDirs(const fs::path& path) {
    fs::create_directories(path);
}

std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::exists(folder) ? fs::directory_iterator(folder) : fs::directory_iterator()) {
        found.push_back(entry.path().filename());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::map<std::string, std::string> snapshotTree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(root, error))) {
        return tree;
    }
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        std::string relative = fs::relative(it->path(), root).native();
        if (it->is_symlink()) {
            tree[relative] = "<link>" + fs::read_symlink(it->path()).native();
        } else if (it->is_directory()) {
            tree[relative] = "<dir>";
        } else {
            tree[relative] = readFile(it->path());
        }
    }
    return tree;
}

std::string failure(const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

fs::path corpus(const std::string& relative) {
    return fs::path(OLVEX_CORPORA) / relative;
}

} // namespace olvex::test

namespace olvex::test {

std::string withinSeconds(int seconds, const std::function<std::string()>& body) {
    int ends[2];
    if (::pipe(ends) != 0) {
        throw std::runtime_error("pipe");
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        const std::string result = body();
        [[maybe_unused]] ssize_t written = ::write(ends[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(ends[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ::close(ends[0]);
            return "<still running>";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string result;
    char buffer[4096];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
        result.append(buffer, static_cast<size_t>(n));
    }
    ::close(ends[0]);
    return result;
}

} // namespace olvex::test
