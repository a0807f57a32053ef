#pragma once

#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QtQml/qqmlregistration.h>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>
#include <type_traits>
#include <vector>

#include "base/OperationControl.h"
#include "discovery/GameScanner.h"
#include "model/ClientListModel.h"
#include "model/OperationLog.h"
#include "model/RowListModel.h"
#include "model/Rows.h"
#include "packs/PackRecords.h"
#include "platform/PlatformServices.h"
#include "records/Backup.h"
#include "records/Records.h"
#include "service/ManagerService.h"
#include "service/SerialExecutor.h"

namespace olvex {

// The one object behind the window. It holds what the window shows as observable properties
// and list models, and offers the user's commands. It lives on the main thread: every property
// is read and written there and every command is invoked there. Everything that touches a game
// folder is a request of its one ManagerService, run on the service's own thread and awaited;
// only the scanner runs elsewhere, and only its report comes back.
//
// Long commands run through one operation runner: one at a time, with a busy state, the stage
// the service reports, cancellation until the commit, progress, a start and an end line in the
// operation log, and failures in `error`. Destructive commands go through a candidate field
// that the window's confirmation shows; confirming calls the command, then clears the field.
class AppModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("应用只创建一个 AppModel")

    // --- Version folders ---------------------------------------------------------------
    Q_PROPERTY(olvex::ClientListModel* clients READ clients CONSTANT)
    // Id (path) of the selected version folder; empty when none is selected. Writing it (the
    // sidebar) unticks the game-closed box and refreshes the lists.
    Q_PROPERTY(QString selection READ selectionText WRITE setSelectionText NOTIFY selectionChanged)
    Q_PROPERTY(bool hasSelection READ hasSelection NOTIFY selectedChanged)
    Q_PROPERTY(QString headerTitle READ headerTitle NOTIFY selectedChanged)
    Q_PROPERTY(QString headerSubtitle READ headerSubtitle NOTIFY selectedChanged)
    Q_PROPERTY(QStringList savedRoots READ savedRoots NOTIFY savedRootsChanged)
    Q_PROPERTY(bool hasSavedRoots READ hasSavedRoots NOTIFY savedRootsChanged)

    // --- Operation state ---------------------------------------------------------------
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    // The stage of the running operation, "正在扫描" during a scan.
    Q_PROPERTY(QString busyText READ busyText NOTIFY stageChanged)
    // What the install sheet says while busy: the stage, or "正在处理" without one.
    Q_PROPERTY(QString operationText READ operationText NOTIFY stageChanged)
    Q_PROPERTY(bool canCancel READ canCancel NOTIFY canCancelChanged)
    // Share of the current step done, 0 to 1; -1 when the step has no known total.
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(QString error READ errorText NOTIFY errorChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorChanged)
    // The user's ticked confirmation that the game is fully closed.
    Q_PROPERTY(bool gameClosed READ gameClosed WRITE setGameClosed NOTIFY gameClosedChanged)
    Q_PROPERTY(bool pendingRecovery READ pendingRecovery NOTIFY pendingRecoveryChanged)
    // A quit was asked for while an operation ran; the window closes when it ends.
    Q_PROPERTY(bool quitPending READ quitPending NOTIFY quitPendingChanged)

    // --- Lists of the selected folder --------------------------------------------------
    // The add-ons that match `addonQuery` (all when it is empty).
    Q_PROPERTY(olvex::RowListModel* addons READ addons CONSTANT)
    Q_PROPERTY(QString addonHeading READ addonHeading NOTIFY addonsChanged)
    Q_PROPERTY(bool hasAddons READ hasAddons NOTIFY addonsChanged)
    Q_PROPERTY(QString addonQuery READ addonQuery WRITE setAddonQuery NOTIFY addonQueryChanged)
    Q_PROPERTY(olvex::RowListModel* packs READ packs CONSTANT)
    Q_PROPERTY(olvex::RowListModel* retiredAddons READ retiredAddons CONSTANT)
    Q_PROPERTY(olvex::RowListModel* backups READ backups CONSTANT)

    // --- The install sheet ---------------------------------------------------------------
    Q_PROPERTY(bool hasPreview READ hasPreview NOTIFY previewChanged)
    Q_PROPERTY(QString previewArchiveName READ previewArchiveName NOTIFY previewChanged)
    Q_PROPERTY(QString previewPackLine READ previewPackLine NOTIFY previewChanged)
    Q_PROPERTY(QString previewSourceLine READ previewSourceLine NOTIFY previewChanged)
    Q_PROPERTY(QString previewRetiredLine READ previewRetiredLine NOTIFY previewChanged)
    Q_PROPERTY(QString previewTargetLine READ previewTargetLine NOTIFY previewChanged)
    Q_PROPERTY(QString previewCountLine READ previewCountLine NOTIFY previewChanged)
    Q_PROPERTY(olvex::RowListModel* previewAddons READ previewAddons CONSTANT)

