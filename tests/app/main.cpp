// The application tests run with a QApplication on the offscreen platform, as the window does.

#include <QApplication>
#include <QtQml/qqmlextensionplugin.h>
#include <cstdlib>
#include <gtest/gtest.h>

#include "AppShell.h"

Q_IMPORT_QML_PLUGIN(OlvexPlugin)

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS(); // listing needs no window system
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0); // unless the caller chose otherwise
    ::setenv("QT_QUICK_BACKEND", "software", 0);
    QApplication app(argc, argv);
    olvex::configureApplication(app);
    return RUN_ALL_TESTS();
}
