#include "ThemeIcon.h"

#include <QIcon>
#include <QPainter>
#include <QQuickWindow>

namespace olvex {

ThemeIcon::ThemeIcon(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setImplicitSize(m_size, m_size);
    setAcceptedMouseButtons(Qt::NoButton);
}

void ThemeIcon::setName(const QString& name) {
    if (name != m_name) {
        m_name = name;
        emit nameChanged();
        update();
    }
}

void ThemeIcon::setSize(int size) {
    if (size != m_size) {
        m_size = size;
        setImplicitSize(size, size);
        emit sizeChanged();
        update();
    }
}

void ThemeIcon::setColor(const QColor& color) {
    if (color != m_color) {
        m_color = color;
        emit colorChanged();
        update();
    }
}

void ThemeIcon::paint(QPainter* painter) {
    if (m_name.isEmpty()) {
        return;
    }
    const qreal ratio = window() != nullptr ? window()->effectiveDevicePixelRatio() : 1.0;
    QPixmap pixmap = QIcon::fromTheme(m_name).pixmap(QSize(m_size, m_size), ratio);
    if (pixmap.isNull()) {
        return;
    }
    // Every drawn pixel takes the colour, keeping its coverage: a symbolic icon in the text's tone.
    {
        QPainter tint(&pixmap);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(pixmap.rect(), m_color);
    }
    const QSizeF shown = pixmap.deviceIndependentSize();
    painter->drawPixmap(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2), pixmap);
}

} // namespace olvex