    // --- Confirmations and the scope picker -------------------------------------------
    Q_PROPERTY(bool hasRestoreCandidate READ hasRestoreCandidate NOTIFY candidatesChanged)
    Q_PROPERTY(QString restoreTitle READ restoreTitle NOTIFY candidatesChanged)
    Q_PROPERTY(bool hasRecycleCandidate READ hasRecycleCandidate NOTIFY candidatesChanged)
    Q_PROPERTY(bool hasImportCandidate READ hasImportCandidate NOTIFY candidatesChanged)
    Q_PROPERTY(bool hasRetiredCandidate READ hasRetiredCandidate NOTIFY candidatesChanged)
    Q_PROPERTY(QString retiredConfirmText READ retiredConfirmText NOTIFY candidatesChanged)
    Q_PROPERTY(bool hasScopeBackup READ hasScopeBackup NOTIFY candidatesChanged)
    Q_PROPERTY(olvex::RowListModel* scopes READ scopes CONSTANT)
    Q_PROPERTY(QString scopeSelection READ scopeSelectionText WRITE setScopeSelectionText NOTIFY scopeSelectionChanged)
    Q_PROPERTY(bool hasScopeSelection READ hasScopeSelection NOTIFY scopeSelectionChanged)

public:
    using Scanner = std::function<ScanReport(const std::vector<Path>&)>;
    using Body = std::function<QCoro::Task<>()>;

    // User-defaults key of the saved roots.
    static constexpr auto savedKey = "Olvex.selectedRoots";

    // `platform` must outlive the model. `scanner` replaces GameScanner::scanReport and
    // `service` the service made with no hooks (tests).
    explicit AppModel(PlatformServices& platform, Scanner scanner = {}, std::unique_ptr<ManagerService> service = {},
                      QObject* parent = nullptr);
    ~AppModel() override;

    // --- State, as the core's records ---------------------------------------------------
    const std::vector<GameClient>& clientList() const { return m_clients.clients(); }
    const std::optional<std::string>& selection() const { return m_selection; }
    void setSelection(const std::optional<std::string>& id);
    // The first client whose id is the selection; absent when none matches. Commands on the
    // selected folder read it when they are invoked.
    std::optional<GameClient> selected() const;
    const std::vector<InstalledAddon>& addonList() const { return m_addons; }
    // The add-ons whose title, folder name and author contain `addonQuery`, compared without
    // letter case in the interface locale; all of them for an empty query.
    std::vector<InstalledAddon> filteredAddons() const;
    const std::vector<ManagedPack>& packList() const { return m_packs; }
    const std::vector<RetiredAddon>& retiredList() const { return m_retired; }
    const std::vector<LocalBackup>& backupList() const { return m_backups; }
    const std::map<Uuid, std::int64_t>& backupSizes() const { return m_backupSizes; }
    const std::optional<ImportPreview>& preview() const { return m_preview; }
    const std::optional<std::string>& error() const { return m_error; }
    const std::optional<OperationStage>& stage() const { return m_stage; }
    const std::optional<Uuid>& operationID() const { return m_operationID; }
    // The control of the running operation; kept alive by whoever holds it.
    std::shared_ptr<OperationControl> operation() const { return m_operation; }
    const std::optional<LocalBackup>& restoreCandidate() const { return m_restoreCandidate; }
    const std::optional<LocalBackup>& recycleCandidate() const { return m_recycleCandidate; }
    const std::optional<QString>& importCandidate() const { return m_importCandidate; }
    const std::optional<RetiredAddon>& retiredCandidate() const { return m_retiredCandidate; }
    const std::optional<LocalBackup>& scopeBackup() const { return m_scopeBackup; }
    const std::vector<ConfigurationScope>& scopeList() const { return m_scopes; }
    const std::optional<std::string>& scopeSelection() const { return m_scopeSelection; }
    const QStringList& events() const { return m_log.lines(); }
    // Whether a refresh has not answered yet.
    bool refreshing() const { return m_refreshes > 0; }

