// Olvex Manager: the desktop window over the local add-on manager.

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QtQml/qqmlextensionplugin.h>

#include "AppShell.h"
#include "model/AppModel.h"
#include "platform/LinuxPlatform.h"

Q_IMPORT_QML_PLUGIN(OlvexPlugin)

int main(int argc, char* argv[]) {
    olvex::catchTerminationSignals();
    // A QApplication, not a QGuiApplication: the open and save panels are Qt Widgets dialogs.
    QApplication app(argc, argv);
    olvex::configureApplication(app);
    olvex::quitOnTerminationSignals(app);

    olvex::LinuxPlatform platform;
    olvex::AppModel model(platform);
    QQmlApplicationEngine engine;
    if (olvex::loadMainWindow(engine, model) == nullptr) {
        return 1;
    }
    return app.exec();
}
