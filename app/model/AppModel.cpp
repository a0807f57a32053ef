#include "model/AppModel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "base/Errors.h"
#include "discovery/Inventory.h"
#include "discovery/RunningGame.h"
#include "fs/FileSafety.h"
#include "packs/Staging.h"
#include "platform/PlatformWords.h"
#include "service/Outcomes.h"

namespace olvex {

namespace {

constexpr int kProgressInterval = 100; // milliseconds between progress readings

// With GCC 12, a temporary built inside a co_await expression (a lambda and its captures, a
// path) can be destroyed twice (AddressSanitizer caught it). So every awaited task or future is
// made in a statement of its own and awaited as a local; closures are built in plain functions.
QFuture<ScanReport> startScan(const AppModel::Scanner& scanner, std::vector<Path> roots) {
    return QtConcurrent::run([scanner, roots = std::move(roots)] { return scanner(roots); });
}

// Answers the failure's description, or nothing on success. The failure is described where it
// was thrown: QtConcurrent hands anything but a QException back as a QUnhandledException whose
// own text is only "std::exception".
QFuture<std::optional<std::string>> startWrite(Path path, std::string data) {
    return QtConcurrent::run([path = std::move(path), data = std::move(data)]() -> std::optional<std::string> {
        try {
            FileSafety::writeFileAtomically(path, data);
        } catch (const std::exception& failure) {
            return describe(failure);
        }
        return std::nullopt;
    });
}

QString qText(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// One list row per item, as `row` shows it.
template <typename Items, typename Row> QList<QVariantList> rowsOf(const Items& items, Row row) {
    QList<QVariantList> list;
    for (const auto& item : items) {
        list.append(row(item));
    }
    return list;
}

// A confirmed candidate runs its command, if it is still there, and is cleared either way.
template <typename T, typename Command> void takeCandidate(std::optional<T>& candidate, Command command) {
    if (candidate) {
        command(*candidate);
    }
    candidate.reset();
}

} // namespace

AppModel::AppModel(PlatformServices& platform, Scanner scanner, std::unique_ptr<ManagerService> service,
                   QObject* parent)
    : QObject(parent), m_platform(platform),
      m_scanner(scanner ? std::move(scanner) : Scanner(&GameScanner::scanReport)),
      m_message(QStringLiteral("请选择游戏目录，开始管理本地插件。")),
      m_log(platform.stringList(QString::fromLatin1(OperationLog::storeKey)).value_or(QStringList())),
      m_addonRows(rows::addonRoles()), m_packRows(rows::packRoles()), m_retiredRows(rows::retiredRoles()),
      m_backupRows(rows::backupRoles()), m_scopeRows(rows::scopeRoles()), m_previewAddonRows(rows::previewAddonRoles()),
      m_service(service ? std::move(service) : std::make_unique<ManagerService>()) {
    m_progressTimer.setInterval(kProgressInterval);
    connect(&m_progressTimer, &QTimer::timeout, this, &AppModel::updateProgress);
}

AppModel::~AppModel() {
    // A running request still sees a live control; later ones are dropped by the executor.
    if (m_operation) {
        m_operation->cancel();
    }
}

// --- Selection ---------------------------------------------------------------------------

void AppModel::setSelection(const std::optional<std::string>& id) {
    if (id == m_selection) {
        return;
    }
    m_selection = id;
    m_clients.setSelectedId(m_selection);
    emit selectionChanged();
    emit selectedChanged();
    setGameClosed(false);
    // A scan refreshes once it has settled the selection.
    if (!m_scanning) {
        refresh();
    }
}

std::optional<GameClient> AppModel::selected() const {
    if (!m_selection) {
        return std::nullopt;
    }
    for (const auto& client : clientList()) {
        if (client.id() == *m_selection) {
            return client;
        }
    }
    return std::nullopt;
}

QString AppModel::selectionText() const {
    return m_selection ? toQString(*m_selection) : QString();
}

void AppModel::setSelectionText(const QString& id) {
    setSelection(id.isEmpty() ? std::nullopt : std::optional<std::string>(toPath(id).native()));
}

QString AppModel::headerTitle() const {
    auto client = selected();
    return client ? qText(client->title()) : QStringLiteral("欢迎来到Tarnel");
}

QString AppModel::headerSubtitle() const {
    auto client = selected();
    return client
               ? toQString(client->url())
               : QStringLiteral("为国服玩家准备的原生 ") + PlatformWords::platform() + QStringLiteral(" 插件管理工具");
}

// --- Scan --------------------------------------------------------------------------------

QStringList AppModel::storedRoots() const {
    return m_platform.stringList(QString::fromLatin1(savedKey)).value_or(QStringList());
}

void AppModel::scan(const std::optional<QString>& extra) {
    if (m_busy) {
        return;
    }
    setBusy(true);
    m_scanning = true;
    emit stageChanged();
    QStringList roots = storedRoots();
    if (extra && !roots.contains(*extra)) {
        roots.append(*extra);
    }
    // Written back even when unchanged, so the store always holds a proper list.
    m_platform.setStringList(QString::fromLatin1(savedKey), roots);
    setSavedRoots(roots);

    std::vector<Path> scanRoots = m_platform.defaultRoots();
    for (const QString& root : roots) {
        scanRoots.push_back(toPath(root));
    }
    runScan(std::move(scanRoots));
}

QCoro::Task<> AppModel::runScan(std::vector<Path> roots) {
    // The model may be destroyed while the scanner runs; the task then wakes up to nothing and
    // must not touch it.
    QPointer<AppModel> self(this);
    const Date dayAgo = stagingCutoff(Date::now());
    try {
        auto cleanup = ask([dayAgo](ManagerService& service) { return service.cleanupTemporaryFiles(dayAgo); });
        co_await cleanup;
    } catch (const ModelGone&) {
        co_return;
    } catch (...) {
        // Stale staging folders are only tidied here; a failure leaves them for the next scan.
    }
    QFuture<ScanReport> future = startScan(m_scanner, std::move(roots));
    ScanReport report;
    bool scanned = true;
    try {
        report = co_await future;
    } catch (...) {
        // The scanner reports every problem in its report; only resource exhaustion lands
        // here. Leave the last results standing and let the user scan again.
        scanned = false;
    }
    if (!self) {
        co_return;
    }
    if (!scanned) {
        m_scanning = false;
        setBusy(false);
        emit scanFinished();
        co_return;
    }
    applyScan(report);
    emit scanFinished();
    try {
        auto refreshed = refresh();
        co_await refreshed;
    } catch (const ModelGone&) {
    }
}

void AppModel::applyScan(const ScanReport& report) {
    m_clients.setClients(report.clients);
    const auto& found = clientList();
    const bool stillFound = m_selection && std::any_of(found.begin(), found.end(), [&](const GameClient& client) {
                                return client.id() == *m_selection;
                            });
    if (!stillFound) {
        setSelection(found.empty() ? std::nullopt : std::optional<std::string>(found.front().id()));
    }
    emit selectedChanged(); // the list changed beneath the selection
    m_scanning = false;
    setBusy(false);
    emit stageChanged();
    setMessage(scanMessage(report, m_savedRoots));
}

void AppModel::chooseGame() {
    if (auto folder =
            askPanel([&] { return m_platform.chooseDirectory(QStringLiteral("选择魔兽世界目录或版本文件夹")); })) {
        scan(*folder);
    }
}

std::optional<QString> AppModel::askPanel(const std::function<std::optional<QString>()>& panel) {
    if (m_panelOpen) {
        return std::nullopt;
    }
    m_panelOpen = true;
    struct Closed {
        bool& open;
        ~Closed() { open = false; }
    } closed{m_panelOpen};
    return panel();
}

void AppModel::forgetRoot(const QString& root) {
    if (m_busy) {
        return;
    }
    QStringList roots = storedRoots();
    roots.removeAll(root);
    m_platform.setStringList(QString::fromLatin1(savedKey), roots);
    scan(std::nullopt);
}

// --- Refresh -----------------------------------------------------------------------------

QCoro::Task<> AppModel::refresh() {
    QPointer<AppModel> self(this);
    const auto client = selected();
    if (!client) {
        clearBackups();
        setAddons({});
        setPacks({});
        setRetired({});
        setPendingRecovery(false);
        emit refreshFinished();
        co_return;
    }
    ++m_refreshes;
    try {
        auto askBackups = ask([client](ManagerService& s) { return s.backupDetails(*client); });
        auto details = co_await askBackups;
        auto askAddons = ask([client](ManagerService& s) { return s.installedAddons(*client); });
        auto addons = co_await askAddons;
        auto askPacks = ask([client](ManagerService& s) { return s.installedPacks(*client); });
        auto packs = co_await askPacks;
        auto askRetired = ask([client](ManagerService& s) { return s.retiredAddons(*client); });
        auto retired = co_await askRetired;
        auto askPending = ask([client](ManagerService& s) { return s.hasPendingRecovery(*client); });
        const bool pending = co_await askPending;
        // The user may have picked another folder meanwhile: its lists are not these.
        if (m_selection == client->id()) {
            setBackups(std::move(details));
            setAddons(std::move(addons));
            setPacks(std::move(packs));
            setRetired(std::move(retired));
            setPendingRecovery(pending);
        }
    } catch (const ModelGone&) {
        co_return;
    } catch (const std::exception& failure) {
        // A folder the user has left since (removed, renamed, replaced by another pick) is not
        // worth an alert, and its failure must not empty the lists of the folder now shown.
        if (m_selection == client->id()) {
            setError(describe(failure));
            clearBackups();
        }
    }
    if (self) {
        --m_refreshes;
        emit refreshFinished();
    }
}

// --- Operation runner --------------------------------------------------------------------

void AppModel::run(const QString& title, bool cancellable, Body body) {
    if (m_busy) {
        return;
    }
    setBusy(true);
    setError(std::nullopt);
    setStage(OperationStage::validating);
    setCanCancel(cancellable);
    const Uuid id = Uuid::random();
    m_operationID = id;
    // The service reports stages on its own thread. The report only hops to the main thread,
    // where a model that is gone, or an operation that has ended, is simply not there to find.
    QPointer<AppModel> self(this);
    m_operation = std::make_shared<OperationControl>([self, id, cancellable](OperationStage stage) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, id, cancellable, stage] {
                if (self) {
                    self->stageReported(id, cancellable, stage);
                }
            },
            Qt::QueuedConnection);
    });
    m_progress = -1;
    emit progressChanged();
    m_progressTimer.start();
    log(title + QStringLiteral("：开始"));
    runOperation(title, std::move(body));
}

