#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QtQml/qqmlregistration.h>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

#include "base/OperationControl.h"
#include "base/Uuid.h"
#include "model/OperationLog.h"
#include "platform/PlatformServices.h"

namespace olvex {

// The one operation runner of the window and what it shows: busy, the stage the service reports,
// cancellation until the commit, progress, the status message, the error, the pending quit and
// the operation log. Long commands run through `run`: one at a time, with a start and an end line
// in the log, and failures in `error`. It also guards the open and save panels, so that no panel
// opens over another.
class OperationStatus : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("由 AppModel 提供")

    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    // The stage of the running operation, "正在扫描" during a scan.
    Q_PROPERTY(QString busyText READ busyText NOTIFY stageChanged)
    // What the install sheet says while busy: the stage, or "正在处理" without one.
    Q_PROPERTY(QString operationText READ operationText NOTIFY stageChanged)
    Q_PROPERTY(bool canCancel READ canCancel NOTIFY canCancelChanged)
    // Share of the whole operation done, 0 to 1, never falling while it runs; -1 until its
    // first step knows a total.
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(QString error READ errorText NOTIFY errorChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorChanged)
    // A quit was asked for while an operation ran; the window closes when it ends.
    Q_PROPERTY(bool quitPending READ quitPending NOTIFY quitPendingChanged)

public:
    using Body = std::function<QCoro::Task<>()>;

    // `platform` must outlive the object: it stores the log and shows the panels.
    explicit OperationStatus(PlatformServices& platform, QObject* parent = nullptr);

    bool busy() const { return m_busy; }
    QString busyText() const;
    QString operationText() const;
    bool canCancel() const { return m_canCancel; }
    double progress() const { return m_progress; }
    QString progressText() const;
    QString message() const { return m_message; }
    QString errorText() const;
    bool hasError() const { return m_error.has_value(); }
    bool quitPending() const { return m_quitPending; }
    const std::optional<std::string>& error() const { return m_error; }
    const std::optional<OperationStage>& stage() const { return m_stage; }
    const std::optional<Uuid>& operationID() const { return m_operationID; }
    // The control of the running operation; kept alive by whoever holds it.
    std::shared_ptr<OperationControl> operation() const { return m_operation; }
    const QStringList& events() const { return m_log.lines(); }
    bool scanning() const { return m_scanning; }

    // The operation runner: ignored while busy; otherwise runs `body` on the main thread as
    // the operation `title`, and returns at once.
    void run(const QString& title, bool cancellable, Body body);
    // A scan holds the window busy without being an operation: no stage, no log, no cancel.
    void beginScan();
    void endScan();

    Q_INVOKABLE void cancelOperation();
    Q_INVOKABLE void dismissError();
    // Asks for a file and writes the operation log into it.
    Q_INVOKABLE void exportLog();
    // The window is being closed: true when it may close now. Otherwise the running operation
    // is cancelled if it still can be, and `quitReady` follows once it has ended.
    Q_INVOKABLE bool requestQuit();

    void setMessage(const QString& message);
    void setError(std::optional<std::string> error);
    // Shows a modal panel and gives back its answer. A panel runs its own event loop, in which a
    // second click or shortcut could ask for another panel on top; that request gets no answer.
    std::optional<QString> askPanel(const std::function<std::optional<QString>()>& panel);

signals:
    void busyChanged();
    void stageChanged();
    void canCancelChanged();
    void progressChanged();
    void messageChanged();
    void errorChanged();
    void quitPendingChanged();
    // An operation has ended, whatever its outcome.
    void operationFinished();
    // The quit asked for while an operation ran may now happen.
    void quitReady();

private:
    QCoro::Task<> runOperation(QString title, Body body);
    void stageReported(const Uuid& id, bool cancellable, OperationStage stage);
    void updateProgress();
    void log(const QString& text);
    QCoro::Task<> writeLog(QString path, QString text);
    void setBusy(bool busy);
    void setStage(std::optional<OperationStage> stage);
    void setCanCancel(bool canCancel);

    PlatformServices& m_platform;
    bool m_busy = false;
    bool m_scanning = false;
    bool m_panelOpen = false;
    QString m_message;
    std::optional<std::string> m_error;
    std::optional<OperationStage> m_stage;
    bool m_canCancel = false;
    double m_progress = -1;
    std::shared_ptr<OperationControl> m_operation;
    std::optional<Uuid> m_operationID;
    bool m_quitPending = false;
    OperationLog m_log;
    QTimer m_progressTimer;
};

// Stores a property's value and announces it only when it changed, so that bindings do not
// re-evaluate for nothing. True when it changed.
template <typename Owner, typename T, typename Value>
bool assignProperty(Owner* owner, T& field, Value&& value, void (Owner::*changed)()) {
    if (value == field) {
        return false;
    }
    field = std::forward<Value>(value);
    emit(owner->*changed)();
    return true;
}

} // namespace olvex
