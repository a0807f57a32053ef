import QtQuick

// A small card: a headline with an icon over one caption line.
SectionBox {
    id: card

    property string title
    property string iconName
    property string caption

    spacing: 6

    SectionHeading {
        text: card.title
        iconName: card.iconName
        pixelSize: Theme.headline
    }
    Caption {
        text: card.caption
    }
}
