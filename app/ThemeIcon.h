#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace olvex {

// An icon of the desktop's theme (Breeze where the theme has none), tinted with `color` as
// symbolic icons are, at `size` pixels. It is decoration: it takes no input and is hidden from
// assistive technology, since the text beside it always says what it means. Quick Controls draw
// such icons only through a private module, so the window draws them itself.
class ThemeIcon : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(int size READ size WRITE setSize NOTIFY sizeChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)

public:
    explicit ThemeIcon(QQuickItem* parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString& name);
    int size() const { return m_size; }
    void setSize(int size);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    void paint(QPainter* painter) override;

signals:
    void nameChanged();
    void sizeChanged();
    void colorChanged();

private:
    QString m_name;
    int m_size = 16;
    QColor m_color = Qt::black;
};

} // namespace olvex
