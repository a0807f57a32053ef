#include "model/SettingsHealth.h"

#include <QLocale>
#include <QPointer>
#include <algorithm>

#include "base/Errors.h"
#include "model/FolderController.h"
#include "model/OperationStatus.h"
#include "model/Rows.h"
#include "model/ServiceLink.h"
#include "service/Outcomes.h"

namespace olvex {

namespace {

constexpr int kMoment = 400;           // milliseconds a check runs before its progress shows
constexpr int kProgressInterval = 100; // milliseconds between progress readings

} // namespace

SettingsHealth::SettingsHealth(ServiceLink& link, OperationStatus& status, FolderController& folders, QObject* parent)
    : QObject(parent), m_link(link), m_status(status), m_folders(folders) {
    m_momentTimer.setSingleShot(true);
    m_momentTimer.setInterval(kMoment);
    connect(&m_momentTimer, &QTimer::timeout, this, [this] {
        m_showsProgress = true;
        updateProgress();
        emit progressChanged();
    });
    m_progressTimer.setInterval(kProgressInterval);
    connect(&m_progressTimer, &QTimer::timeout, this, &SettingsHealth::updateProgress);
    // An operation must not wait behind a long read on the service's one thread: the check
    // gives way, and the refresh after the operation checks again.
    connect(&m_status, &OperationStatus::busyChanged, this, [this] {
        if (m_status.busy() && m_control) {
            m_control->cancel();
        }
    });
}

QString SettingsHealth::progressText() const {
    const QString percent = m_progress >= 0 ? QStringLiteral("%1%").arg(qRound(m_progress * 100)) : QString();
    return QStringLiteral("正在检查插件配置… ") + percent;
}

QCoro::Task<> SettingsHealth::check(GameClient client) {
    if (m_control) {
        m_control->cancel();
    }
    if (m_report && m_checkedClient != client.id()) {
        setResult(std::nullopt, QString()); // another folder's result must not stand for this one
    }
    auto control = std::make_shared<OperationControl>();
    m_control = control;
    m_progress = -1;
    m_showsProgress = false;
    m_momentTimer.start();
    m_progressTimer.start();
    emit checkingChanged();
    emit progressChanged();

    QPointer<SettingsHealth> self(this);
    std::optional<SavedVariablesHealth> report;
    QString failure;
    bool cancelled = false;
    try {
        auto asked = m_link.ask(
            [client, control](ManagerService& service) { return service.savedVariablesHealth(client, control.get()); });
        report = co_await asked;
    } catch (const ServiceLink::Gone&) {
        co_return;
    } catch (const CancellationError&) {
        cancelled = true;
    } catch (const std::exception& error) {
        failure = QStringLiteral("无法检查插件配置：") + rows::text(describe(error));
    }
    if (!self || m_control != control) {
        co_return; // a newer check has taken over
    }
    stop();
    if (cancelled) {
        co_return;
    }
    m_checkedClient = client.id();
    if (report) {
        const QString summary = rows::text(report->summary());
        setResult(std::move(report), summary);
    } else {
        setResult(std::nullopt, failure);
    }
}

void SettingsHealth::clear() {
    if (m_control) {
        m_control->cancel();
        stop();
    }
    setResult(std::nullopt, QString());
}

void SettingsHealth::stop() {
    m_control.reset();
    m_momentTimer.stop();
    m_progressTimer.stop();
    m_showsProgress = false;
    m_progress = -1;
    emit checkingChanged();
    emit progressChanged();
}

void SettingsHealth::updateProgress() {
    if (!m_control) {
        return;
    }
    const auto progress = m_control->progress();
    const double share =
        progress.total > 0
            ? std::clamp(static_cast<double>(progress.done) / static_cast<double>(progress.total), 0.0, 1.0)
            : -1.0;
    if (share != m_progress) {
        m_progress = share;
        if (m_showsProgress) {
            emit progressChanged();
        }
    }
}

void SettingsHealth::setResult(std::optional<SavedVariablesHealth> report, QString summary) {
    m_report = std::move(report);
    m_summary = std::move(summary);
    std::vector<rows::DamagedSettingsRow> list;
    const QLocale locale;
    if (m_report) {
        for (const auto& damaged : m_report->damaged) {
            list.push_back(rows::damagedSettings(damaged, locale));
        }
    }
    m_rows.setRows(std::move(list));
    emit resultChanged();
    emit progressChanged(); // showsChecking follows the summary too
}

std::vector<DamagedSavedVariables> SettingsHealth::repairable() const {
    std::vector<DamagedSavedVariables> files;
    if (m_report) {
        std::copy_if(m_report->damaged.begin(), m_report->damaged.end(), std::back_inserter(files),
                     [](const DamagedSavedVariables& damaged) { return damaged.source.has_value(); });
    }
    return files;
}

bool SettingsHealth::canRepairAll() const {
    return m_report && m_report->damaged.size() > 1;
}

// --- Repair ------------------------------------------------------------------------------

void SettingsHealth::setRepairCandidate(const QString& relativePath) {
    m_candidate.reset();
    if (m_report) {
        const auto found =
            std::find_if(m_report->damaged.begin(), m_report->damaged.end(), [&](const DamagedSavedVariables& damaged) {
                return rows::text(damaged.relativePath) == relativePath;
            });
        if (found != m_report->damaged.end()) {
            m_candidate = Candidate{{*found}, false};
        }
    }
    emit candidateChanged();
}

void SettingsHealth::setRepairAllCandidate() {
    m_candidate.reset();
    if (m_report && !m_report->damaged.empty()) {
        m_candidate = Candidate{m_report->damaged, true};
    }
    emit candidateChanged();
}

void SettingsHealth::dismissCandidate() {
    if (m_candidate) {
        m_candidate.reset();
        emit candidateChanged();
    }
}

bool SettingsHealth::repairPossible() const {
    return m_candidate && std::any_of(m_candidate->files.begin(), m_candidate->files.end(),
                                      [](const DamagedSavedVariables& damaged) { return damaged.source.has_value(); });
}

QString SettingsHealth::repairTitle() const {
    if (!m_candidate) {
        return QString();
    }
    if (!repairPossible()) {
        return QStringLiteral("无法修复");
    }
    return m_candidate->all ? QStringLiteral("修复全部损坏的插件配置？") : QStringLiteral("修复插件配置？");
}

QString SettingsHealth::repairMessage() const {
    if (!m_candidate) {
        return QString();
    }
    const QLocale locale;
    if (!repairPossible()) {
        if (m_candidate->files.size() == 1) {
            return QStringLiteral("“") + rows::text(m_candidate->files.front().relativePath) +
                   QStringLiteral(
                       "”没有完好的副本：游戏的 .bak 和 WTF 备份中都没有完好的此文件。可在游戏中重新设置该插件。");
        }
        return QStringLiteral("损坏的文件都没有完好的副本（游戏的 .bak 或 WTF 备份），无法修复。");
    }
    QString text;
    if (!m_candidate->all) {
        const auto& file = m_candidate->files.front();
        text = QStringLiteral("将用") + rows::settingsSourceText(file.source, locale) + QStringLiteral("替换“") +
               rows::text(file.relativePath) + QStringLiteral("”（") + rows::text(file.stateText()) +
               QStringLiteral("）。");
    } else {
        const auto files = repairable();
        text = QStringLiteral("将修复 %1 个文件：").arg(files.size());
        for (const auto& file : files) {
            text += QStringLiteral("\n· ") + rows::text(file.relativePath) + QStringLiteral(" ← ") +
                    rows::settingsSourceText(file.source, locale);
        }
        const auto without = m_candidate->files.size() - files.size();
        if (without > 0) {
            text += QStringLiteral("\n另有 %1 个文件没有完好的副本，保持不变。").arg(without);
        }
    }
    return text +
           QStringLiteral("\n修复前会先备份整个 WTF（损坏的文件也保留在备份中），其他文件不变。请确认游戏已退出。");
}

void SettingsHealth::confirmRepair() {
    if (!m_candidate) {
        return;
    }
    std::vector<std::string> paths;
    for (const auto& file : m_candidate->files) {
        if (file.source) {
            paths.push_back(file.relativePath); // exactly what was confirmed
        }
    }
    m_candidate.reset();
    emit candidateChanged();
    if (paths.empty()) {
        return;
    }
    m_folders.runOnSelected(QStringLiteral("修复插件配置"), true, [this, paths](const GameClient& client) {
        m_folders.requireClosedGame();
        auto control = m_status.operation().get();
        return m_folders.change(
            [client, paths, control](ManagerService& service) { service.repairSavedVariables(client, paths, control); },
            rows::text(outcome::savedVariablesRepaired(paths.size())));
    });
}

} // namespace olvex
