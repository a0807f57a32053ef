// olvex-screenshot: renders the main window over given roots and saves it as a PNG, without
// touching the user's saved roots. Used to check the window's look on machines with no display
// (QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software) or under Xvfb.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <cstdio>

#include "AppShell.h"
#include "model/AppModel.h"
#include "platform/LinuxPlatform.h"

Q_IMPORT_QML_PLUGIN(OlvexPlugin)

namespace {

int fail(const QString& text) {
    std::fprintf(stderr, "olvex-screenshot：%s\n", qPrintable(text));
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    olvex::configureApplication(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("把主窗口保存为 PNG 图片。"));
    parser.addHelpOption();
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("PNG 文件路径。"), QStringLiteral("file"));
    const QCommandLineOption root(QStringLiteral("root"), QStringLiteral("扫描的根目录，可重复；代替默认位置。"),
                                  QStringLiteral("folder"));
    const QCommandLineOption saved(QStringLiteral("saved"), QStringLiteral("预先保存的位置，可重复。"),
                                   QStringLiteral("folder"));
    const QCommandLineOption select(QStringLiteral("select"), QStringLiteral("扫描后选中的版本目录。"),
                                    QStringLiteral("folder"));
    const QCommandLineOption width(QStringLiteral("width"), QStringLiteral("窗口宽度。"), QStringLiteral("px"),
                                   QStringLiteral("1050"));
    const QCommandLineOption height(QStringLiteral("height"), QStringLiteral("窗口高度。"), QStringLiteral("px"),
                                    QStringLiteral("740"));
    const QCommandLineOption settle(QStringLiteral("settle"), QStringLiteral("扫描结束后等待的毫秒数。"),
                                    QStringLiteral("ms"), QStringLiteral("300"));
    parser.addOptions({out, root, saved, select, width, height, settle});
    parser.process(app);
    if (!parser.isSet(out)) {
        return fail(QStringLiteral("缺少 --out。"));
    }

    QTemporaryDir store;
    if (!store.isValid()) {
        return fail(QStringLiteral("无法创建临时目录。"));
    }
    olvex::LinuxPlatform::Options options;
    options.settingsFile = store.filePath(QStringLiteral("settings.ini"));
    options.defaultRoots = std::vector<olvex::Path>{};
    for (const QString& folder : parser.values(root)) {
        options.defaultRoots->push_back(olvex::toPath(QDir::cleanPath(QDir::current().absoluteFilePath(folder))));
    }
    olvex::LinuxPlatform platform(options);
    if (parser.isSet(saved)) {
        QStringList folders;
        for (const QString& folder : parser.values(saved)) {
            folders.append(QDir::cleanPath(QDir::current().absoluteFilePath(folder)));
        }
        platform.setStringList(QString::fromLatin1(olvex::AppModel::savedKey), folders);
    }

    olvex::AppModel model(platform);
    QQmlApplicationEngine engine;
    QQuickWindow* window = olvex::loadMainWindow(engine, model);
    if (window == nullptr) {
        return fail(QStringLiteral("无法加载主窗口。"));
    }
    window->resize(parser.value(width).toInt(), parser.value(height).toInt());

    int status = 0;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &app, [&] {
        status = fail(QStringLiteral("扫描超时。"));
        app.exit(status);
    });
    QObject::connect(&model, &olvex::AppModel::scanFinished, &app, [&] {
        deadline.stop();
        if (parser.isSet(select)) {
            model.setSelectionText(QDir::cleanPath(QDir::current().absoluteFilePath(parser.value(select))));
        }
        // Let the scene take the new state and draw at least one frame before grabbing.
        QTimer::singleShot(parser.value(settle).toInt(), &app, [&] {
            const QImage image = window->grabWindow();
            if (image.isNull() || !image.save(parser.value(out), "PNG")) {
                status = fail(QStringLiteral("无法保存“%1”。").arg(parser.value(out)));
            } else {
                std::printf("%s\n", qPrintable(parser.value(out)));
            }
            app.exit(status);
        });
    });
    deadline.start(20000);
    app.exec();
    return status;
}
