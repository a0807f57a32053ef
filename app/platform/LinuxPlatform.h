#pragma once

#include <QSettings>
#include <memory>

#include "platform/PlatformServices.h"

namespace olvex {

// The desktop services on Linux: QSettings for the user-defaults store, /proc for the running
// programs (Wine programs included), Qt file dialogs for the panels and QDesktopServices for
// the file browser. The dialogs need a QApplication.
class LinuxPlatform final : public PlatformServices {
public:
    struct Options {
        // INI file of the user-defaults store; empty means the user's standard location.
        QString settingsFile;
        // Replaces GameScanner::defaultRoots() when given (tools that must not search the disk).
        std::optional<std::vector<Path>> defaultRoots;
        QString procRoot = QStringLiteral("/proc");
    };

    LinuxPlatform();
    explicit LinuxPlatform(Options options);

    std::optional<QStringList> stringList(const QString& key) const override;
    void setStringList(const QString& key, const QStringList& value) override;
    QList<RunningApplication> runningApplications() const override;
    std::optional<QString> chooseDirectory(const QString& title) override;
    std::optional<QString> chooseFile(const QString& title, const QStringList& nameFilters) override;
    std::optional<QString> chooseSaveLocation(const QString& title, const QString& proposedName) override;
    bool revealInFileBrowser(const QString& path) override;
    std::vector<Path> defaultRoots() const override;

private:
    Options m_options;
    std::unique_ptr<QSettings> m_settings;
};

// The programs running under a /proc-style tree. A native process is described by its
// executable (the "exe" link) and its "comm" name; a Wine process, whose executable is the
// Wine loader, by the Windows program in its command line, mapped to a local path through
// the drive links of its Wine prefix (WINEPREFIX, else ~/.wine, from its environment).
// Entries that vanish or cannot be read while listing are described by what could be read.
QList<RunningApplication> readRunningApplications(const QString& procRoot);

// The local path of a Windows path under a Wine prefix ("Z:\a\b" → "/a/b" on a default
// prefix), or nothing when the drive is not mapped there.
std::optional<QString> wineLocalPath(const QString& windowsPath, const QString& prefix);

} // namespace olvex