    // --- Properties ---------------------------------------------------------------------
    ClientListModel* clients() { return &m_clients; }
    QString selectionText() const;
    void setSelectionText(const QString& id);
    bool hasSelection() const { return selected().has_value(); }
    QString headerTitle() const;
    QString headerSubtitle() const;
    QStringList savedRoots() const { return m_savedRoots; }
    bool hasSavedRoots() const { return !m_savedRoots.isEmpty(); }
    bool busy() const { return m_busy; }
    QString busyText() const;
    QString operationText() const;
    bool canCancel() const { return m_canCancel; }
    double progress() const { return m_progress; }
    QString progressText() const;
    QString message() const { return m_message; }
    QString errorText() const;
    bool hasError() const { return m_error.has_value(); }
    bool gameClosed() const { return m_gameClosed; }
    void setGameClosed(bool closed);
    bool pendingRecovery() const { return m_pendingRecovery; }
    bool quitPending() const { return m_quitPending; }
    RowListModel* addons() { return &m_addonRows; }
    QString addonHeading() const;
    bool hasAddons() const { return !m_addons.empty(); }
    QString addonQuery() const { return m_addonQuery; }
    void setAddonQuery(const QString& query);
    RowListModel* packs() { return &m_packRows; }
    RowListModel* retiredAddons() { return &m_retiredRows; }
    RowListModel* backups() { return &m_backupRows; }
    bool hasPreview() const { return m_preview.has_value(); }
    QString previewArchiveName() const { return m_previewTexts.archiveName; }
    QString previewPackLine() const { return m_previewTexts.packLine; }
    QString previewSourceLine() const { return m_previewTexts.sourceLine; }
    QString previewRetiredLine() const { return m_previewTexts.retiredLine; }
    QString previewTargetLine() const { return m_previewTexts.targetLine; }
    QString previewCountLine() const { return m_previewTexts.countLine; }
    RowListModel* previewAddons() { return &m_previewAddonRows; }
    bool hasRestoreCandidate() const { return m_restoreCandidate.has_value(); }
    QString restoreTitle() const;
    bool hasRecycleCandidate() const { return m_recycleCandidate.has_value(); }
    bool hasImportCandidate() const { return m_importCandidate.has_value(); }
    bool hasRetiredCandidate() const { return m_retiredCandidate.has_value(); }
    QString retiredConfirmText() const;
    bool hasScopeBackup() const { return m_scopeBackup.has_value(); }
    RowListModel* scopes() { return &m_scopeRows; }
    QString scopeSelectionText() const;
    void setScopeSelectionText(const QString& relativePath);
    bool hasScopeSelection() const { return m_scopeSelection.has_value(); }

    // --- Version folders ----------------------------------------------------------------
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

    // --- Packs --------------------------------------------------------------------------
    // Asks for a ZIP and previews it for the selected folder ("导入 ZIP").
    Q_INVOKABLE void chooseZIP();
    // Previews a ZIP given by path (a file dropped on the window, or opened with the app).
    Q_INVOKABLE void chooseZIP(const QString& path);
    // What the window hands over when files are dropped on it: exactly one local .zip file
    // starts its preview; anything else is refused in `error`.
    Q_INVOKABLE void dropFiles(const QList<QUrl>& urls);
    Q_INVOKABLE void install();
    Q_INVOKABLE void cancelPreview();
    void removeRetired(const RetiredAddon& addon);
    Q_INVOKABLE void recover();

    // --- Backups and configuration ------------------------------------------------------
    Q_INVOKABLE void backup();
    void restore(const LocalBackup& backup, const std::optional<std::string>& scope);
    void chooseScope(const LocalBackup& backup);
    Q_INVOKABLE void chooseScope(const QString& backupId);
    void exportBackup(const LocalBackup& backup);
    Q_INVOKABLE void exportBackup(const QString& backupId);
    Q_INVOKABLE void chooseConfiguration();
    void importConfiguration(const QString& folder);
    void recycle(const LocalBackup& backup);
    Q_INVOKABLE void retainRecent();
    Q_INVOKABLE void recoverRecycled();
    Q_INVOKABLE void revealBackups();
    Q_INVOKABLE void revealFolder(const QString& path);

