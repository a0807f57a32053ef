import QtQuick

// Line icons standing in for the desktop's system symbols, drawn so that they follow `color`
// and stay sharp at any size. `name` is the system symbol's name.
Canvas {
    id: icon

    property string name
    property color color: Theme.text

    implicitWidth: 16
    implicitHeight: 16
    antialiasing: true

    onColorChanged: requestPaint()
    onNameChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d");
        ctx.reset();
        const s = Math.min(width, height) / 16;
        ctx.save();
        ctx.translate((width - 16 * s) / 2, (height - 16 * s) / 2);
        ctx.scale(s, s);
        ctx.strokeStyle = icon.color;
        ctx.fillStyle = icon.color;
        ctx.lineWidth = 1.4;
        ctx.lineCap = "round";
        ctx.lineJoin = "round";
        switch (icon.name) {
        case "shippingbox.fill":
            ctx.beginPath();
            ctx.moveTo(8, 1.2); ctx.lineTo(14.6, 4.4); ctx.lineTo(14.6, 11.6);
            ctx.lineTo(8, 14.8); ctx.lineTo(1.4, 11.6); ctx.lineTo(1.4, 4.4); ctx.closePath();
            ctx.fill();
            ctx.strokeStyle = Theme.windowBackground;
            ctx.lineWidth = 1.1;
            ctx.beginPath();
            ctx.moveTo(1.8, 4.6); ctx.lineTo(8, 7.6); ctx.lineTo(14.2, 4.6);
            ctx.moveTo(8, 7.6); ctx.lineTo(8, 14.4);
            ctx.moveTo(4.6, 2.9); ctx.lineTo(11, 6);
            ctx.stroke();
            break;
        case "shippingbox":
            ctx.beginPath();
            ctx.moveTo(8, 1.5); ctx.lineTo(14.3, 4.6); ctx.lineTo(14.3, 11.4);
            ctx.lineTo(8, 14.5); ctx.lineTo(1.7, 11.4); ctx.lineTo(1.7, 4.6); ctx.closePath();
            ctx.moveTo(1.7, 4.6); ctx.lineTo(8, 7.7); ctx.lineTo(14.3, 4.6);
            ctx.moveTo(8, 7.7); ctx.lineTo(8, 14.5);
            ctx.stroke();
            break;
        case "folder.badge.plus":
            ctx.beginPath();
            ctx.moveTo(1.5, 12.5); ctx.lineTo(1.5, 3.5); ctx.lineTo(5.8, 3.5); ctx.lineTo(7.2, 5);
            ctx.lineTo(12.5, 5); ctx.lineTo(12.5, 7);
            ctx.moveTo(1.5, 12.5); ctx.lineTo(8, 12.5);
            ctx.stroke();
            ctx.beginPath();
            ctx.moveTo(12, 9); ctx.lineTo(12, 15);
            ctx.moveTo(9, 12); ctx.lineTo(15, 12);
            ctx.stroke();
            break;
        case "arrow.clockwise":
            ctx.beginPath();
            ctx.arc(8, 8.5, 5.5, -Math.PI * 0.35, Math.PI * 1.45, false);
            ctx.stroke();
            ctx.beginPath();
            ctx.moveTo(13.6, 1.6); ctx.lineTo(13.2, 5.6); ctx.lineTo(9.3, 4.9);
            ctx.stroke();
            break;
        case "info.circle":
            ctx.beginPath();
            ctx.arc(8, 8, 6.6, 0, Math.PI * 2, false);
            ctx.stroke();
            ctx.beginPath();
            ctx.moveTo(8, 7.2); ctx.lineTo(8, 11.6);
            ctx.stroke();
            ctx.beginPath();
            ctx.arc(8, 4.9, 0.9, 0, Math.PI * 2, false);
            ctx.fill();
            break;
        case "chevron.down":
            ctx.beginPath();
            ctx.moveTo(4, 6); ctx.lineTo(8, 10); ctx.lineTo(12, 6);
            ctx.stroke();
            break;
        case "externaldrive":
            ctx.beginPath();
            ctx.moveTo(3.5, 3); ctx.lineTo(12.5, 3); ctx.lineTo(14.5, 9); ctx.lineTo(14.5, 13);
            ctx.lineTo(1.5, 13); ctx.lineTo(1.5, 9); ctx.closePath();
            ctx.moveTo(1.5, 9); ctx.lineTo(14.5, 9);
            ctx.stroke();
            ctx.beginPath();
            ctx.arc(11.8, 11, 0.8, 0, Math.PI * 2, false);
            ctx.fill();
            break;
        }
        ctx.restore();
    }
}
