#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>
#include <vector>

#include "discovery/GameScanner.h"
#include "model/ClientListModel.h"
#include "packs/PackRecords.h"
#include "records/Backup.h"
#include "records/Records.h"

namespace olvex {

class OperationStatus;
class PlatformServices;
class ServiceLink;
class ManagerService;

// The lists of one version folder, read together by a refresh.
struct FolderLists {
    std::vector<BackupDetails> backups;
    BackupUsage usage;
    std::vector<InstalledAddon> addons;
    std::vector<ManagedPack> packs;
    std::vector<RetiredAddon> retired;
};

// Where a refresh hands the lists it read: `show` with a folder's lists, `clear` when no folder
// is selected, `failed` when reading failed (the backups can no longer be trusted). `check`
// follows a shown folder with the slower reads that need not hold up its lists (the health of
// its add-on settings); the refresh counts as running until it completes.
struct FolderListSinks {
    std::function<void(FolderLists)> show;
    std::function<void()> clear;
    std::function<void()> failed;
    std::function<QCoro::Task<>(GameClient)> check;
};

// The version folders: the scan (default and saved roots), the selection and its header, the
// game-closed confirmation that guards every change, the refresh of the selected folder's lists
// and the recovery of an interrupted operation. The other controllers run their commands on the
// selected folder through `runOnSelected` and end them with `change`.
class FolderController : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("由 AppModel 提供")

    Q_PROPERTY(olvex::ClientListModel* clients READ clients CONSTANT)
    // Id (path) of the selected version folder; empty when none is selected. Writing it (the
    // sidebar) unticks the game-closed box and refreshes the lists.
    Q_PROPERTY(QString selection READ selectionText WRITE setSelectionText NOTIFY selectionChanged)
    Q_PROPERTY(bool hasSelection READ hasSelection NOTIFY selectedChanged)
    Q_PROPERTY(QString headerTitle READ headerTitle NOTIFY selectedChanged)
    Q_PROPERTY(QString headerSubtitle READ headerSubtitle NOTIFY selectedChanged)
    Q_PROPERTY(QStringList savedRoots READ savedRoots NOTIFY savedRootsChanged)
    Q_PROPERTY(bool hasSavedRoots READ hasSavedRoots NOTIFY savedRootsChanged)
    // The user's ticked confirmation that the game is fully closed.
    Q_PROPERTY(bool gameClosed READ gameClosed WRITE setGameClosed NOTIFY gameClosedChanged)
    Q_PROPERTY(bool pendingRecovery READ pendingRecovery NOTIFY pendingRecoveryChanged)
    // What the selected folder's player must know beyond the lists (the recovery box): an
    // operation of another process, a journal that cannot be rolled back, damaged backup
    // records, leftovers; one line each, paths included.
    Q_PROPERTY(bool hasAttention READ hasAttention NOTIFY pendingRecoveryChanged)
    Q_PROPERTY(QString attentionHeading READ attentionHeading NOTIFY pendingRecoveryChanged)
    Q_PROPERTY(QString attentionText READ attentionText NOTIFY pendingRecoveryChanged)
    // The pending journal can be rolled back from here.
    Q_PROPERTY(bool canRecover READ canRecover NOTIFY pendingRecoveryChanged)
    // Old files that finished operations replaced and could not delete, until the next
    // operation starts: the heading line, then one path per line.
    Q_PROPERTY(QString oldFilesText READ oldFilesText NOTIFY oldFilesChanged)
    Q_PROPERTY(bool hasOldFiles READ hasOldFiles NOTIFY oldFilesChanged)

public:
    using Scanner = std::function<ScanReport(const std::vector<Path>&)>;

    // User-defaults key of the saved roots.
    static constexpr auto savedKey = "Olvex.selectedRoots";

    FolderController(PlatformServices& platform, ServiceLink& link, OperationStatus& status, Scanner scanner,
                     QObject* parent = nullptr);

    void setListSinks(FolderListSinks sinks) { m_sinks = std::move(sinks); }

