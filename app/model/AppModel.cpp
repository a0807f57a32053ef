#include "model/AppModel.h"

namespace olvex {

AppModel::AppModel(PlatformServices& platform, Scanner scanner, std::unique_ptr<ManagerService> service,
                   QObject* parent)
    : QObject(parent), m_link(std::make_unique<ServiceLink>(std::move(service))), m_status(platform),
      m_folders(platform, *m_link, m_status, std::move(scanner)), m_packs(platform, *m_link, m_status, m_folders),
      m_backups(platform, *m_link, m_status, m_folders) {
    m_folders.setListSinks({
        .show =
            [this](FolderLists lists) {
                m_backups.setBackups(lists.backups, lists.usage);
                m_addons.setAddons(lists.addons);
                m_packs.setPacks(lists.packs);
                m_packs.setRetired(lists.retired);
            },
        .clear =
            [this] {
                m_backups.clear();
                m_addons.setAddons({});
                m_packs.setPacks({});
                m_packs.setRetired({});
                m_backups.health()->clear();
            },
        .failed =
            [this] {
                m_backups.clear();
                m_backups.health()->clear();
            },
        .check = [this](GameClient client) { return m_backups.health()->check(std::move(client)); },
    });
}

AppModel::~AppModel() {
    // A running request still sees a live control; later ones are dropped. The link stops its
    // thread before any controller (and the control the request uses) is destroyed.
    if (auto control = m_status.operation()) {
        control->cancel();
    }
    m_backups.health()->cancel(); // a long check must not hold the window's closing
    m_link.reset();
}

void AppModel::dismissCandidates() {
    m_packs.dismissCandidate();
    m_backups.dismissCandidates();
}

} // namespace olvex
