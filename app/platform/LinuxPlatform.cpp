#include "platform/LinuxPlatform.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include "discovery/GameScanner.h"

namespace olvex {

namespace {

std::optional<QByteArray> readSmallFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    // /proc files report size 0; read to the end. A command line or environment is small.
    return file.readAll();
}

QList<QByteArray> nulSeparated(const QByteArray& data) {
    QList<QByteArray> parts = data.split('\0');
    if (!parts.isEmpty() && parts.last().isEmpty()) {
        parts.removeLast();
    }
    return parts;
}

std::optional<QString> environmentValue(const QList<QByteArray>& environment, const QByteArray& name) {
    const QByteArray prefix = name + '=';
    for (const auto& entry : environment) {
        if (entry.startsWith(prefix)) {
            return QFile::decodeName(entry.mid(prefix.size()));
        }
    }
    return std::nullopt;
}

bool isWindowsProgram(const QString& argument) {
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:[\\\\/]"));
    return drive.match(argument).hasMatch() || argument.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive);
}

RunningApplication describe(const QString& processFolder) {
    RunningApplication app;
    if (auto comm = readSmallFile(processFolder + QStringLiteral("/comm"))) {
        QString name = QFile::decodeName(comm->trimmed());
        if (!name.isEmpty()) {
            app.localizedName = name;
        }
    }
    QString executable = QFile::symLinkTarget(processFolder + QStringLiteral("/exe"));
    executable.remove(QRegularExpression(QStringLiteral(" \\(deleted\\)$")));

    QList<QByteArray> arguments;
    if (auto cmdline = readSmallFile(processFolder + QStringLiteral("/cmdline"))) {
        arguments = nulSeparated(*cmdline);
    }
    const QString first = arguments.isEmpty() ? QString() : QFile::decodeName(arguments.first());
    if (!first.isEmpty() && isWindowsProgram(first)) {
        // Wine overwrites the loader's command line with the Windows program it runs; the
        // "exe" link still names the loader, which says nothing about the game.
        app.executablePath = first;
        if (first.startsWith(QLatin1Char('/'))) {
            app.bundlePath = first;
        } else {
            QList<QByteArray> environment;
            if (auto data = readSmallFile(processFolder + QStringLiteral("/environ"))) {
                environment = nulSeparated(*data);
            }
            QString prefix = environmentValue(environment, "WINEPREFIX").value_or(QString());
            if (prefix.isEmpty()) {
                if (auto home = environmentValue(environment, "HOME")) {
                    prefix = *home + QStringLiteral("/.wine");
                }
            }
            app.bundlePath = wineLocalPath(first, prefix);
        }
        return app;
    }
    if (!executable.isEmpty()) {
        app.executablePath = executable;
        app.bundlePath = executable;
    }
    return app;
}

} // namespace

std::optional<QString> wineLocalPath(const QString& windowsPath, const QString& prefix) {
    if (windowsPath.size() < 3 || !windowsPath.at(0).isLetter() || windowsPath.at(1) != QLatin1Char(':')) {
        return std::nullopt;
    }
    const QString drive = windowsPath.left(2).toLower();
    QString rest = windowsPath.mid(2);
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString base;
    if (!prefix.isEmpty()) {
        base = QFileInfo(prefix + QStringLiteral("/dosdevices/") + drive).canonicalFilePath();
    }
    if (base.isEmpty()) {
        // Without a readable prefix only Wine's standing mapping of Z: to the root is known.
        if (drive != QStringLiteral("z:")) {
            return std::nullopt;
        }
        base = QStringLiteral("/");
    }
    QString local = base.endsWith(QLatin1Char('/')) ? base.chopped(1) + rest : base + rest;
    return QDir::cleanPath(local);
}

QList<RunningApplication> readRunningApplications(const QString& procRoot) {
    QList<RunningApplication> result;
    const QDir proc(procRoot);
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (digits.match(entry).hasMatch()) {
            result.append(describe(proc.filePath(entry)));
        }
    }
    return result;
}

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
        return std::nullopt;
    }
}

void LinuxPlatform::setStringList(const QString& key, const QStringList& value) {
    m_settings->setValue(key, value);
    m_settings->sync();
}

QList<RunningApplication> LinuxPlatform::runningApplications() const {
    return readRunningApplications(m_options.procRoot);
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

std::vector<Path> LinuxPlatform::defaultRoots() const {
    return m_options.defaultRoots ? *m_options.defaultRoots : GameScanner::defaultRoots();
}

} // namespace olvex
