#include "model/PackController.h"

#include <algorithm>

#include "model/FolderController.h"
#include "model/OperationStatus.h"
#include "model/ServiceLink.h"
#include "platform/PlatformServices.h"
#include "service/Outcomes.h"

namespace olvex {

PackController::PackController(PlatformServices& platform, ServiceLink& link, OperationStatus& status,
                               FolderController& folders, QObject* parent)
    : QObject(parent), m_platform(platform), m_link(link), m_status(status), m_folders(folders) {}

void PackController::setPacks(const std::vector<ManagedPack>& packs) {
    std::vector<rows::PackRow> list;
    std::transform(packs.begin(), packs.end(), std::back_inserter(list), rows::pack);
    m_packs.setRows(std::move(list));
}

void PackController::setRetired(const std::vector<RetiredAddon>& retired) {
    std::vector<rows::RetiredRow> list;
    std::transform(retired.begin(), retired.end(), std::back_inserter(list), rows::retired);
    m_retired.setRows(std::move(list));
}

void PackController::chooseZIP() {
    if (!m_folders.selected() || m_status.busy()) {
        return;
    }
    if (auto zip = m_status.askPanel([&] {
            return m_platform.chooseFile(QStringLiteral("导入本地插件整合包"), {QStringLiteral("ZIP 压缩包 (*.zip)")});
        })) {
        chooseZIP(*zip);
    }
}

void PackController::chooseZIP(const QString& path) {
    m_folders.runOnSelected(QStringLiteral("导入 ZIP"), true,
                            [this, path](const GameClient& selected) { return previewBody(path, selected); });
}

void PackController::dropFiles(const QList<QUrl>& urls) {
    if (m_status.busy()) {
        return;
    }
    if (!m_folders.selected()) {
        m_status.setError(std::string("请先在左侧选择一个游戏版本，再拖入整合包。"));
        return;
    }
    if (urls.size() != 1 || !urls.first().isLocalFile() ||
        !urls.first().toLocalFile().endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive)) {
        m_status.setError(std::string("只能导入一个本地 ZIP 整合包，请拖入单个 .zip 文件。"));
        return;
    }
    chooseZIP(urls.first().toLocalFile());
}

void PackController::openFile(const QString& path) {
    if (m_status.busy()) {
        return;
    }
    if (!m_folders.selected()) {
        m_status.setError(std::string("未找到游戏版本，无法预览打开的整合包。请先选择游戏目录，再重新打开。"));
        return;
    }
    if (!path.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive)) {
        m_status.setError(std::string("只能打开本地 ZIP 整合包，所选文件不是 .zip 文件。"));
        return;
    }
    chooseZIP(path);
}

QCoro::Task<> PackController::previewBody(QString zip, GameClient client) {
    auto control = m_status.operation().get();
    const Path path = toPath(zip);
    auto request =
        m_link.ask([path, client, control](ManagerService& service) { return service.preview(path, client, control); });
    auto preview = co_await request;
    m_preview.setPreview(std::move(preview));
    m_status.setMessage(QStringLiteral("整合包已验证，请核对安装预览。"));
}

void PackController::install() {
    if (!m_preview.preview()) {
        return;
    }
    m_status.run(QStringLiteral("安装插件"), true,
                 [this, preview = *m_preview.preview()] { return installBody(preview); });
}

QCoro::Task<> PackController::installBody(ImportPreview preview) {
    m_folders.requireClosedGame();
    auto control = m_status.operation().get();
    const Uuid token = preview.token;
    auto request = m_link.ask([token, control](ManagerService& service) { service.install(token, control); });
    co_await request;
    m_preview.setPreview(std::nullopt);
    m_status.setMessage(QString::fromStdString(outcome::installed(preview.addons.size())));
    auto refreshed = m_folders.refresh();
    co_await refreshed;
}

void PackController::cancelPreview() {
    m_status.run(QStringLiteral("关闭预览"), false, [this] { return discardBody(); });
}

QCoro::Task<> PackController::discardBody() {
    auto request = m_link.ask([](ManagerService& service) { service.discardPreview(); });
    co_await request;
    m_preview.setPreview(std::nullopt);
}

void PackController::removeRetired(const RetiredAddon& addon) {
    m_folders.runOnSelected(QStringLiteral("清理旧整合包插件"), true, [this, addon](const GameClient& client) {
        m_folders.requireClosedGame();
        auto control = m_status.operation().get();
        return m_folders.change(
            [addon, client, control](ManagerService& service) {
                service.removeRetiredAddon(addon.packID, addon.name, client, control);
            },
            QString::fromUtf8(outcome::kRetiredRemoved));
    });
}

void PackController::setRetiredCandidate(const QString& retiredId) {
    const std::string id = retiredId.toStdString();
    const auto& list = m_retired.rows();
    auto it = std::find_if(list.begin(), list.end(), [&](const rows::RetiredRow& row) { return row.addon.id() == id; });
    m_retiredCandidate = it == list.end() ? std::nullopt : std::optional<RetiredAddon>(it->addon);
    emit candidateChanged();
}

void PackController::confirmRetired() {
    if (m_retiredCandidate) {
        removeRetired(*m_retiredCandidate);
    }
    m_retiredCandidate.reset();
    emit candidateChanged();
}

void PackController::dismissCandidate() {
    m_retiredCandidate.reset();
    emit candidateChanged();
}

QString PackController::retiredConfirmText() const {
    return QStringLiteral("备份并清理 ") +
           (m_retiredCandidate ? QString::fromStdString(m_retiredCandidate->name) : QString());
}

} // namespace olvex
