#pragma once

#include <QQmlApplicationEngine>
#include <QQuickWindow>

class QApplication;

namespace olvex {

class AppModel;

// Application-wide settings shared by the application and its tools: names, the Chinese
// interface font, the Quick Controls style. Call right after creating the QApplication.
void configureApplication(QApplication& app);

// Loads the main window with `model` behind it. The window starts the first scan when it is
// shown. Returns the window, or nullptr when the QML failed to load (the engine has printed
// why). `model` must outlive `engine`.
QQuickWindow* loadMainWindow(QQmlApplicationEngine& engine, AppModel& model);

// Makes SIGINT, SIGTERM and SIGHUP end the event loop normally, so that being told to stop
// tears the window and the model down in order.
void quitOnTerminationSignals();

} // namespace olvex
