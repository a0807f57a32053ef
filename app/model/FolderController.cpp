#include "model/FolderController.h"

#include <QPointer>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "base/Errors.h"
#include "discovery/RunningGame.h"
#include "model/OperationStatus.h"
#include "model/ServiceLink.h"
#include "packs/Staging.h"
#include "platform/PlatformServices.h"
#include "platform/PlatformWords.h"
#include "service/Outcomes.h"

namespace olvex {

namespace {

// With GCC 12, a temporary built inside a co_await expression (a lambda and its captures, a
// path) can be destroyed twice (AddressSanitizer caught it). So every awaited task or future is
// made in a statement of its own and awaited as a local; closures are built in plain functions.
QFuture<ScanReport> startScan(const FolderController::Scanner& scanner, std::vector<Path> roots) {
    return QtConcurrent::run([scanner, roots = std::move(roots)] { return scanner(roots); });
}

} // namespace

FolderController::FolderController(PlatformServices& platform, ServiceLink& link, OperationStatus& status,
                                   Scanner scanner, QObject* parent)
    : QObject(parent), m_platform(platform), m_link(link), m_status(status), m_scanner(std::move(scanner)) {
    // What could not be deleted is told until the player starts the next operation.
    connect(&m_status, &OperationStatus::busyChanged, this, [this] {
        if (m_status.busy() && !m_oldFiles.isEmpty()) {
            m_oldFiles.clear();
            emit oldFilesChanged();
        }
    });
}

// --- Selection ---------------------------------------------------------------------------

void FolderController::setSelection(const std::optional<std::string>& id) {
    if (id == m_selection) {
        return;
    }
    m_selection = id;
    m_clients.setSelectedId(m_selection);
    emit selectionChanged();
    emit selectedChanged();
    setGameClosed(false);
    // A scan refreshes once it has settled the selection.
    if (!m_status.scanning()) {
        refresh();
    }
}

std::optional<GameClient> FolderController::selected() const {
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

QString FolderController::selectionText() const {
    return m_selection ? toQString(*m_selection) : QString();
}

void FolderController::setSelectionText(const QString& id) {
    setSelection(id.isEmpty() ? std::nullopt : std::optional<std::string>(toPath(id).native()));
}

QString FolderController::headerTitle() const {
    auto client = selected();
    return client ? QString::fromStdString(client->title()) : QStringLiteral("欢迎来到Tarnel");
}

QString FolderController::headerSubtitle() const {
    auto client = selected();
    return client
               ? toQString(client->url())
               : QStringLiteral("为国服玩家准备的原生 ") + PlatformWords::platform() + QStringLiteral(" 插件管理工具");
}

// --- Scan --------------------------------------------------------------------------------

QStringList FolderController::storedRoots() const {
    return m_platform.stringList(QString::fromLatin1(savedKey)).value_or(QStringList());
}

void FolderController::scan(const std::optional<QString>& extra) {
    if (m_status.busy()) {
        return;
    }
    m_status.beginScan();
    QStringList roots = storedRoots();
    if (extra && !roots.contains(*extra)) {
        roots.append(*extra);
    }
    // Written back even when unchanged, so the store always holds a proper list.
    m_platform.setStringList(QString::fromLatin1(savedKey), roots);
    setSavedRoots(roots);

    const std::optional<std::vector<Path>> plainDefaults = m_platform.defaultRoots();
    std::vector<Path> scanRoots = plainDefaults.value_or(std::vector<Path>{});
    for (const QString& root : roots) {
        scanRoots.push_back(toPath(root));
    }
    Scanner scanner = m_scanner;
    if (!scanner) {
        scanner = plainDefaults ? Scanner(&GameScanner::scanReport) : Scanner([](const std::vector<Path>& picked) {
            return GameScanner::scanDefaultPlaces(UserEnvironment::fromProcess(), picked);
        });
    }
    runScan(std::move(scanner), std::move(scanRoots));
}

QCoro::Task<> FolderController::runScan(Scanner scanner, std::vector<Path> roots) {
    // The model may be destroyed while the scanner runs; the task then wakes up to nothing and
    // must not touch it.
    QPointer<FolderController> self(this);
    const Date cutoff = stagingCutoff(Date::now());
    try {
        auto cleanup = m_link.ask([cutoff](ManagerService& service) { return service.cleanupTemporaryFiles(cutoff); });
        co_await cleanup;
    } catch (const ServiceLink::Gone&) {
        co_return;
    } catch (...) {
        // Stale staging folders are only tidied here; a failure leaves them for the next scan.
    }
    QFuture<ScanReport> future = startScan(scanner, std::move(roots));
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
        m_status.endScan();
        emit scanFinished();
        co_return;
    }
    applyScan(report);
    emit scanFinished();
    try {
        auto refreshed = refresh();
        co_await refreshed;
    } catch (const ServiceLink::Gone&) {
    }
}

void FolderController::applyScan(const ScanReport& report) {
    m_clients.setClients(report);
    const auto& found = clientList();
    const bool stillFound = m_selection && std::any_of(found.begin(), found.end(), [&](const GameClient& client) {
                                return client.id() == *m_selection;
                            });
    if (!stillFound) {
        setSelection(found.empty() ? std::nullopt : std::optional<std::string>(found.front().id()));
    }
    emit selectedChanged(); // the list changed beneath the selection
    m_status.endScan();
    m_status.setMessage(scanMessage(report, m_savedRoots));
}

void FolderController::chooseGame() {
    if (auto folder = m_status.askPanel(
            [&] { return m_platform.chooseDirectory(QStringLiteral("选择魔兽世界目录或版本文件夹")); })) {
        scan(*folder);
    }
}

void FolderController::forgetRoot(const QString& root) {
    if (m_status.busy()) {
        return;
    }
    QStringList roots = storedRoots();
    roots.removeAll(root);
    m_platform.setStringList(QString::fromLatin1(savedKey), roots);
    scan(std::nullopt);
}

// --- Refresh -----------------------------------------------------------------------------

QCoro::Task<> FolderController::refresh() {
    QPointer<FolderController> self(this);
    const auto client = selected();
    if (!client) {
        m_sinks.clear();
        setAttention({});
        emit refreshFinished();
        co_return;
    }
    ++m_refreshes;
    try {
        FolderLists lists;
        auto askBackups = m_link.ask([client](ManagerService& s) { return s.backupDetails(*client); });
        lists.backups = co_await askBackups;
        auto askUsage = m_link.ask([client](ManagerService& s) { return s.backupUsage(*client); });
        lists.usage = co_await askUsage;
        auto askAddons = m_link.ask([client](ManagerService& s) { return s.installedAddons(*client); });
        lists.addons = co_await askAddons;
        auto askPacks = m_link.ask([client](ManagerService& s) { return s.installedPacks(*client); });
        lists.packs = co_await askPacks;
        auto askRetired = m_link.ask([client](ManagerService& s) { return s.retiredAddons(*client); });
        lists.retired = co_await askRetired;
        auto askAttention = m_link.ask([client](ManagerService& s) { return s.attention(*client); });
        FolderAttention attention = co_await askAttention;
        // Failures of the background deletions are reported once, whichever folder they were in.
        auto askFailed = m_link.ask([](ManagerService& s) { return s.failedDeletions(); });
        addOldFiles(co_await askFailed);
        // The user may have picked another folder meanwhile: its lists are not these.
        if (m_selection == client->id()) {
            m_sinks.show(std::move(lists));
            setAttention(std::move(attention));
            if (m_sinks.check) {
                followUp(*client);
            }
        }
    } catch (const ServiceLink::Gone&) {
        co_return;
    } catch (const std::exception& failure) {
        // A folder the user has left since (removed, renamed, replaced by another pick) is not
        // worth an alert, and its failure must not empty the lists of the folder now shown.
        if (m_selection == client->id()) {
            m_status.setError(describe(failure));
            m_sinks.failed();
        }
    }
    if (self) {
        --m_refreshes;
        emit refreshFinished();
    }
}

QCoro::Task<> FolderController::followUp(GameClient client) {
    QPointer<FolderController> self(this);
    ++m_refreshes;
    try {
        auto checked = m_sinks.check(std::move(client));
        co_await checked;
    } catch (const ServiceLink::Gone&) {
        co_return;
    }
    if (self) {
        --m_refreshes;
        emit refreshFinished();
    }
}

// --- Commands on the selected folder -------------------------------------------------------

void FolderController::runOnSelected(const QString& title, bool cancellable,
                                     const std::function<QCoro::Task<>(const GameClient&)>& body) {
    if (auto client = selected()) {
        m_status.run(title, cancellable, [body, client = *client] { return body(client); });
    }
}

QCoro::Task<> FolderController::change(std::function<void(ManagerService&)> request, QString message) {
    auto asked = m_link.ask(std::move(request));
    co_await asked;
    m_status.setMessage(message);
    auto refreshed = refresh();
    co_await refreshed;
}

void FolderController::requireClosedGame() const {
    if (!m_gameClosed) {
        throw ManagerError("请先退出魔兽世界，并勾选确认。");
    }
    requireGameNotRunning(m_platform.runningApplications(), clientList());
}

void FolderController::recover() {
    runOnSelected(QStringLiteral("恢复中断事务"), false, [this](const GameClient& client) {
        requireClosedGame();
        return change([client](ManagerService& service) { service.recover(client); },
                      QString::fromUtf8(outcome::kRecovered));
    });
}

void FolderController::revealFolder(const QString& path) {
    m_platform.revealInFileBrowser(path);
}

// --- Plain properties ----------------------------------------------------------------------

void FolderController::setGameClosed(bool closed) {
    assignProperty(this, m_gameClosed, closed, &FolderController::gameClosedChanged);
}

void FolderController::setAttention(FolderAttention attention) {
    if (attention.operationRunning == m_attention.operationRunning &&
        attention.pendingRecovery == m_attention.pendingRecovery &&
        attention.recoveryProblem == m_attention.recoveryProblem && attention.leftovers == m_attention.leftovers &&
        attention.damagedBackups == m_attention.damagedBackups) {
        return;
    }
    m_attention = std::move(attention);
    emit pendingRecoveryChanged();
}

bool FolderController::hasAttention() const {
    return m_attention.operationRunning || m_attention.pendingRecovery || !m_attention.leftovers.empty() ||
           !m_attention.damagedBackups.empty();
}

bool FolderController::canRecover() const {
    return m_attention.pendingRecovery && m_attention.recoveryProblem.empty() && !m_attention.operationRunning;
}

QString FolderController::attentionHeading() const {
    if (m_attention.operationRunning) {
        return QStringLiteral("另一个管理器正在操作此版本目录。");
    }
    if (m_attention.pendingRecovery) {
        return m_attention.recoveryProblem.empty() ? QStringLiteral("发现上次中断的操作，请退出游戏后恢复。")
                                                   : QStringLiteral("发现上次中断的操作，但无法自动恢复。");
    }
    return QStringLiteral("此版本目录有需要留意的文件。");
}

QString FolderController::attentionText() const {
    QStringList lines;
    if (m_attention.operationRunning) {
        lines.append(QStringLiteral("请等它结束后再重新扫描；在此之前不要修改此目录。"));
    } else if (m_attention.pendingRecovery) {
        lines.append(
            m_attention.recoveryProblem.empty()
                ? QStringLiteral(
                      "若恢复失败，请保留 .olvex-manager 和 active.json；检查空间与权限后重试。可在备份区域打开") +
                      PlatformWords::fileBrowser() + QStringLiteral("查看备份。")
                : QString::fromStdString(m_attention.recoveryProblem));
    }
    // Kept out of the list of backups, named here so that the player can decide what to keep.
    for (const auto& backup : m_attention.damagedBackups) {
        lines.append(QStringLiteral("备份记录已损坏（未列出，文件夹保留）：") + toQString(backup.folder) +
                     QStringLiteral("：") + QString::fromStdString(backup.reason));
    }
    // Leftovers never block an operation; they are shown so that the player knows of the space.
    for (const auto& leftover : m_attention.leftovers) {
        lines.append(QStringLiteral("未能删除的临时文件（下次操作时会再试）：") + toQString(leftover));
    }
    return lines.join(QLatin1Char('\n'));
}

void FolderController::addOldFiles(const std::vector<Path>& files) {
    bool added = false;
    for (const auto& file : files) {
        const QString path = toQString(file);
        if (!m_oldFiles.contains(path)) {
            m_oldFiles.append(path);
            added = true;
        }
    }
    if (added) {
        emit oldFilesChanged();
    }
}

QString FolderController::oldFilesText() const {
    if (m_oldFiles.isEmpty()) {
        return QString();
    }
    return QString::fromUtf8(outcome::kOldFilesKept) + QLatin1Char('\n') + m_oldFiles.join(QLatin1Char('\n'));
}

void FolderController::setSavedRoots(const QStringList& roots) {
    assignProperty(this, m_savedRoots, roots, &FolderController::savedRootsChanged);
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