// The common end of a request that changes the game folder: once the service has done it,
// the success message shows and every list is read again.
QCoro::Task<> AppModel::change(std::function<void(ManagerService&)> request, QString message) {
    auto asked = ask(std::move(request));
    co_await asked;
    setMessage(message);
    auto refreshed = refresh();
    co_await refreshed;
}

QCoro::Task<> AppModel::runOperation(QString title, Body body) {
    QPointer<AppModel> self(this);
    QString outcome;
    try {
        auto task = body();
        co_await task;
        outcome = QStringLiteral("：成功");
    } catch (const ModelGone&) {
        co_return;
    } catch (const CancellationError&) {
        if (!self) {
            co_return;
        }
        setMessage(QString::fromUtf8(outcome::kCancelled));
        outcome = QStringLiteral("：取消");
    } catch (const std::exception& failure) {
        if (!self) {
            co_return;
        }
        setError(describe(failure));
        outcome = QStringLiteral("：失败；请在界面查看详情");
    }
    if (!self) {
        co_return;
    }
    log(title + outcome);
    m_progressTimer.stop();
    m_operation.reset();
    m_operationID.reset();
    m_progress = -1;
    emit progressChanged();
    setBusy(false);
    setCanCancel(false);
    setStage(std::nullopt);
    emit operationFinished();
    if (m_quitPending) {
        emit quitReady();
    }
}

