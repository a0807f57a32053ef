#pragma once

#include <QSettings>
#include <memory>

#include "platform/PlatformServices.h"

namespace olvex {

// The desktop services on Linux: QSettings for the user-defaults store, the proc file system
// for the running programs (Wine programs included, see runningApplications), Qt file dialogs for the panels and
// QDesktopServices for the file browser. The dialogs need a QApplication.
class LinuxPlatform final : public PlatformServices {
public:
    struct Options {
        // INI file of the user-defaults store; empty means the user's standard location.
        QString settingsFile;
        // Replaces the default places when given (tools that must not search the disk).
        std::optional<std::vector<Path>> defaultRoots;
        Path procRoot = "/proc";
    };

    LinuxPlatform();
    explicit LinuxPlatform(Options options);

    std::optional<QStringList> stringList(const QString& key) const override;
    void setStringList(const QString& key, const QStringList& value) override;
    std::vector<RunningApplication> runningApplications() const override;
    std::optional<QString> chooseDirectory(const QString& title) override;
    std::optional<QString> chooseFile(const QString& title, const QStringList& nameFilters) override;
    std::optional<QString> chooseSaveLocation(const QString& title, const QString& proposedName) override;
    bool revealInFileBrowser(const QString& path) override;
    std::optional<std::vector<Path>> defaultRoots() const override;

private:
    Options m_options;
    std::unique_ptr<QSettings> m_settings;
};

} // namespace olvex
