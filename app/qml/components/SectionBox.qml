import QtQuick

// A group box: a rounded card whose children stack top to bottom with `spacing`.
Rectangle {
    id: box

    default property alias content: column.data
    property alias spacing: column.spacing
    property int padding: 12

    implicitHeight: column.implicitHeight + 2 * box.padding
    radius: 10
    color: Theme.cardBackground
    border.width: 1
    border.color: Theme.cardBorder

    Column {
        id: column

        x: box.padding
        y: box.padding
        width: box.width - 2 * box.padding
        spacing: 12
    }
}
