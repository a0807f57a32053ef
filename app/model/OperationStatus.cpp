#include "model/OperationStatus.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "base/Errors.h"
#include "fs/FileSafety.h"
#include "model/Rows.h"
#include "model/ServiceLink.h"
#include "service/Outcomes.h"

namespace olvex {

namespace {

constexpr int kProgressInterval = 100; // milliseconds between progress readings

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

} // namespace

OperationStatus::OperationStatus(PlatformServices& platform, QObject* parent)
    : QObject(parent), m_platform(platform), m_message(QStringLiteral("请选择游戏目录，开始管理本地插件。")),
      m_log(platform.stringList(QString::fromLatin1(OperationLog::storeKey)).value_or(QStringList())) {
    m_progressTimer.setInterval(kProgressInterval);
    connect(&m_progressTimer, &QTimer::timeout, this, &OperationStatus::updateProgress);
}

void OperationStatus::beginScan() {
    setBusy(true);
    m_scanning = true;
    emit stageChanged();
}

void OperationStatus::endScan() {
    m_scanning = false;
    setBusy(false);
    emit stageChanged();
}

void OperationStatus::run(const QString& title, bool cancellable, Body body) {
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
    QPointer<OperationStatus> self(this);
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

QCoro::Task<> OperationStatus::runOperation(QString title, Body body) {
    QPointer<OperationStatus> self(this);
    QString outcome;
    try {
        auto task = body();
        co_await task;
        outcome = QStringLiteral("：成功");
    } catch (const ServiceLink::Gone&) {
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

void OperationStatus::stageReported(const Uuid& id, bool cancellable, OperationStage stage) {
    if (m_operationID != id) {
        return; // a report of an operation that has ended, or of an earlier one
    }
    setStage(stage);
    const bool cancelled = m_operation && m_operation->isCancelled();
    setCanCancel(cancellable && !cancelled && stage != OperationStage::committing && stage != OperationStage::finished);
    log(rows::text(rawValue(stage)));
}

void OperationStatus::updateProgress() {
    if (!m_operation) {
        return;
    }
    const auto progress = m_operation->overall();
    double share = -1;
    if (progress.total > 0) {
        share = std::clamp(static_cast<double>(progress.done) / static_cast<double>(progress.total), 0.0, 1.0);
    }
    if (share != m_progress) {
        m_progress = share;
        emit progressChanged();
    }
}

void OperationStatus::cancelOperation() {
    if (m_operation) {
        m_operation->cancel();
    }
    setCanCancel(false);
}

bool OperationStatus::requestQuit() {
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

std::optional<QString> OperationStatus::askPanel(const std::function<std::optional<QString>()>& panel) {
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

void OperationStatus::log(const QString& text) {
    m_log.append(text, QDateTime::currentDateTimeUtc());
    m_platform.setStringList(QString::fromLatin1(OperationLog::storeKey), m_log.lines());
}

void OperationStatus::exportLog() {
    if (auto path = askPanel(
            [&] { return m_platform.chooseSaveLocation(QString(), QStringLiteral("Olvex-diagnostics.txt")); })) {
        writeLog(*path, m_log.exportText());
    }
}

QCoro::Task<> OperationStatus::writeLog(QString path, QString text) {
    QPointer<OperationStatus> self(this);
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

void OperationStatus::dismissError() {
    setError(std::nullopt);
}

QString OperationStatus::busyText() const {
    return m_stage ? rows::text(rawValue(*m_stage)) : QStringLiteral("正在扫描");
}

QString OperationStatus::operationText() const {
    return m_stage ? rows::text(rawValue(*m_stage)) : QStringLiteral("正在处理");
}

QString OperationStatus::progressText() const {
    return m_progress < 0 ? QString() : QLocale().toString(static_cast<int>(m_progress * 100)) + QLatin1Char('%');
}

QString OperationStatus::errorText() const {
    return m_error ? rows::text(*m_error) : QString();
}

void OperationStatus::setBusy(bool busy) {
    assignProperty(this, m_busy, busy, &OperationStatus::busyChanged);
}

void OperationStatus::setStage(std::optional<OperationStage> stage) {
    assignProperty(this, m_stage, stage, &OperationStatus::stageChanged);
}

void OperationStatus::setCanCancel(bool canCancel) {
    assignProperty(this, m_canCancel, canCancel, &OperationStatus::canCancelChanged);
}

void OperationStatus::setMessage(const QString& message) {
    assignProperty(this, m_message, message, &OperationStatus::messageChanged);
}

void OperationStatus::setError(std::optional<std::string> error) {
    assignProperty(this, m_error, std::move(error), &OperationStatus::errorChanged);
}

} // namespace olvex
