#include "model/InstallPreview.h"

namespace olvex {

void InstallPreview::setPreview(std::optional<ImportPreview> preview) {
    m_preview = std::move(preview);
    m_texts = m_preview ? rows::previewTexts(*m_preview) : rows::PreviewTexts{};
    std::vector<rows::PreviewAddonRow> list;
    if (m_preview) {
        for (const auto& name : m_preview->addons) {
            list.push_back(rows::previewAddon(name, *m_preview));
        }
    }
    m_addons.setRows(std::move(list));
    emit changed();
}

} // namespace olvex
