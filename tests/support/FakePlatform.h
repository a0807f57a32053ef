#pragma once

// A scripted stand-in for the desktop: an in-memory user-defaults store, a fixed process list,
// panels that answer with prepared paths, and given default roots. Header-only, so the core
// tests' support library stays free of Qt.

#include <QHash>
#include <functional>
#include <utility>

#include "platform/PlatformServices.h"

namespace olvex::test {

class FakePlatform final : public PlatformServices {
public:
    std::optional<QStringList> stringList(const QString& key) const override {
        auto it = store.find(key);
        return it == store.end() ? std::nullopt : it.value();
    }
    void setStringList(const QString& key, const QStringList& value) override {
        store[key] = value;
        ++writes;
    }
    std::vector<RunningApplication> runningApplications() const override {
        ++processReads;
        return running;
    }
    std::optional<QString> chooseDirectory(const QString& title) override {
        panelTitles.append(title);
        return nextChoice;
    }
    std::optional<QString> chooseFile(const QString& title, const QStringList&) override {
        panelTitles.append(title);
        // What the panel's own event loop may deliver meanwhile; once, as a user would.
        if (auto meanwhile = std::exchange(whilePanelOpen, {})) {
            meanwhile();
        }
        return nextChoice;
    }
    std::optional<QString> chooseSaveLocation(const QString& title, const QString& proposedName) override {
        panelTitles.append(title);
        proposedNames.append(proposedName);
        return nextChoice;
    }
    bool revealInFileBrowser(const QString& path) override {
        revealed.append(path);
        return true;
    }
    std::optional<std::vector<Path>> defaultRoots() const override { return roots; }

    // A stored value that is not a string list reads as nothing, like a foreign value would.
    QHash<QString, std::optional<QStringList>> store;
    int writes = 0;
    std::vector<RunningApplication> running;
    mutable int processReads = 0;
    std::optional<QString> nextChoice;
    std::function<void()> whilePanelOpen;
    QStringList panelTitles;
    QStringList proposedNames; // the file names save panels proposed
    QStringList revealed;
    // Plain default roots; nothing: the default places of this process's environment.
    std::optional<std::vector<Path>> roots = std::vector<Path>{};
};

} // namespace olvex::test
