#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <optional>

#include "model/RowModel.h"
#include "model/Rows.h"
#include "packs/PackRecords.h"

namespace olvex {

// What the install sheet shows: the checked pack's preview, its lines already composed, and its
// add-ons with what each does (new or replacing). Shown while a preview is held.
class InstallPreview : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("由 PackController 提供")

    Q_PROPERTY(bool shown READ shown NOTIFY changed)
    Q_PROPERTY(QString archiveName READ archiveName NOTIFY changed)
    Q_PROPERTY(QString packLine READ packLine NOTIFY changed)
    Q_PROPERTY(QString sourceLine READ sourceLine NOTIFY changed)
    Q_PROPERTY(QString retiredLine READ retiredLine NOTIFY changed)
    Q_PROPERTY(QString targetLine READ targetLine NOTIFY changed)
    Q_PROPERTY(QString countLine READ countLine NOTIFY changed)
    Q_PROPERTY(olvex::RowModelBase* addons READ addonRows CONSTANT)

public:
    using QObject::QObject;

    const std::optional<ImportPreview>& preview() const { return m_preview; }
    void setPreview(std::optional<ImportPreview> preview);

    bool shown() const { return m_preview.has_value(); }
    QString archiveName() const { return m_texts.archiveName; }
    QString packLine() const { return m_texts.packLine; }
    QString sourceLine() const { return m_texts.sourceLine; }
    QString retiredLine() const { return m_texts.retiredLine; }
    QString targetLine() const { return m_texts.targetLine; }
    QString countLine() const { return m_texts.countLine; }
    RowModel<rows::PreviewAddonRow>* addons() { return &m_addons; }
    RowModelBase* addonRows() { return &m_addons; }

signals:
    void changed();

private:
    std::optional<ImportPreview> m_preview;
    rows::PreviewTexts m_texts;
    RowModel<rows::PreviewAddonRow> m_addons;
};

} // namespace olvex
