#pragma once

// What the window's lists show of the core's records: the named roles of each list and the
// row of one record, with every text already composed and every size and date formatted in
// the interface locale. The view only places these values.

#include <QByteArrayList>
#include <QLocale>
#include <QVariantList>
#include <optional>
#include <string>

#include "packs/PackRecords.h"
#include "records/Backup.h"
#include "records/Records.h"

namespace olvex::rows {

QString text(const std::string& utf8);

QByteArrayList addonRoles();
QVariantList addon(const InstalledAddon& addon);

QByteArrayList packRoles();
QVariantList pack(const ManagedPack& pack);

QByteArrayList retiredRoles();
QVariantList retired(const RetiredAddon& addon);

QByteArrayList backupRoles();
QVariantList backup(const LocalBackup& backup, std::int64_t bytes, const QLocale& locale);

QByteArrayList scopeRoles();
QVariantList scope(const ConfigurationScope& scope, const std::optional<std::string>& selection);

QByteArrayList previewAddonRoles();
QVariantList previewAddon(const std::string& name, const ImportPreview& preview);

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
