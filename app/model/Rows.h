#pragma once

// What the window's lists show of the core's records: one row struct per list, with its role
// enum and every text already composed and every size and date formatted in the interface
// locale. The view only places these values.

#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QString>
#include <QVariant>
#include <optional>
#include <string>

#include "discovery/Inventory.h"
#include "packs/PackRecords.h"
#include "records/Backup.h"
#include "records/Records.h"
#include "savedvars/SavedVariablesHealth.h"

namespace olvex::rows {

QString text(const std::string& utf8);
// A size as Chinese desktops write it: bytes below 1 KB, then KB, MB, GB in 1024s, one decimal.
QString sizeText(std::int64_t bytes, const QLocale& locale);
// A date as the window shows it, "2026年12月7日 16:41"; with seconds where two could share a minute.
QString dateText(const QDateTime& date, const QLocale& locale);
QString dateTextWithSeconds(const QDateTime& date, const QLocale& locale);

struct AddonRow {
    enum Role { AddonIdRole = Qt::UserRole + 1, TitleRole, DetailsRole, DependenciesRole, PathRole };
    InstalledAddon addon; // what the search reads
    QString addonId, title, details, dependencies, path;

    static QHash<int, QByteArray> roleNames();
    QVariant data(int role) const;
};
AddonRow addon(const InstalledAddon& addon);

struct PackRow {
    enum Role { PackIdRole = Qt::UserRole + 1, HeadingRole, CaptionRole };
    QString packId, heading, caption;

    static QHash<int, QByteArray> roleNames();
    QVariant data(int role) const;
};
PackRow pack(const ManagedPack& pack);

struct RetiredRow {
    enum Role { RetiredIdRole = Qt::UserRole + 1, NameRole, CaptionRole, CanRemoveRole };
    RetiredAddon addon;
    QString retiredId, name, caption;
    bool canRemove = false;

    static QHash<int, QByteArray> roleNames();
    QVariant data(int role) const;
};
RetiredRow retired(const RetiredAddon& addon);

struct BackupRow {
    enum Role {
        BackupIdRole = Qt::UserRole + 1,
        HeadingRole,
        ReasonRole,
        SizeRole,
        IsConfigurationRole,
        SymbolRole,
        LabelRole, // names the backup alone among its list: the date to the second, and its id
    };
    LocalBackup backup;
    QString backupId, heading, reason, size;
    bool isConfiguration = false;
    QString symbol;
    QString label;

    static QHash<int, QByteArray> roleNames();
    QVariant data(int role) const;
};
// `freed` is what removing the backup alone would free; it is told only where it differs from
// the backup's whole size, that is where the backup shares files with another.
BackupRow backup(const LocalBackup& backup, std::int64_t bytes, std::int64_t freed, const QLocale& locale);
// "共 3 份备份，实际占用 1.2 MB（未改动的文件由各备份共用）"
QString storeText(size_t count, std::int64_t occupied, const QLocale& locale);

struct ScopeRow {
    enum Role { RelativePathRole = Qt::UserRole + 1, TitleRole, SelectedRole };
    QString relativePath, title;
    bool selected = false;

    static QHash<int, QByteArray> roleNames();
    QVariant data(int role) const;
};
ScopeRow scope(const ConfigurationScope& scope, const std::optional<std::string>& selection);

// Where a repair takes a damaged settings file from, with its date: "游戏自动保存的 .bak 副本
// （2026年12月7日 16:41）", "WTF 备份（手动备份，2026年12月7日 16:41）", or that there is none.
QString settingsSourceText(const std::optional<SavedVariablesSource>& source, const QLocale& locale);

struct DamagedSettingsRow {
    enum Role {
        PathRole = Qt::UserRole + 1,
        AddonRole,
        StateRole,
        PlaceRole,
        SourceRole,
        CanRepairRole,
        LabelRole, // names the file alone among its list: its path
    };
    QString path, addon, state, place, source;
    bool canRepair = false;
    QString label;

    static QHash<int, QByteArray> roleNames();
    QVariant data(int role) const;
};
DamagedSettingsRow damagedSettings(const DamagedSavedVariables& damaged, const QLocale& locale);

// One add-on of a WTF backup in the scope picker's "按插件" list.
struct SettingsAddonRow {
    enum Role { NameRole = Qt::UserRole + 1, TitleRole, CaptionRole, SelectedRole };
    QString name, title, caption;
    bool selected = false;

    static QHash<int, QByteArray> roleNames();
    QVariant data(int role) const;
};
SettingsAddonRow settingsAddon(const SavedVariablesAddon& addon, const std::optional<std::string>& selection);

struct PreviewAddonRow {
    enum Role { NameRole = Qt::UserRole + 1, StatusRole };
    QString name, status;

    static QHash<int, QByteArray> roleNames();
    QVariant data(int role) const;
};
PreviewAddonRow previewAddon(const std::string& name, const ImportPreview& preview);

// The texts of the install sheet, in the order it shows them; empty where a line is not shown.
struct PreviewTexts {
    QString archiveName;
    QString packLine;   // name：installed version → new version
    QString sourceLine; // the pack's own claim of where it comes from
    QString retiredLine;
    QString targetLine;
    QString countLine;
};
PreviewTexts previewTexts(const ImportPreview& preview);

} // namespace olvex::rows