    const std::vector<GameClient>& clientList() const { return m_clients.clients(); }
    const std::optional<std::string>& selection() const { return m_selection; }
    void setSelection(const std::optional<std::string>& id);
    // The first client whose id is the selection; absent when none matches. Commands on the
    // selected folder read it when they are invoked.
    std::optional<GameClient> selected() const;
    // Whether a refresh has not answered yet.
    bool refreshing() const { return m_refreshes > 0; }

    ClientListModel* clients() { return &m_clients; }
    QString selectionText() const;
    void setSelectionText(const QString& id);
    bool hasSelection() const { return selected().has_value(); }
    QString headerTitle() const;
    QString headerSubtitle() const;
    QStringList savedRoots() const { return m_savedRoots; }
    bool hasSavedRoots() const { return !m_savedRoots.isEmpty(); }
    bool gameClosed() const { return m_gameClosed; }
    void setGameClosed(bool closed);
    bool pendingRecovery() const { return m_attention.pendingRecovery; }
    const FolderAttention& attention() const { return m_attention; }
    bool hasAttention() const;
    QString attentionHeading() const;
    QString attentionText() const;
    bool canRecover() const;
    QString oldFilesText() const;
    bool hasOldFiles() const { return !m_oldFiles.isEmpty(); }

    // Rescans the default and saved roots. Ignored while busy.
    Q_INVOKABLE void scan() { scan(std::nullopt); }
    // Adds `extra` to the saved roots (once), stores them, and rescans in the background;
    // returns at once. Ignored while busy: the folder is then not saved. Never fails.
    void scan(const std::optional<QString>& extra);
    // Reloads the selected folder's lists; failures go to `error`. Completes when done.
    QCoro::Task<> refresh();
    // Asks for a game or version folder and rescans with it saved as a root.
    Q_INVOKABLE void chooseGame();
    // Removes every saved root equal to `root` and rescans. Ignored while busy.
    Q_INVOKABLE void forgetRoot(const QString& root);
    // Rolls back the selected folder's interrupted operation.
    Q_INVOKABLE void recover();
    Q_INVOKABLE void revealFolder(const QString& path);

    // The operation runner with the folder selected now handed to `body`; nothing happens
    // without one.
    void runOnSelected(const QString& title, bool cancellable,
                       const std::function<QCoro::Task<>(const GameClient&)>& body);
    // The common end of a request that changes the game folder: once the service has done it,
    // the success message shows and every list is read again.
    QCoro::Task<> change(std::function<void(ManagerService&)> request, QString message);
    // Fails unless the user ticked that the game is closed and no program counts as the game.
    void requireClosedGame() const;

signals:
    void selectionChanged();
    void selectedChanged();
    void savedRootsChanged();
    void gameClosedChanged();
    void pendingRecoveryChanged();
    void oldFilesChanged();
    // A scan's report has been applied (or the scan ended without one).
    void scanFinished();
    // A refresh has ended, applied or not.
    void refreshFinished();

private:
    QCoro::Task<> runScan(Scanner scanner, std::vector<Path> roots);
    void applyScan(const ScanReport& report);
    QStringList storedRoots() const;
    void setSavedRoots(const QStringList& roots);
    void setAttention(FolderAttention attention);
    void addOldFiles(const std::vector<Path>& files);
    QCoro::Task<> followUp(GameClient client);

    PlatformServices& m_platform;
    ServiceLink& m_link;
    OperationStatus& m_status;
    // Injected by tests; empty: the platform's default places, or its plain roots.
    Scanner m_scanner;
    FolderListSinks m_sinks;
    ClientListModel m_clients;
    std::optional<std::string> m_selection;
    int m_refreshes = 0;
    bool m_gameClosed = false;
    FolderAttention m_attention;
    QStringList m_oldFiles;
    QStringList m_savedRoots;
};

// The status line after a scan: how many folders were found, then one warning per kind of
// trouble (inaccessible folders, a search limit, saved roots that are missing).
QString scanMessage(const ScanReport& report, const QStringList& savedRoots);

} // namespace olvex