void AppModel::runOnSelected(const QString& title, bool cancellable,
                             const std::function<QCoro::Task<>(const GameClient&)>& body) {
    if (auto client = selected()) {
        run(title, cancellable, [body, client = *client] { return body(client); });
    }
}

void AppModel::stageReported(const Uuid& id, bool cancellable, OperationStage stage) {
    if (m_operationID != id) {
        return; // a report of an operation that has ended, or of an earlier one
    }
    setStage(stage);
    const bool cancelled = m_operation && m_operation->isCancelled();
    setCanCancel(cancellable && !cancelled && stage != OperationStage::committing && stage != OperationStage::finished);
    log(qText(rawValue(stage)));
}

void AppModel::updateProgress() {
    if (!m_operation) {
        return;
    }
    const auto progress = m_operation->progress();
    double share = -1;
    if (progress.total > 0) {
        share = std::clamp(static_cast<double>(progress.done) / static_cast<double>(progress.total), 0.0, 1.0);
    }
    if (share != m_progress) {
        m_progress = share;
        emit progressChanged();
    }
}

void AppModel::cancelOperation() {
    if (m_operation) {
        m_operation->cancel();
    }
    setCanCancel(false);
}

void AppModel::requireClosedGame() const {
    if (!m_gameClosed) {
        throw ManagerError("请先退出魔兽世界，并勾选确认。");
    }
    requireGameNotRunning(m_platform.runningApplications(), clientList());
}