    // --- Confirmations: a row's button sets the candidate, the dialog confirms or dismisses.
    Q_INVOKABLE void setRestoreCandidate(const QString& backupId);
    Q_INVOKABLE void confirmRestore();
    Q_INVOKABLE void setRecycleCandidate(const QString& backupId);
    Q_INVOKABLE void confirmRecycle();
    Q_INVOKABLE void confirmImport();
    Q_INVOKABLE void setRetiredCandidate(const QString& retiredId);
    Q_INVOKABLE void confirmRetired();
    // The scope picker's "备份并恢复所选范围": closes it and restores the chosen scope.
    Q_INVOKABLE void confirmScope();
    // Closes whichever confirmation (or the scope picker) is open without acting.
    Q_INVOKABLE void dismissCandidates();

    // --- Operation control and diagnostics ------------------------------------------------
    Q_INVOKABLE void cancelOperation();
    Q_INVOKABLE void dismissError();
    // Asks for a file and writes the operation log into it.
    Q_INVOKABLE void exportLog();
    // The window is being closed: true when it may close now. Otherwise the running operation
    // is cancelled if it still can be, and `quitReady` follows once it has ended.
    Q_INVOKABLE bool requestQuit();

    // The operation runner: ignored while busy; otherwise runs `body` on the main thread as
    // the operation `title`, and returns at once.
    void run(const QString& title, bool cancellable, Body body);

    // Awaits one request of the service, run on its own thread. A failure is rethrown here.
    template <typename F> auto ask(F request) -> QCoro::Task<std::invoke_result_t<F&, ManagerService&>>;

signals:
    void selectionChanged();
    void selectedChanged();
    void busyChanged();
    void stageChanged();
    void canCancelChanged();
    void progressChanged();
    void messageChanged();
    void errorChanged();
    void gameClosedChanged();
    void pendingRecoveryChanged();
    void quitPendingChanged();
    void addonsChanged();
    void addonQueryChanged();
    void previewChanged();
    void candidatesChanged();
    void scopeSelectionChanged();
    void savedRootsChanged();
    // A scan's report has been applied (or the scan ended without one).
    void scanFinished();
    // A refresh has ended, applied or not.
    void refreshFinished();
    // An operation has ended, whatever its outcome.
    void operationFinished();
    // The quit asked for while an operation ran may now happen.
    void quitReady();

private:
    // Thrown at an await when the model was destroyed meanwhile: the coroutine unwinds
    // without touching it.
    struct ModelGone {};

    QCoro::Task<> runScan(std::vector<Path> roots);
    void applyScan(const ScanReport& report);
    QCoro::Task<> runOperation(QString title, Body body);
    QCoro::Task<> change(std::function<void(ManagerService&)> request, QString message);
    // run() with the folder selected now handed to `body`; nothing happens without one.
    void runOnSelected(const QString& title, bool cancellable,
                       const std::function<QCoro::Task<>(const GameClient&)>& body);
    void stageReported(const Uuid& id, bool cancellable, OperationStage stage);
    // Fails unless the user ticked that the game is closed and no program counts as the game.
    void requireClosedGame() const;
    // Shows a modal panel and gives back its answer. A panel runs its own event loop, in which a
    // second click or shortcut could ask for another panel on top; that request gets no answer.
    std::optional<QString> askPanel(const std::function<std::optional<QString>()>& panel);
    void log(const QString& text);
    QCoro::Task<> writeLog(QString path, QString text);
    void updateProgress();

    QCoro::Task<> previewBody(QString zip, GameClient client);
    QCoro::Task<> installBody(ImportPreview preview);
    QCoro::Task<> discardBody();
    QCoro::Task<> removeRetiredBody(RetiredAddon addon, GameClient client);
    QCoro::Task<> recoverBody(GameClient client);
    QCoro::Task<> backupBody(GameClient client);
    QCoro::Task<> restoreBody(LocalBackup backup, std::optional<std::string> scope, GameClient client);
    QCoro::Task<> chooseScopeBody(LocalBackup backup, GameClient client);
    QCoro::Task<> exportBody(LocalBackup backup, GameClient client, Path destination);
    QCoro::Task<> importBody(QString folder, GameClient client);
    QCoro::Task<> recycleBody(LocalBackup backup, GameClient client);
    QCoro::Task<> retainBody(GameClient client);
    QCoro::Task<> recoverRecycledBody(GameClient client);

