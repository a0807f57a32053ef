#include "platform/LinuxPlatform.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QUrl>

#include "discovery/GameScanner.h"

namespace olvex {

LinuxPlatform::LinuxPlatform() : LinuxPlatform(Options{}) {}

LinuxPlatform::LinuxPlatform(Options options) : m_options(std::move(options)) {
    if (m_options.settingsFile.isEmpty()) {
        m_settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Olvex"),
                                                 QStringLiteral("OlvexManager"));
    } else {
        m_settings = std::make_unique<QSettings>(m_options.settingsFile, QSettings::IniFormat);
    }
}

std::optional<QStringList> LinuxPlatform::stringList(const QString& key) const {
    const QVariant value = m_settings->value(key);
    switch (value.typeId()) {
    case QMetaType::QStringList:
        return value.toStringList();
    case QMetaType::QString:
        // An INI file cannot tell a one-entry list from a plain text; take it as the list.
        return QStringList{value.toString()};
    default:
        // An empty list is written as an invalid value ("@Invalid()"); nothing else is.
        if (!value.isValid() && m_settings->contains(key)) {
            return QStringList();
        }
        return std::nullopt;
    }
}

void LinuxPlatform::setStringList(const QString& key, const QStringList& value) {
    m_settings->setValue(key, value);
    m_settings->sync();
}

std::vector<RunningApplication> LinuxPlatform::runningApplications() const {
    return olvex::runningApplications(m_options.procRoot);
}

std::optional<QString> LinuxPlatform::chooseDirectory(const QString& title) {
    QString chosen = QFileDialog::getExistingDirectory(nullptr, title, QDir::homePath());
    return chosen.isEmpty() ? std::nullopt : std::optional<QString>(chosen);
}

std::optional<QString> LinuxPlatform::chooseFile(const QString& title, const QStringList& nameFilters) {
    QString chosen =
        QFileDialog::getOpenFileName(nullptr, title, QDir::homePath(), nameFilters.join(QStringLiteral(";;")));
    return chosen.isEmpty() ? std::nullopt : std::optional<QString>(chosen);
}

std::optional<QString> LinuxPlatform::chooseSaveLocation(const QString& title, const QString& proposedName) {
    QString chosen = QFileDialog::getSaveFileName(nullptr, title, QDir::home().filePath(proposedName));
    return chosen.isEmpty() ? std::nullopt : std::optional<QString>(chosen);
}

bool LinuxPlatform::revealInFileBrowser(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

std::optional<std::vector<Path>> LinuxPlatform::defaultRoots() const {
    return m_options.defaultRoots;
}

} // namespace olvex
