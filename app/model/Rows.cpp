#include "model/Rows.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>

#include "base/Text.h"
#include "platform/PlatformServices.h"

namespace olvex::rows {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QString sizeText(std::int64_t bytes, const QLocale& locale) {
    if (bytes < 1024) {
        return locale.formattedDataSize(bytes); // "71 字节" in Chinese
    }
    // Chinese desktops count in 1024s and write the units in capitals: "1.7 KB", "3.2 MB".
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    return locale.toString(value, 'f', 1) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

QString dateText(const QDateTime& date, const QLocale& locale) {
    return locale.toString(date, QStringLiteral("yyyy年M月d日 HH:mm"));
}

QString dateTextWithSeconds(const QDateTime& date, const QLocale& locale) {
    return locale.toString(date, QStringLiteral("yyyy年M月d日 HH:mm:ss"));
}

QHash<int, QByteArray> AddonRow::roleNames() {
    return {{AddonIdRole, "addonId"},
            {TitleRole, "title"},
            {DetailsRole, "details"},
            {DependenciesRole, "dependencies"},
            {PathRole, "path"}};
}

QVariant AddonRow::data(int role) const {
    switch (role) {
    case AddonIdRole:
        return addonId;
    case TitleRole:
        return title;
    case DetailsRole:
        return details;
    case DependenciesRole:
        return dependencies;
    case PathRole:
        return path;
    default:
        return {};
    }
}

AddonRow addon(const InstalledAddon& addon) {
    const QString path = toQString(addon.folder);
    const QString folder = toQString(addon.folder.filename());
    return {addon,
            path,
            text(addon.title),
            folder + QStringLiteral(" · ") + text(addon.version) + QStringLiteral(" · ") + text(addon.author),
            QStringLiteral("依赖：") + text(addon.dependencies) + QStringLiteral(" · Interface：") +
                text(addon.interface),
            path};
}

QHash<int, QByteArray> PackRow::roleNames() {
    return {{PackIdRole, "packId"}, {HeadingRole, "heading"}, {CaptionRole, "caption"}};
}

QVariant PackRow::data(int role) const {
    switch (role) {
    case PackIdRole:
        return packId;
    case HeadingRole:
        return heading;
    case CaptionRole:
        return caption;
    default:
        return {};
    }
}

PackRow pack(const ManagedPack& pack) {
    const PackManifest& manifest = pack.manifest;
    return {text(manifest.identifier), text(manifest.name) + QStringLiteral(" · ") + text(manifest.version),
            // One substitution pass: a source naming "%2" stays as written.
            QStringLiteral("来源声明：%1 · 管理 %2 个插件")
                .arg(text(manifest.source), QString::number(pack.addons.size()))};
}

QHash<int, QByteArray> RetiredRow::roleNames() {
    return {{RetiredIdRole, "retiredId"}, {NameRole, "name"}, {CaptionRole, "caption"}, {CanRemoveRole, "canRemove"}};
}

QVariant RetiredRow::data(int role) const {
    switch (role) {
    case RetiredIdRole:
        return retiredId;
    case NameRole:
        return name;
    case CaptionRole:
        return caption;
    case CanRemoveRole:
        return canRemove;
    default:
        return {};
    }
}

RetiredRow retired(const RetiredAddon& addon) {
    QString caption = text(addon.name) + QStringLiteral("：已不随整合包发布");
    if (!addon.canRemove) {
        caption += QStringLiteral("（已修改或被其他包使用，保留）");
    }
    return {addon, text(addon.id()), text(addon.name), caption, addon.canRemove};
}

QHash<int, QByteArray> BackupRow::roleNames() {
    return {{BackupIdRole, "backupId"},
            {HeadingRole, "heading"},
            {ReasonRole, "reason"},
            {SizeRole, "size"},
            {IsConfigurationRole, "isConfiguration"},
            {SymbolRole, "symbol"},
            {LabelRole, "label"}};
}

QVariant BackupRow::data(int role) const {
    switch (role) {
    case BackupIdRole:
        return backupId;
    case HeadingRole:
        return heading;
    case ReasonRole:
        return reason;
    case SizeRole:
        return size;
    case IsConfigurationRole:
        return isConfiguration;
    case SymbolRole:
        return symbol;
    case LabelRole:
        return label;
    default:
        return {};
    }
}

BackupRow backup(const LocalBackup& backup, std::int64_t bytes, std::int64_t freed, const QLocale& locale) {
    const auto date =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(backup.date.unixSeconds() * 1000.0)).toLocalTime();
    const bool configuration = backup.kind == BackupKind::wtf;
    return {backup,
            text(backup.id.text()),
            text(title(backup.kind)) + QStringLiteral(" · ") + dateText(date, locale),
            text(backup.reason),
            freed == bytes ? sizeText(bytes, locale)
                           : sizeText(bytes, locale) + QStringLiteral(" · 删除可释放 ") + sizeText(freed, locale),
            configuration,
            configuration ? QStringLiteral("user-identity") : QStringLiteral("package"),
            text(title(backup.kind)) + QStringLiteral(" · ") + dateTextWithSeconds(date, locale) +
                QStringLiteral(" · ") + text(backup.id.text()).left(8)};
}

QString storeText(size_t count, std::int64_t occupied, const QLocale& locale) {
    return QStringLiteral("共 ") + locale.toString(static_cast<qulonglong>(count)) +
           QStringLiteral(" 份备份，实际占用 ") + sizeText(occupied, locale) +
           QStringLiteral("（未改动的文件由各备份共用）");
}

QHash<int, QByteArray> ScopeRow::roleNames() {
    return {{RelativePathRole, "relativePath"}, {TitleRole, "title"}, {SelectedRole, "selected"}};
}

QVariant ScopeRow::data(int role) const {
    switch (role) {
    case RelativePathRole:
        return relativePath;
    case TitleRole:
        return title;
    case SelectedRole:
        return selected;
    default:
        return {};
    }
}

ScopeRow scope(const ConfigurationScope& scope, const std::optional<std::string>& selection) {
    return {text(scope.relativePath), text(scope.title), selection == scope.relativePath};
}

QString settingsSourceText(const std::optional<SavedVariablesSource>& source, const QLocale& locale) {
    if (!source) {
        return QStringLiteral("没有完好的副本（游戏的 .bak 或 WTF 备份）");
    }
    const auto date =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(source->date.unixSeconds() * 1000.0)).toLocalTime();
    if (source->isGameBackup()) {
        return text(source->text()) + QStringLiteral("（") + dateText(date, locale) + QStringLiteral("）");
    }
    return QStringLiteral("WTF 备份（") + text(source->backup->reason) + QStringLiteral("，") + dateText(date, locale) +
           QStringLiteral("）");
}

