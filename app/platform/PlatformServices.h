#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "discovery/RunningGame.h"
#include "records/GameClient.h"

namespace olvex {

// What the application needs from the desktop it runs on, kept behind one interface so that
// the model builds and runs with a substitute in tests. All calls are made on the main thread.
class PlatformServices {
public:
    virtual ~PlatformServices() = default;

    // The user-defaults store: the string list stored under `key`, or nothing when nothing
    // (or something that is not a string list) is stored there.
    virtual std::optional<QStringList> stringList(const QString& key) const = 0;
    // Stores `value` under `key` at once, so that nothing depends on an orderly exit.
    virtual void setStringList(const QString& key, const QStringList& value) = 0;

    // The programs running now, for the check that the game is closed (countsAsGame).
    virtual std::vector<RunningApplication> runningApplications() const = 0;

    // Modal open panel for one folder; nothing when the user cancels.
    virtual std::optional<QString> chooseDirectory(const QString& title) = 0;
    // Modal open panel for one file matching `nameFilters` (e.g. "ZIP 压缩包 (*.zip)").
    virtual std::optional<QString> chooseFile(const QString& title, const QStringList& nameFilters) = 0;
    // Modal save panel proposing `proposedName`; the chosen path, or nothing on cancel.
    virtual std::optional<QString> chooseSaveLocation(const QString& title, const QString& proposedName) = 0;
    // Shows a folder in the desktop's file browser; false when no browser could be asked.
    virtual bool revealInFileBrowser(const QString& path) = 0;

    // Plain roots that replace the platform's default places (a tool or test that must not search
    // the user's disk), scanned before the saved ones; nothing to search the default places of the
    // user's environment, each version folder then saying which launcher keeps it.
    virtual std::optional<std::vector<Path>> defaultRoots() const = 0;
};

// Path text as Qt shows it and back, byte-exact for the local file-name encoding.
QString toQString(const Path& path);
Path toPath(const QString& text);

} // namespace olvex