bool AppModel::requestQuit() {
    if (!m_busy) {
        return true;
    }
    cancelOperation();
    if (!m_quitPending) {
        m_quitPending = true;
        emit quitPendingChanged();
    }
    // A scan has nothing to cancel and nothing to lose: it may be left behind.
    return m_scanning;
}

// --- Packs -------------------------------------------------------------------------------

void AppModel::chooseZIP() {
    if (!selected() || m_busy) {
        return;
    }
    if (auto zip = askPanel([&] {
            return m_platform.chooseFile(QStringLiteral("导入本地插件整合包"), {QStringLiteral("ZIP 压缩包 (*.zip)")});
        })) {
        chooseZIP(*zip);
    }
}

void AppModel::chooseZIP(const QString& path) {
    runOnSelected(QStringLiteral("导入 ZIP"), true,
                  [this, path](const GameClient& selected) { return previewBody(path, selected); });
}

void AppModel::dropFiles(const QList<QUrl>& urls) {
    if (m_busy) {
        return;
    }
    if (!selected()) {
        setError(std::string("请先在左侧选择一个游戏版本，再拖入整合包。"));
        return;
    }
    if (urls.size() != 1 || !urls.first().isLocalFile() ||
        !urls.first().toLocalFile().endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive)) {
        setError(std::string("只能导入一个本地 ZIP 整合包，请拖入单个 .zip 文件。"));
        return;
    }
    chooseZIP(urls.first().toLocalFile());
}

QCoro::Task<> AppModel::previewBody(QString zip, GameClient client) {
    auto control = m_operation.get();
    const Path path = toPath(zip);
    auto request =
        ask([path, client, control](ManagerService& service) { return service.preview(path, client, control); });
    auto preview = co_await request;
    setPreview(std::move(preview));
    setMessage(QStringLiteral("整合包已验证，请核对安装预览。"));
}

void AppModel::install() {
    if (!m_preview) {
        return;
    }
    run(QStringLiteral("安装插件"), true, [this, preview = *m_preview] { return installBody(preview); });
}

QCoro::Task<> AppModel::installBody(ImportPreview preview) {
    requireClosedGame();
    auto control = m_operation.get();
    const Uuid token = preview.token;
    auto request = ask([token, control](ManagerService& service) { service.install(token, control); });
    co_await request;
    setPreview(std::nullopt);
    setMessage(qText(outcome::installed(preview.addons.size())));
    auto refreshed = refresh();
    co_await refreshed;
}

void AppModel::cancelPreview() {
    run(QStringLiteral("关闭预览"), false, [this] { return discardBody(); });
}

QCoro::Task<> AppModel::discardBody() {
    auto request = ask([](ManagerService& service) { service.discardPreview(); });
    co_await request;
    setPreview(std::nullopt);
}

void AppModel::removeRetired(const RetiredAddon& addon) {
    runOnSelected(QStringLiteral("清理旧整合包插件"), true,
                  [this, addon](const GameClient& selected) { return removeRetiredBody(addon, selected); });
}