    std::optional<LocalBackup> backupWithId(const QString& id) const;
    // Stores a property's value and announces it only when it changed, so that bindings do not
    // re-evaluate for nothing. True when it changed.
    template <typename T, typename Value> bool assign(T& field, Value&& value, void (AppModel::*changed)()) {
        if (value == field) {
            return false;
        }
        field = std::forward<Value>(value);
        emit(this->*changed)();
        return true;
    }
    void setBusy(bool busy);
    void setStage(std::optional<OperationStage> stage);
    void setCanCancel(bool canCancel);
    void setMessage(const QString& message);
    void setError(std::optional<std::string> error);
    void setSavedRoots(const QStringList& roots);
    void setPendingRecovery(bool pending);
    void setAddons(std::vector<InstalledAddon> addons);
    void setPacks(std::vector<ManagedPack> packs);
    void setRetired(std::vector<RetiredAddon> retired);
    void setBackups(std::vector<BackupDetails> details);
    void clearBackups();
    void setPreview(std::optional<ImportPreview> preview);
    void setScopes(std::vector<ConfigurationScope> scopes);
    void setScopeSelection(std::optional<std::string> selection);
    void updateAddonRows();
    QStringList storedRoots() const;

    PlatformServices& m_platform;
    Scanner m_scanner;
    ClientListModel m_clients;
    std::optional<std::string> m_selection;
    bool m_busy = false;
    bool m_scanning = false;
    bool m_panelOpen = false;
    int m_refreshes = 0;
    QString m_message;
    std::optional<std::string> m_error;
    bool m_gameClosed = false;
    bool m_pendingRecovery = false;
    QStringList m_savedRoots;
    std::vector<InstalledAddon> m_addons;
    std::vector<ManagedPack> m_packs;
    std::vector<RetiredAddon> m_retired;
    std::vector<LocalBackup> m_backups;
    std::map<Uuid, std::int64_t> m_backupSizes;
    QString m_addonQuery;
    std::optional<ImportPreview> m_preview;
    rows::PreviewTexts m_previewTexts;
    std::optional<LocalBackup> m_restoreCandidate;
    std::optional<LocalBackup> m_recycleCandidate;
    std::optional<QString> m_importCandidate;
    std::optional<RetiredAddon> m_retiredCandidate;
    std::optional<LocalBackup> m_scopeBackup;
    std::vector<ConfigurationScope> m_scopes;
    std::optional<std::string> m_scopeSelection;
    std::optional<OperationStage> m_stage;
    bool m_canCancel = false;
    double m_progress = -1;
    std::shared_ptr<OperationControl> m_operation;
    std::optional<Uuid> m_operationID;
    bool m_quitPending = false;
    OperationLog m_log;
    QTimer m_progressTimer;

    RowListModel m_addonRows;
    RowListModel m_packRows;
    RowListModel m_retiredRows;
    RowListModel m_backupRows;
    RowListModel m_scopeRows;
    RowListModel m_previewAddonRows;

    // The executor is declared after the service and so stops first: no request outlives the
    // service, and none runs once the model is being torn down.
    std::unique_ptr<ManagerService> m_service;
    SerialExecutor m_executor;
};

// The status line after a scan: how many folders were found, then one warning per kind of
// trouble (inaccessible folders, a search limit, saved roots that are missing).
QString scanMessage(const ScanReport& report, const QStringList& savedRoots);

template <typename F> auto AppModel::ask(F request) -> QCoro::Task<std::invoke_result_t<F&, ManagerService&>> {
    using Result = std::invoke_result_t<F&, ManagerService&>;
    // The promise is finished however the request ends, even when the executor drops it at
    // shutdown, so an await never waits on a future that cannot finish.
    struct Pending {
        QPromise<Result> promise;
        bool settled = false;
        ~Pending() {
            if (!settled) {
                promise.setException(std::make_exception_ptr(ModelGone{}));
                promise.finish();
            }
        }
    };
    auto pending = std::make_shared<Pending>();
    QFuture<Result> future = pending->promise.future();
    pending->promise.start();
    ManagerService* service = m_service.get();
    m_executor.post([pending, service, request = std::move(request)]() mutable {
        try {
            if constexpr (std::is_void_v<Result>) {
                request(*service);
            } else {
                pending->promise.addResult(request(*service));
            }
        } catch (...) {
            pending->promise.setException(std::current_exception());
        }
        pending->settled = true;
        pending->promise.finish();
    });
    QPointer<AppModel> self(this);
    if constexpr (std::is_void_v<Result>) {
        std::exception_ptr failure;
        try {
            co_await future;
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            throw ModelGone{};
        }
        if (failure) {
            std::rethrow_exception(failure);
        }
    } else {
        std::optional<Result> result;
        std::exception_ptr failure;
        try {
            result.emplace(co_await future);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            throw ModelGone{};
        }
        if (failure) {
            std::rethrow_exception(failure);
        }
        co_return std::move(*result);
    }
}

} // namespace olvex
