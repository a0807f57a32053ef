#pragma once

// The three failure kinds of the core. ManagerError carries a finished Simplified Chinese
// message; CancellationError is the user's own cancel and never a ManagerError; SystemError
// is a failed platform call, keeping errno, the operation and the path, described in Chinese.

#include <exception>
#include <string>

namespace olvex {

class ManagerError : public std::exception {
public:
    explicit ManagerError(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& message() const noexcept { return m_message; }

private:
    std::string m_message;
};

class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "操作已取消。"; }
};

// The operations a SystemError can name; each has a Chinese verb for the description.
enum class SystemOperation {
    open,
    read,
    write,
    create,
    createDirectory,
    remove,
    move,
    list,
    examine,
    flush,
    lock,
    volumeQuery,
    resolve,
};

class SystemError : public std::exception {
public:
    SystemError(SystemOperation operation, std::string path, int error);
    const char* what() const noexcept override { return m_description.c_str(); }
    int error() const noexcept { return m_error; }
    SystemOperation operation() const noexcept { return m_operation; }
    const std::string& path() const noexcept { return m_path; }

private:
    SystemOperation m_operation;
    std::string m_path;
    int m_error;
    std::string m_description;
};

// A path as a message shows it: whole up to 80 bytes, else its first and last 40 bytes (cut at
// character boundaries) around "…", so that a path past the system's limit cannot fill the
// screen.
std::string abbreviatedPath(const std::string& path);
// The message for a path the system refused as too long (ENAMETOOLONG).
std::string pathTooLong(const std::string& path);
// The message for a link or special file met where only folders and regular files may be: it is
// never followed, read or removed through.
std::string linkOrSpecialFile(const std::string& path);

// Chinese text for an errno value, never the English strerror.
std::string errnoText(int error);

// The description shown to the user for any failure the core may raise.
std::string describe(const std::exception& failure);

} // namespace olvex
