#include "model/AppModel.h"

#include <QPointer>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

namespace olvex {

namespace {

// Kept out of the coroutine: with GCC 12, a lambda built inside the co_await expression had its
// captured vector destroyed twice (AddressSanitizer caught it); a plain function sidesteps that.
QFuture<ScanReport> startScan(const AppModel::Scanner& scanner, std::vector<Path> roots) {
    return QtConcurrent::run([scanner, roots = std::move(roots)] { return scanner(roots); });
}

} // namespace

AppModel::AppModel(PlatformServices& platform, Scanner scanner, QObject* parent)
    : QObject(parent), m_platform(platform),
      m_scanner(scanner ? std::move(scanner) : Scanner(&GameScanner::scanReport)),
      m_message(QStringLiteral("请选择游戏目录，开始管理本地插件。")) {}

AppModel::~AppModel() = default;

void AppModel::setSelection(const std::optional<std::string>& id) {
    if (id == m_selection) {
        return;
    }
    m_selection = id;
    m_clients.setSelectedId(m_selection);
    emit selectionChanged();
    emit selectedChanged();
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
    return client ? QString::fromStdString(client->title()) : QStringLiteral("欢迎来到Tarnel");
}

QString AppModel::headerSubtitle() const {
    auto client = selected();
    return client ? toQString(client->url()) : QStringLiteral("为国服玩家准备的原生 macOS 插件管理工具");
}

// A running operation shows its stage here; without one the model is busy only while it scans.
QString AppModel::busyText() const {
    return QStringLiteral("正在扫描");
}

QStringList AppModel::storedRoots() const {
    return m_platform.stringList(QString::fromLatin1(savedKey)).value_or(QStringList());
}

void AppModel::scan(const std::optional<QString>& extra) {
    if (m_busy) {
        return;
    }
    setBusy(true);
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
    QFuture<ScanReport> future = startScan(m_scanner, std::move(roots));
    ScanReport report;
    try {
        report = co_await future;
    } catch (...) {
        // The scanner reports every problem in its report; only resource exhaustion lands
        // here. Leave the last results standing and let the user scan again.
        if (self) {
            setBusy(false);
            emit scanFinished();
        }
        co_return;
    }
    if (!self) {
        co_return;
    }
    applyScan(report);
    emit scanFinished();
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
    setBusy(false);
    setMessage(scanMessage(report, m_savedRoots));
}

void AppModel::chooseGame() {
    if (auto folder = m_platform.chooseDirectory(QStringLiteral("选择魔兽世界目录或版本文件夹"))) {
        scan(*folder);
    }
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

void AppModel::setBusy(bool busy) {
    if (busy != m_busy) {
        m_busy = busy;
        emit busyChanged();
    }
}

void AppModel::setMessage(const QString& message) {
    if (message != m_message) {
        m_message = message;
        emit messageChanged();
    }
}

void AppModel::setSavedRoots(const QStringList& roots) {
    if (roots != m_savedRoots) {
        m_savedRoots = roots;
        emit savedRootsChanged();
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
