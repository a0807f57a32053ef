#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>
#include <optional>
#include <qcoro/qcorotask.h>
#include <vector>

#include "model/InstallPreview.h"
#include "model/RowModel.h"
#include "model/Rows.h"

namespace olvex {

class FolderController;
class OperationStatus;
class PlatformServices;
class ServiceLink;

// Packs: choosing a ZIP (panel, drop, "open with"), its preview in the install sheet, the
// installation, the installed packs, and the add-ons a newer release retired with their
// confirmed clean-up.
class PackController : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("由 AppModel 提供")

    Q_PROPERTY(olvex::InstallPreview* preview READ preview CONSTANT)
    Q_PROPERTY(olvex::RowModelBase* installed READ installedRows CONSTANT)
    Q_PROPERTY(olvex::RowModelBase* retired READ retiredRows CONSTANT)
    Q_PROPERTY(bool hasRetiredCandidate READ hasRetiredCandidate NOTIFY candidateChanged)
    Q_PROPERTY(QString retiredConfirmText READ retiredConfirmText NOTIFY candidateChanged)

public:
    PackController(PlatformServices& platform, ServiceLink& link, OperationStatus& status, FolderController& folders,
                   QObject* parent = nullptr);

    InstallPreview* preview() { return &m_preview; }
    RowModel<rows::PackRow>* installed() { return &m_packs; }
    RowModel<rows::RetiredRow>* retired() { return &m_retired; }
    RowModelBase* installedRows() { return &m_packs; }
    RowModelBase* retiredRows() { return &m_retired; }
    const std::optional<RetiredAddon>& retiredCandidate() const { return m_retiredCandidate; }
    bool hasRetiredCandidate() const { return m_retiredCandidate.has_value(); }
    QString retiredConfirmText() const;

    void setPacks(const std::vector<ManagedPack>& packs);
    void setRetired(const std::vector<RetiredAddon>& retired);

    // Asks for a ZIP and previews it for the selected folder ("导入 ZIP").
    Q_INVOKABLE void chooseZIP();
    // Previews a ZIP given by path (a file dropped on the window, or opened with the app).
    Q_INVOKABLE void chooseZIP(const QString& path);
    // What the window hands over when files are dropped on it: exactly one local .zip file
    // starts its preview; anything else is refused in `error`.
    Q_INVOKABLE void dropFiles(const QList<QUrl>& urls);
    // The file the application was opened with ("打开方式"): a .zip starts its preview as a
    // dropped one does; anything else is refused in `error`, in words that speak of opening.
    void openFile(const QString& path);
    Q_INVOKABLE void install();
    Q_INVOKABLE void cancelPreview();
    void removeRetired(const RetiredAddon& addon);
    // The retired add-on's "清理…" sets the candidate; the confirmation runs or dismisses it.
    Q_INVOKABLE void setRetiredCandidate(const QString& retiredId);
    Q_INVOKABLE void confirmRetired();
    Q_INVOKABLE void dismissCandidate();

signals:
    void candidateChanged();

private:
    QCoro::Task<> previewBody(QString zip, GameClient client);
    QCoro::Task<> installBody(ImportPreview preview);
    QCoro::Task<> discardBody();

    PlatformServices& m_platform;
    ServiceLink& m_link;
    OperationStatus& m_status;
    FolderController& m_folders;
    InstallPreview m_preview;
    RowModel<rows::PackRow> m_packs;
    RowModel<rows::RetiredRow> m_retired;
    std::optional<RetiredAddon> m_retiredCandidate;
};

} // namespace olvex