QCoro::Task<> AppModel::removeRetiredBody(RetiredAddon addon, GameClient client) {
    requireClosedGame();
    auto control = m_operation.get();
    return change(
        [addon, client, control](ManagerService& service) {
            service.removeRetiredAddon(addon.packID, addon.name, client, control);
        },
        QString::fromUtf8(outcome::kRetiredRemoved));
}

void AppModel::recover() {
    runOnSelected(QStringLiteral("恢复中断事务"), false,
                  [this](const GameClient& selected) { return recoverBody(selected); });
}

QCoro::Task<> AppModel::recoverBody(GameClient client) {
    requireClosedGame();
    return change([client](ManagerService& service) { service.recover(client); },
                  QString::fromUtf8(outcome::kRecovered));
}

// --- Backups and configuration -------------------------------------------------------------

void AppModel::backup() {
    runOnSelected(QStringLiteral("备份 WTF"), true,
                  [this](const GameClient& selected) { return backupBody(selected); });
}

QCoro::Task<> AppModel::backupBody(GameClient client) {
    requireClosedGame();
    auto control = m_operation.get();
    return change([client, control](ManagerService& service) { service.backupWTF(client, control); },
                  QString::fromUtf8(outcome::kWtfBackedUp));
}

void AppModel::restore(const LocalBackup& backup, const std::optional<std::string>& scope) {
    runOnSelected(QStringLiteral("恢复备份"), true,
                  [this, backup, scope](const GameClient& selected) { return restoreBody(backup, scope, selected); });
}

QCoro::Task<> AppModel::restoreBody(LocalBackup backup, std::optional<std::string> scope, GameClient client) {
    requireClosedGame();
    auto control = m_operation.get();
    return change(
        [backup, scope, client, control](ManagerService& service) { service.restore(backup, client, scope, control); },
        qText(outcome::restored(backup.kind)));
}

void AppModel::chooseScope(const LocalBackup& backup) {
    runOnSelected(QStringLiteral("选择恢复范围"), false,
                  [this, backup](const GameClient& selected) { return chooseScopeBody(backup, selected); });
}

void AppModel::chooseScope(const QString& backupId) {
    if (auto backup = backupWithId(backupId)) {
        chooseScope(*backup);
    }
}

QCoro::Task<> AppModel::chooseScopeBody(LocalBackup backup, GameClient client) {
    auto request =
        ask([backup, client](ManagerService& service) { return service.configurationScopes(backup, client); });
    auto scopes = co_await request;
    setScopes(std::move(scopes));
    if (m_scopes.empty()) {
        throw ManagerError("备份中没有可选择的账号或角色目录，可使用整目录恢复。");
    }
    setScopeSelection(m_scopes.front().relativePath);
    m_scopeBackup = backup;
    emit candidatesChanged();
}

void AppModel::exportBackup(const LocalBackup& backup) {
    auto client = selected();
    if (!client || m_busy) {
        return;
    }
    const QString proposed = qText(rawValue(backup.kind) + "-" + backup.id.text() + ".olvexbackup");
    auto destination = askPanel([&] {
        return m_platform.chooseSaveLocation(QStringLiteral("导出备份到其他磁盘（配置可能包含账号信息）"), proposed);
    });
    if (!destination) {
        return;
    }
    run(QStringLiteral("导出备份"), true,
        [this, backup, client = *client, path = toPath(*destination)] { return exportBody(backup, client, path); });
}

void AppModel::exportBackup(const QString& backupId) {
    if (auto backup = backupWithId(backupId)) {
        exportBackup(*backup);
    }
}

QCoro::Task<> AppModel::exportBody(LocalBackup backup, GameClient client, Path destination) {
    auto control = m_operation.get();
    auto request = ask([backup, client, destination, control](ManagerService& service) {
        service.exportBackup(backup, client, destination, control);
    });
    co_await request;
    setMessage(QString::fromUtf8(outcome::kExported));
}

void AppModel::chooseConfiguration() {
    if (auto folder =
            askPanel([&] { return m_platform.chooseDirectory(QStringLiteral("选择导出的 .olvexbackup 文件夹")); })) {
        m_importCandidate = *folder;
        emit candidatesChanged();
    }
}

