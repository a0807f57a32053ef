// Olvex Manager: the desktop window over the local add-on manager.

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QQmlApplicationEngine>
#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>
#include <cstdio>

#include "AppShell.h"
#include "OlvexVersion.h"
#include "model/AppModel.h"
#include "platform/LinuxPlatform.h"

Q_IMPORT_QML_PLUGIN(OlvexPlugin)

namespace {

constexpr int kUsage = 2;

// Qt's own help and error texts are English; these are the program's own.
const char* const kHelp = "Kelvarn · Tarnel：魔兽世界本地插件、整合包和 WTF 配置管理器。\n"
                          "\n"
                          "用法：olvex-manager [选项] [ZIP 文件]\n"
                          "\n"
                          "给出 ZIP 文件时，首次扫描后在所选版本目录中预览该整合包。\n"
                          "\n"
                          "选项：\n"
                          "  -h, --help     显示本帮助。\n"
                          "  -v, --version  显示版本号。\n";

struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")}};

    CommandLine() { parser.addOptions({help, version}); }
};

QStringList argumentsOf(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

} // namespace

int main(int argc, char* argv[]) {
    // --help and --version are answered before the window system starts, so that they work
    // without a display. Qt's own options (-platform, -style, …) are not known to this parser
    // yet; unknown options are refused only once QApplication has taken those out.
    CommandLine commandLine;
    commandLine.parser.parse(argumentsOf(argc, argv));
    if (commandLine.parser.isSet(commandLine.help)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (commandLine.parser.isSet(commandLine.version)) {
        std::printf("olvex-manager %s\n", olvex::kVersion);
        return 0;
    }

    olvex::catchTerminationSignals();
    // A QApplication, not a QGuiApplication: the open and save panels are Qt Widgets dialogs.
    QApplication app(argc, argv);
    if (!commandLine.parser.parse(app.arguments())) {
        QStringList unknown;
        for (const QString& name : commandLine.parser.unknownOptionNames()) {
            unknown << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        }
        std::fprintf(stderr, "用法错误：未知选项：%s\n运行“olvex-manager --help”查看用法。\n",
                     qPrintable(unknown.join(QStringLiteral(" "))));
        return kUsage;
    }
    olvex::configureApplication(app);
    olvex::quitOnTerminationSignals(app);

    olvex::LinuxPlatform platform;
    olvex::AppModel model(platform);
    // Opened with a ZIP (the desktop's "open with"): its preview starts in the version folder the
    // first scan selects, with the same checks as a file dropped on the window.
    if (const QStringList files = commandLine.parser.positionalArguments(); !files.isEmpty()) {
        const QString zip = QFileInfo(files.first()).absoluteFilePath();
        QObject::connect(
            model.folders(), &olvex::FolderController::scanFinished, &model,
            [&model, zip] { model.packs()->openFile(zip); }, Qt::SingleShotConnection);
    }
    QQmlApplicationEngine engine;
    if (olvex::loadMainWindow(engine, model) == nullptr) {
        return 1;
    }
    return app.exec();
}
