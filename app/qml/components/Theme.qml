pragma Singleton
import QtQuick

// Colours, type sizes and spacings shared by every view.
QtObject {

    readonly property color accent: "#E8770E"
    readonly property color accentPressed: "#C9650A"
    readonly property color accentHover: "#F08A2C"
    readonly property color accentSoftText: "#FFE9D4"
    readonly property color danger: "#C62828"
    readonly property color text: "#1D1D1F"
    readonly property color secondaryText: "#6E6E73"
    readonly property color tertiaryText: "#9A9AA0"
    readonly property color windowBackground: "#FAFAF8"
    readonly property color sidebarBackground: "#F0EEEA"
    readonly property color toolbarBackground: "#F7F6F3"
    readonly property color cardBackground: "#FFFFFF"
    readonly property color cardBorder: "#E7E3DD"
    readonly property color warningBackground: "#FFF5E8"
    readonly property color warningBorder: "#F5C98F"
    readonly property color hover: "#E4E1DC"
    readonly property color divider: "#DDD9D3"
    readonly property color controlBackground: "#FFFFFF"
    readonly property color controlHover: "#F6F4F1"
    readonly property color controlBorder: "#D2CEC8"
    readonly property color controlPressed: "#ECE9E4"
    readonly property color focusRing: "#1F6FEB"
    readonly property color scrim: "#59000000"

    // Type scale, in pixels.
    readonly property int largeTitle: 28
    readonly property int title2: 21
    readonly property int title3: 17
    readonly property int headline: 13
    readonly property int body: 13
    readonly property int callout: 12
    readonly property int caption: 11
}