void AppModel::importConfiguration(const QString& folder) {
    runOnSelected(QStringLiteral("导入配置"), true,
                  [this, folder](const GameClient& selected) { return importBody(folder, selected); });
}

QCoro::Task<> AppModel::importBody(QString folder, GameClient client) {
    requireClosedGame();
    auto control = m_operation.get();
    const Path from = toPath(folder);
    return change([from, client, control](ManagerService& service) { service.importWTF(from, client, control); },
                  QString::fromUtf8(outcome::kImported));
}

void AppModel::recycle(const LocalBackup& backup) {
    runOnSelected(QStringLiteral("移除备份"), false,
                  [this, backup](const GameClient& selected) { return recycleBody(backup, selected); });
}

QCoro::Task<> AppModel::recycleBody(LocalBackup backup, GameClient client) {
    return change([backup, client](ManagerService& service) { service.recycleBackup(backup, client); },
                  QStringLiteral("备份已移入可恢复区，仍占磁盘空间。确认无需保留后可在") +
                      PlatformWords::fileBrowser() + QStringLiteral("中清理。"));
}

void AppModel::retainRecent() {
    runOnSelected(QStringLiteral("保留最近备份"), false,
                  [this](const GameClient& selected) { return retainBody(selected); });
}

QCoro::Task<> AppModel::retainBody(GameClient client) {
    return change(
        [client](ManagerService& service) { service.retainBackups(kDefaultRetainedBackups, client); },
        QStringLiteral("每类保留最近 %1 份，其余已移入可恢复区（仍占磁盘空间）。").arg(kDefaultRetainedBackups));
}

void AppModel::recoverRecycled() {
    runOnSelected(QStringLiteral("恢复已移除备份"), false,
                  [this](const GameClient& selected) { return recoverRecycledBody(selected); });
}

QCoro::Task<> AppModel::recoverRecycledBody(GameClient client) {
    return change([client](ManagerService& service) { service.recoverRecycledBackups(client); },
                  QStringLiteral("已恢复可恢复区中的备份。"));
}

void AppModel::revealBackups() {
    if (auto client = selected()) {
        // A folder that cannot be shown is not reported: there is nothing the user could do.
        m_platform.revealInFileBrowser(toQString(ManagerService::managerFolder(*client)));
    }
}

void AppModel::revealFolder(const QString& path) {
    m_platform.revealInFileBrowser(path);
}

std::optional<LocalBackup> AppModel::backupWithId(const QString& id) const {
    const auto uuid = Uuid::parse(id.toStdString());
    auto it = std::find_if(m_backups.begin(), m_backups.end(),
                           [&](const LocalBackup& backup) { return uuid && backup.id == *uuid; });
    return it == m_backups.end() ? std::nullopt : std::optional<LocalBackup>(*it);
}

// --- Confirmations -----------------------------------------------------------------------

void AppModel::setRestoreCandidate(const QString& backupId) {
    m_restoreCandidate = backupWithId(backupId);
    emit candidatesChanged();
}

void AppModel::confirmRestore() {
    takeCandidate(m_restoreCandidate, [this](const auto& candidate) { restore(candidate, std::nullopt); });
    emit candidatesChanged();
}

void AppModel::setRecycleCandidate(const QString& backupId) {
    m_recycleCandidate = backupWithId(backupId);
    emit candidatesChanged();
}

void AppModel::confirmRecycle() {
    takeCandidate(m_recycleCandidate, [this](const auto& candidate) { recycle(candidate); });
    emit candidatesChanged();
}

void AppModel::confirmImport() {
    takeCandidate(m_importCandidate, [this](const auto& candidate) { importConfiguration(candidate); });
    emit candidatesChanged();
}

void AppModel::setRetiredCandidate(const QString& retiredId) {
    const std::string id = retiredId.toStdString();
    auto it =
        std::find_if(m_retired.begin(), m_retired.end(), [&](const RetiredAddon& addon) { return addon.id() == id; });
    m_retiredCandidate = it == m_retired.end() ? std::nullopt : std::optional<RetiredAddon>(*it);
    emit candidatesChanged();
}

