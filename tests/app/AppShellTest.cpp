// What configureApplication gives the desktop and the views: the version and the desktop file name.

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <gtest/gtest.h>
#include <memory>

#include "support/QtPrint.h"

namespace olvex::test {
namespace {

TEST(AppShell, TheProjectVersionReachesQml) {
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQml\nQtObject { property string version: Qt.application.version }", QUrl());
    std::unique_ptr<QObject> object(component.create());
    ASSERT_NE(object, nullptr) << component.errorString().toStdString();
    EXPECT_EQ(object->property("version").toString(), QStringLiteral(OLVEX_PROJECT_VERSION));
}

// The desktop groups the window under the launcher whose file name is the window's desktop file name.
TEST(AppShell, TheDesktopFileNameNamesTheDesktopEntry) {
    const QString entry = QStringLiteral(OLVEX_DATA_DIR "/") + QGuiApplication::desktopFileName() + ".desktop";
    EXPECT_TRUE(QFileInfo(entry).isFile()) << entry.toStdString();
}

} // namespace
} // namespace olvex::test
