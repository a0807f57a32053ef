#pragma once

// Helpers shared by the tests: private temporary folders and small tree builders and readers.

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace olvex::test {

namespace fs = std::filesystem;

// A fresh folder under the system temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return m_path; }
    fs::path operator/(const std::string& relative) const { return m_path / relative; }

private:
    fs::path m_path;
};

// Writes a file, creating its parent folders.
void writeFile(const fs::path& path, const std::string& content);
std::string readFile(const fs::path& path);
void makeDirs(const fs::path& path);

// The names in a folder, sorted; none when it is missing.
std::vector<std::string> names(const fs::path& folder);

// The whole tree below a folder: relative path → content for files, "<dir>" for folders,
// "<link>" + target for symbolic links. Empty when the folder is missing.
std::map<std::string, std::string> snapshotTree(const fs::path& root);

// The description of what `body` throws, or "" when it succeeds: tests compare it with the
// exact message the user would see.
std::string failure(const std::function<void()>& body);

// Runs `body` in a child process and returns what it returned, or "<still running>" when it
// has not finished within `seconds` (the child is then killed): a test of something that once
// hung fails instead of hanging itself.
std::string withinSeconds(int seconds, const std::function<std::string()>& body);

// Path of a file in the shared corpora beside the checkout.
fs::path corpus(const std::string& relative);

} // namespace olvex::test