void AppModel::confirmRetired() {
    takeCandidate(m_retiredCandidate, [this](const auto& candidate) { removeRetired(candidate); });
    emit candidatesChanged();
}

void AppModel::confirmScope() {
    if (!m_scopeBackup || !m_scopeSelection) {
        return;
    }
    const LocalBackup backup = *m_scopeBackup;
    m_scopeBackup.reset();
    emit candidatesChanged();
    restore(backup, m_scopeSelection);
}

void AppModel::dismissCandidates() {
    m_restoreCandidate.reset();
    m_recycleCandidate.reset();
    m_importCandidate.reset();
    m_retiredCandidate.reset();
    m_scopeBackup.reset();
    emit candidatesChanged();
}

QString AppModel::restoreTitle() const {
    return QStringLiteral("恢复") +
           (m_restoreCandidate ? qText(title(m_restoreCandidate->kind)) : QStringLiteral("备份")) +
           QStringLiteral("？");
}

QString AppModel::retiredConfirmText() const {
    return QStringLiteral("备份并清理 ") + (m_retiredCandidate ? qText(m_retiredCandidate->name) : QString());
}

// --- Log -----------------------------------------------------------------------------------

void AppModel::log(const QString& text) {
    m_log.append(text, QDateTime::currentDateTimeUtc());
    m_platform.setStringList(QString::fromLatin1(OperationLog::storeKey), m_log.lines());
}

void AppModel::exportLog() {
    if (auto path = askPanel(
            [&] { return m_platform.chooseSaveLocation(QString(), QStringLiteral("Olvex-diagnostics.txt")); })) {
        writeLog(*path, m_log.exportText());
    }
}

QCoro::Task<> AppModel::writeLog(QString path, QString text) {
    QPointer<AppModel> self(this);
    std::optional<std::string> failure;
    try {
        auto written = startWrite(toPath(path), text.toStdString());
        failure = co_await written;
    } catch (const std::exception& unexpected) {
        failure = describe(unexpected);
    }
    if (self && failure) {
        setError(std::move(failure));
    }
}

void AppModel::dismissError() {
    setError(std::nullopt);
}

// --- Plain properties ----------------------------------------------------------------------

QString AppModel::busyText() const {
    return m_stage ? qText(rawValue(*m_stage)) : QStringLiteral("正在扫描");
}

QString AppModel::operationText() const {
    return m_stage ? qText(rawValue(*m_stage)) : QStringLiteral("正在处理");
}

QString AppModel::progressText() const {
    return m_progress < 0 ? QString() : QLocale().toString(static_cast<int>(m_progress * 100)) + QLatin1Char('%');
}

QString AppModel::errorText() const {
    return m_error ? qText(*m_error) : QString();
}

QString AppModel::addonHeading() const {
    return QStringLiteral("已安装插件 · %1").arg(m_addons.size());
}

QString AppModel::scopeSelectionText() const {
    return m_scopeSelection ? qText(*m_scopeSelection) : QString();
}

void AppModel::setScopeSelectionText(const QString& relativePath) {
    setScopeSelection(relativePath.isEmpty() ? std::nullopt : std::optional<std::string>(relativePath.toStdString()));
}

std::vector<InstalledAddon> AppModel::filteredAddons() const {
    if (m_addonQuery.isEmpty()) {
        return m_addons;
    }
    const std::string query = m_addonQuery.toStdString();
    std::vector<InstalledAddon> matching;
    std::copy_if(m_addons.begin(), m_addons.end(), std::back_inserter(matching),
                 [&](const InstalledAddon& addon) { return addonMatchesSearch(addon, query); });
    return matching;
}

void AppModel::setBusy(bool busy) {
    assign(m_busy, busy, &AppModel::busyChanged);
}

void AppModel::setStage(std::optional<OperationStage> stage) {
    assign(m_stage, stage, &AppModel::stageChanged);
}

void AppModel::setCanCancel(bool canCancel) {
    assign(m_canCancel, canCancel, &AppModel::canCancelChanged);
}

void AppModel::setMessage(const QString& message) {
    assign(m_message, message, &AppModel::messageChanged);
}