QHash<int, QByteArray> DamagedSettingsRow::roleNames() {
    return {{PathRole, "path"},     {AddonRole, "addon"},         {StateRole, "state"}, {PlaceRole, "place"},
            {SourceRole, "source"}, {CanRepairRole, "canRepair"}, {LabelRole, "label"}};
}

QVariant DamagedSettingsRow::data(int role) const {
    switch (role) {
    case PathRole:
        return path;
    case AddonRole:
        return addon;
    case StateRole:
        return state;
    case PlaceRole:
        return place;
    case SourceRole:
        return source;
    case CanRepairRole:
        return canRepair;
    case LabelRole:
        return label;
    default:
        return {};
    }
}

DamagedSettingsRow damagedSettings(const DamagedSavedVariables& damaged, const QLocale& locale) {
    const QString path = text(damaged.relativePath);
    return {path,
            text(damaged.addon),
            text(damaged.stateText()),
            text(damaged.place.text()),
            (damaged.source ? QStringLiteral("修复来源：") : QString()) + settingsSourceText(damaged.source, locale),
            damaged.source.has_value(),
            QStringLiteral("插件配置 ") + path};
}

QHash<int, QByteArray> SettingsAddonRow::roleNames() {
    return {{NameRole, "name"}, {TitleRole, "title"}, {CaptionRole, "caption"}, {SelectedRole, "selected"}};
}

QVariant SettingsAddonRow::data(int role) const {
    switch (role) {
    case NameRole:
        return name;
    case TitleRole:
        return title;
    case CaptionRole:
        return caption;
    case SelectedRole:
        return selected;
    default:
        return {};
    }
}

SettingsAddonRow settingsAddon(const SavedVariablesAddon& addon, const std::optional<std::string>& selection) {
    QString caption = QStringLiteral("%1 个配置文件").arg(addon.files);
    if (addon.title != addon.name) {
        caption = text(addon.name) + QStringLiteral(".lua · ") + caption;
    }
    return {text(addon.name), text(addon.title), caption, selection == addon.name};
}

QHash<int, QByteArray> PreviewAddonRow::roleNames() {
    return {{NameRole, "name"}, {StatusRole, "status"}};
}

QVariant PreviewAddonRow::data(int role) const {
    switch (role) {
    case NameRole:
        return name;
    case StatusRole:
        return status;
    default:
        return {};
    }
}

PreviewAddonRow previewAddon(const std::string& name, const ImportPreview& preview) {
    // The installation replaces a folder whose name differs only in case or accents, so the
    // sheet must call such a name a replacement too.
    const bool replacing = std::any_of(preview.replacing.begin(), preview.replacing.end(), [&](const std::string& old) {
        return text::equalIgnoringCaseAndDiacritics(old, name);
    });
    return {text(name), replacing ? QStringLiteral("替换") : QStringLiteral("新增")};
}

PreviewTexts previewTexts(const ImportPreview& preview) {
    PreviewTexts texts;
    texts.archiveName = text(preview.archiveName);
    if (preview.pack) {
        const QString installed = preview.previousVersion ? text(*preview.previousVersion) : QStringLiteral("未安装");
        texts.packLine = text(preview.pack->name) + QStringLiteral("：") + installed + QStringLiteral(" → ") +
                         text(preview.pack->version);
        texts.sourceLine = QStringLiteral("来源声明：") + text(preview.pack->source) +
                           QStringLiteral("。本地清单不代表发布者授权或代码可信。");
    }
    if (!preview.retiredAddons.empty()) {
        QStringList names;
        for (const auto& name : preview.retiredAddons) {
            names.append(text(name));
        }
        texts.retiredLine =
            QStringLiteral("不再随包发布（共 %1 个，本次保留）：").arg(names.size()) + names.join(QStringLiteral("、"));
    }
    texts.targetLine =
        QStringLiteral("目标：") + text(preview.client.title()) + QLatin1Char('\n') + toQString(preview.client.url());
    texts.countLine = QStringLiteral("%1 个插件 · %2 个同名插件将替换")
                          .arg(QString::number(preview.addons.size()), QString::number(preview.replacing.size()));
    return texts;
}

} // namespace olvex::rows
