#include "AppShell.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QQuickStyle>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTranslator>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "OlvexVersion.h"
#include "model/AppModel.h"

namespace olvex {

void configureApplication(QApplication& app) {
    app.setOrganizationName(QStringLiteral("Olvex"));
    app.setApplicationName(QStringLiteral("OlvexManager"));
    app.setApplicationDisplayName(QStringLiteral("Kelvarn · Tarnel"));
    app.setApplicationVersion(QString::fromLatin1(kVersion));
    // The installed desktop entry is named by the application id: with it as the desktop file
    // name the desktop shows the window under its launcher.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));
    // One CJK family for Latin and Chinese alike keeps the baseline and weights even; without
    // it fontconfig may pick a Latin face and fall back glyph by glyph.
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(13);
    font.setStyleStrategy(QFont::PreferAntialias);
    app.setFont(font);
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    // Every text is Chinese, so dates and sizes are too: the user's own locale when it is a
    // Chinese one, Simplified Chinese (China) otherwise. Qt's own words (the "字节" of a size)
    // come from its translations.
    QLocale locale = QLocale::system();
    if (locale.language() != QLocale::Chinese) {
        locale = QLocale(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China);
    }
    QLocale::setDefault(locale);
    auto* translator = new QTranslator(&app);
    if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    }

    // Icons come from the desktop's theme; where it has none (or lacks a name) Breeze, which
    // the set-up installs, fills in. Platforms without a desktop theme (offscreen, a bare X
    // server) search no icon folders at all, so the standard ones are added.
    QStringList iconPaths = QIcon::themeSearchPaths();
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString icons = folder + QStringLiteral("/icons");
        if (!iconPaths.contains(icons)) {
            iconPaths.append(icons);
        }
    }
    QIcon::setThemeSearchPaths(iconPaths);
    QIcon::setFallbackThemeName(QStringLiteral("breeze"));
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QStringLiteral("hicolor")) {
        QIcon::setThemeName(QStringLiteral("breeze"));
    }
    // The installed application icon (hicolor, which every theme inherits), for window managers
    // that draw the window's own icon; the copy built in where it is not installed.
    QGuiApplication::setWindowIcon(
        QIcon::fromTheme(QString::fromLatin1(kAppId), QIcon(QStringLiteral(":/Olvex/app-icon.svg"))));
}

QQuickWindow* loadMainWindow(QQmlApplicationEngine& engine, AppModel& model) {
    engine.setInitialProperties({{QStringLiteral("appModel"), QVariant::fromValue(&model)}});
    engine.load(QUrl(QStringLiteral("qrc:/Olvex/Main.qml")));
    const auto roots = engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.first());
}

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void forwardSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here: the event loop reads the byte and quits.
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

void catchTerminationSignals() {
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
}

void quitOnTerminationSignals(QCoreApplication& app) {
    if (signalPipe[0] < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] auto got = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
}

} // namespace olvex