void AppModel::setError(std::optional<std::string> error) {
    assign(m_error, std::move(error), &AppModel::errorChanged);
}

void AppModel::setGameClosed(bool closed) {
    assign(m_gameClosed, closed, &AppModel::gameClosedChanged);
}

void AppModel::setPendingRecovery(bool pending) {
    assign(m_pendingRecovery, pending, &AppModel::pendingRecoveryChanged);
}

void AppModel::setSavedRoots(const QStringList& roots) {
    assign(m_savedRoots, roots, &AppModel::savedRootsChanged);
}

void AppModel::setAddonQuery(const QString& query) {
    if (assign(m_addonQuery, query, &AppModel::addonQueryChanged)) {
        updateAddonRows();
    }
}

void AppModel::setAddons(std::vector<InstalledAddon> addons) {
    m_addons = std::move(addons);
    updateAddonRows();
    emit addonsChanged();
}

void AppModel::updateAddonRows() {
    m_addonRows.setRows(rowsOf(filteredAddons(), rows::addon));
}

void AppModel::setPacks(std::vector<ManagedPack> packs) {
    m_packs = std::move(packs);
    m_packRows.setRows(rowsOf(m_packs, rows::pack));
}

void AppModel::setRetired(std::vector<RetiredAddon> retired) {
    m_retired = std::move(retired);
    m_retiredRows.setRows(rowsOf(m_retired, rows::retired));
}

void AppModel::setBackups(std::vector<BackupDetails> details) {
    m_backups.clear();
    m_backupSizes.clear();
    QList<QVariantList> list;
    const QLocale locale;
    for (const auto& detail : details) {
        m_backups.push_back(detail.backup);
        m_backupSizes[detail.id()] = detail.bytes;
        list.append(rows::backup(detail.backup, detail.bytes, locale));
    }
    m_backupRows.setRows(std::move(list));
}

void AppModel::clearBackups() {
    // Only the list empties; the sizes stay as the last listing measured them.
    m_backups.clear();
    m_backupRows.setRows({});
}

void AppModel::setPreview(std::optional<ImportPreview> preview) {
    m_preview = std::move(preview);
    m_previewTexts = m_preview ? rows::previewTexts(*m_preview) : rows::PreviewTexts{};
    m_previewAddonRows.setRows(
        m_preview
            ? rowsOf(m_preview->addons, [&](const std::string& name) { return rows::previewAddon(name, *m_preview); })
            : QList<QVariantList>{});
    emit previewChanged();
}

void AppModel::setScopes(std::vector<ConfigurationScope> scopes) {
    m_scopes = std::move(scopes);
    setScopeSelection(m_scopeSelection);
}

void AppModel::setScopeSelection(std::optional<std::string> selection) {
    const bool changed = selection != m_scopeSelection;
    m_scopeSelection = std::move(selection);
    m_scopeRows.setRows(
        rowsOf(m_scopes, [&](const ConfigurationScope& scope) { return rows::scope(scope, m_scopeSelection); }));
    if (changed) {
        emit scopeSelectionChanged();
    }
}

QString scanMessage(const ScanReport& report, const QStringList& savedRoots) {
    QString text =
        report.clients.empty()
            ? QStringLiteral("未扫描到游戏。请手动选择 World of Warcraft 或版本文件夹。")
            : QStringLiteral("找到 %1 个版本目录。扫描范围有限，其他位置请手动选择。").arg(report.clients.size());
    if (!report.inaccessibleRoots.empty()) {
        text += QStringLiteral(" 有 %1 个位置无法访问，请检查权限。").arg(report.inaccessibleRoots.size());
    }
    if (report.reachedLimit) {
        text += QStringLiteral(" 已达到扫描深度或数量上限，请手动选择。");
    }
    QSet<QString> missing;
    for (const auto& root : report.missingRoots) {
        missing.insert(toQString(root));
    }
    const auto offline = std::count_if(savedRoots.begin(), savedRoots.end(),
                                       [&](const QString& root) { return missing.contains(root); });
    if (offline > 0) {
        text += QStringLiteral(" 有 %1 个已保存位置不存在或磁盘离线。").arg(offline);
    }
    return text;
}

} // namespace olvex
