#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>
#include <memory>

#include "model/AddonFilterModel.h"
#include "model/BackupController.h"
#include "model/FolderController.h"
#include "model/OperationStatus.h"
#include "model/PackController.h"
#include "model/ServiceLink.h"
#include "platform/PlatformServices.h"

namespace olvex {

// The one object behind the window: it owns the service link (the ManagerService and the
// thread its requests run on) and one controller per area, and hands them to QML as constant
// properties. Every controller lives on the main thread; everything that touches a game folder
// is a request of the one service, run on its own thread and awaited; only the scanner runs
// elsewhere, and only its report comes back.
class AppModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("应用只创建一个 AppModel")

    Q_PROPERTY(olvex::OperationStatus* operation READ operation CONSTANT)
    Q_PROPERTY(olvex::FolderController* folders READ folders CONSTANT)
    Q_PROPERTY(olvex::AddonFilterModel* addons READ addons CONSTANT)
    Q_PROPERTY(olvex::PackController* packs READ packs CONSTANT)
    Q_PROPERTY(olvex::BackupController* backups READ backups CONSTANT)

public:
    using Scanner = FolderController::Scanner;
    static constexpr auto savedKey = FolderController::savedKey;

    // `platform` must outlive the model. `scanner` replaces GameScanner::scanReport and
    // `service` the service made with no hooks (tests).
    explicit AppModel(PlatformServices& platform, Scanner scanner = {}, std::unique_ptr<ManagerService> service = {},
                      QObject* parent = nullptr);
    ~AppModel() override;

    OperationStatus* operation() { return &m_status; }
    FolderController* folders() { return &m_folders; }
    AddonFilterModel* addons() { return &m_addons; }
    PackController* packs() { return &m_packs; }
    BackupController* backups() { return &m_backups; }

    // Closes whichever confirmation (or the scope picker) is open without acting.
    Q_INVOKABLE void dismissCandidates();

private:
    std::unique_ptr<ServiceLink> m_link;
    OperationStatus m_status;
    FolderController m_folders;
    AddonFilterModel m_addons;
    PackController m_packs;
    BackupController m_backups;
};

} // namespace olvex
