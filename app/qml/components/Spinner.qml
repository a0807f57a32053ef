import QtQuick

// A small activity indicator: an open ring that turns while `running`.
Item {
    id: spinner

    property bool running: true
    property color color: Theme.secondaryText

    implicitWidth: 16
    implicitHeight: 16
    visible: running

    Canvas {
        id: ring

        anchors.fill: parent
        antialiasing: true
        onPaint: {
            const ctx = getContext("2d");
            ctx.reset();
            const r = Math.min(width, height) / 2 - 1.5;
            ctx.lineWidth = 2;
            ctx.lineCap = "round";
            ctx.strokeStyle = Qt.rgba(spinner.color.r, spinner.color.g, spinner.color.b, 0.2);
            ctx.beginPath();
            ctx.arc(width / 2, height / 2, r, 0, Math.PI * 2, false);
            ctx.stroke();
            ctx.strokeStyle = spinner.color;
            ctx.beginPath();
            ctx.arc(width / 2, height / 2, r, -Math.PI / 2, Math.PI * 0.25, false);
            ctx.stroke();
        }

        RotationAnimator on rotation  {
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
            running: spinner.running && spinner.visible
        }
    }
}
