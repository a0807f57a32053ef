#pragma once

#include <QQmlApplicationEngine>
#include <QQuickWindow>

class QApplication;
class QCoreApplication;

namespace olvex {

class AppModel;

// Application-wide settings shared by the application and its tools: names, the version (for
// Qt.application.version), the desktop file name and icon, the Chinese interface font, the Quick
// Controls style. Call right after creating the QApplication.
void configureApplication(QApplication& app);

// Loads the main window with `model` behind it. The window starts the first scan when it is
// shown. Returns the window, or nullptr when the QML failed to load (the engine has printed
// why). `model` must outlive `engine`.
QQuickWindow* loadMainWindow(QQmlApplicationEngine& engine, AppModel& model);

// Makes SIGINT, SIGTERM and SIGHUP end the event loop normally, so that being told to stop
// tears the window and the model down in order. catchTerminationSignals() comes first in
// main, before the slow start of the window system, so a signal that arrives meanwhile is
// kept; quitOnTerminationSignals() then acts on it (and on later ones) once `app` exists.
void catchTerminationSignals();
void quitOnTerminationSignals(QCoreApplication& app);

} // namespace olvex
