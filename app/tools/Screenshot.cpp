// olvex-screenshot: renders the main window over given roots and saves it as a PNG, without
// touching the user's saved roots. Used to check the window's look on machines with no display
// (QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software) or under Xvfb. `--state` first drives
// the real model into one of the states a player meets (a sheet, a dialog, an error), through
// the same commands the window's buttons call.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>

#include "AppShell.h"
#include "model/AppModel.h"
#include "platform/LinuxPlatform.h"

Q_IMPORT_QML_PLUGIN(OlvexPlugin)

namespace {

int fail(const QString& text) {
    std::fprintf(stderr, "olvex-screenshot：%s\n", qPrintable(text));
    return 1;
}

// The id of the first listed backup of `kind` ("addons" or "wtf"), or empty.
QString firstBackup(olvex::AppModel& model, olvex::BackupKind kind) {
    for (const auto& backup : model.backups()->backupList()) {
        if (backup.kind == kind) {
            return QString::fromStdString(backup.id.text());
        }
    }
    return {};
}

// What each state asks of the model once the first scan and refresh have settled.
const std::map<QString, std::function<void(olvex::AppModel&, const QString& zip)>>& states() {
    using olvex::AppModel;
    using olvex::BackupKind;
    static const std::map<QString, std::function<void(AppModel&, const QString&)>> table{
        {QStringLiteral("main"), [](AppModel&, const QString&) {}},
        {QStringLiteral("install-sheet"), [](AppModel& model, const QString& zip) { model.packs()->chooseZIP(zip); }},
        {QStringLiteral("sheet-error"),
         [](AppModel& model, const QString& zip) {
             model.packs()->chooseZIP(zip);
             QObject::connect(model.packs()->preview(), &olvex::InstallPreview::changed, &model, [&model] {
                 if (model.packs()->preview()->shown()) {
                     QTimer::singleShot(0, &model, [&model] { model.packs()->install(); });
                 }
             });
         }},
        {QStringLiteral("scope-picker"),
         [](AppModel& model, const QString&) {
             model.folders()->setGameClosed(true);
             model.backups()->chooseScope(firstBackup(model, BackupKind::wtf));
         }},
        {QStringLiteral("restore-dialog"),
         [](AppModel& model, const QString&) {
             model.folders()->setGameClosed(true);
             model.backups()->setRestoreCandidate(firstBackup(model, BackupKind::addons));
         }},
        {QStringLiteral("retired-dialog"),
         [](AppModel& model, const QString&) {
             model.folders()->setGameClosed(true);
             const auto& retired = model.packs()->retired()->rows();
             if (!retired.empty()) {
                 model.packs()->setRetiredCandidate(retired.front().retiredId);
             }
         }},
        {QStringLiteral("error-alert"),
         [](AppModel& model, const QString&) { model.backups()->chooseScope(firstBackup(model, BackupKind::addons)); }},
        {QStringLiteral("search"),
         [](AppModel& model, const QString&) { model.addons()->setQuery(QStringLiteral("dbm")); }},
        {QStringLiteral("settings"), [](AppModel&, const QString&) {}},
        // The add-on settings' health in the backup section; damaged where the tree was damaged.
        {QStringLiteral("health"), [](AppModel&, const QString&) {}},
        {QStringLiteral("repair-dialog"),
         [](AppModel& model, const QString&) {
             model.folders()->setGameClosed(true);
             const auto& damaged = model.backups()->health()->damaged()->rows();
             const auto repairable =
                 std::find_if(damaged.begin(), damaged.end(), [](const auto& row) { return row.canRepair; });
             if (repairable != damaged.end()) {
                 model.backups()->health()->setRepairCandidate(repairable->path);
             }
         }},
        {QStringLiteral("addon-scope-picker"),
         [](AppModel& model, const QString&) {
             model.folders()->setGameClosed(true);
             olvex::ScopePicker* picker = model.backups()->scopePicker();
             QObject::connect(picker, &olvex::ScopePicker::shownChanged, picker, [picker] {
                 if (picker->shown()) {
                     picker->setByAddon(true);
                 }
             });
             model.backups()->chooseScope(firstBackup(model, BackupKind::wtf));
         }},
        // A WTF backup held at its space check (see main), so the busy bar shows its stage,
        // progress and cancel button.
        {QStringLiteral("busy"),
         [](AppModel& model, const QString&) {
             model.folders()->setGameClosed(true);
             model.backups()->backup();
         }},
    };
    return table;
}

// States whose subject lies below the fold: the detail column is scrolled to the item of this
// name before the picture is taken, as the player would scroll.
const std::map<QString, QString>& scrolledTo() {
    static const std::map<QString, QString> table{
        {QStringLiteral("health"), QStringLiteral("settingsHealth")},
    };
    return table;
}

// The visual tree is walked: an item's QObject parent need not be the item it sits in.
QQuickItem* findItem(QQuickItem* item, const QString& name) {
    if (item->objectName() == name) {
        return item;
    }
    for (QQuickItem* child : item->childItems()) {
        if (QQuickItem* found = findItem(child, name)) {
            return found;
        }
    }
    return nullptr;
}

void scrollTo(QQuickWindow* window, const QString& name) {
    QQuickItem* scroll = findItem(window->contentItem(), QStringLiteral("detailScroll"));
    QQuickItem* target = findItem(window->contentItem(), name);
    if (scroll == nullptr || target == nullptr) {
        std::fprintf(stderr, "olvex-screenshot：找不到“%s”，不滚动。\n", qPrintable(name));
        return;
    }
    auto* flickable = qvariant_cast<QQuickItem*>(scroll->property("contentItem"));
    if (flickable == nullptr) {
        return;
    }
    auto* content = flickable->property("contentItem").value<QQuickItem*>();
    const qreal top = content != nullptr ? target->mapToItem(content, QPointF(0, 0)).y() : 0;
    const qreal range = flickable->property("contentHeight").toReal() - flickable->height();
    flickable->setProperty("contentY", std::clamp(top - 80, 0.0, std::max(range, 0.0)));
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
    QStringList stateNames;
    for (const auto& entry : states()) {
        stateNames.append(entry.first);
    }
    const QCommandLineOption state(QStringLiteral("state"),
                                   QStringLiteral("先进入的界面状态：%1。").arg(stateNames.join(QStringLiteral("、"))),
                                   QStringLiteral("name"), QStringLiteral("main"));
    const QCommandLineOption zip(QStringLiteral("zip"), QStringLiteral("install-sheet 与 sheet-error 预览的 ZIP。"),
                                 QStringLiteral("file"));
    parser.addOptions({out, root, saved, select, width, height, settle, state, zip});
    parser.process(app);
    if (!parser.isSet(out)) {
        return fail(QStringLiteral("缺少 --out。"));
    }
    const auto action = states().find(parser.value(state));
    if (action == states().end()) {
        return fail(QStringLiteral("未知的状态“%1”。").arg(parser.value(state)));
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

    // The "busy" state's service waits at its first space check until the picture is taken.
    QSemaphore gate;
    const bool holdOperation = parser.value(state) == QStringLiteral("busy");
    auto service = std::make_unique<olvex::ManagerService>(
        holdOperation ? olvex::ManagerService::Capacity([&gate](const olvex::Path&) {
            gate.acquire();
            return std::numeric_limits<std::int64_t>::max();
        })
                      : olvex::ManagerService::Capacity());
    struct Release {
        QSemaphore& gate;
        ~Release() { gate.release(1000); }
    };
    olvex::AppModel model(platform, {}, std::move(service));
    const Release release{gate}; // destroyed before the model, which waits for the service
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
        status = fail(QStringLiteral("等待界面稳定超时。"));
        app.exit(status);
    });
    // Grabs once the model has settled: no scan, operation or refresh is still under way.
    QTimer poll;
    poll.setInterval(50);
    const auto grab = [&] {
        const bool held = holdOperation && model.operation()->canCancel();
        if (!held && (model.operation()->busy() || model.folders()->refreshing())) {
            return;
        }
        poll.stop();
        deadline.stop();
        if (const auto scrolled = scrolledTo().find(parser.value(state)); scrolled != scrolledTo().end()) {
            scrollTo(window, scrolled->second);
        }
        // Let the scene take the new state and draw at least one frame before grabbing.
        QTimer::singleShot(parser.value(settle).toInt(), &app, [&] {
            // The settings state shows, and saves, the settings window instead of the main one.
            QQuickWindow* shown = window;
            if (parser.value(state) == QStringLiteral("settings")) {
                shown = window->findChild<QQuickWindow*>(QStringLiteral("settingsWindow"));
            }
            const QImage image = shown != nullptr ? shown->grabWindow() : QImage();
            if (image.isNull() || !image.save(parser.value(out), "PNG")) {
                status = fail(QStringLiteral("无法保存“%1”。").arg(parser.value(out)));
            } else {
                std::printf("%s\n", qPrintable(parser.value(out)));
            }
            app.exit(status);
        });
    };
    QObject::connect(&poll, &QTimer::timeout, &app, grab);
    bool started = false;
    QTimer begin;
    begin.setInterval(50);
    QObject::connect(&begin, &QTimer::timeout, &app, [&] {
        if (!started || model.operation()->busy() || model.folders()->refreshing()) {
            return;
        }
        begin.stop();
        action->second(model, QDir::current().absoluteFilePath(parser.value(zip)));
        if (auto* settings = window->findChild<QQuickWindow*>(QStringLiteral("settingsWindow"));
            settings != nullptr && parser.value(state) == QStringLiteral("settings")) {
            settings->show();
        }
        // The action's operation starts at once or not at all; give its answer a moment to land.
        QTimer::singleShot(100, &app, [&] { poll.start(); });
    });
    QObject::connect(model.folders(), &olvex::FolderController::scanFinished, &app, [&] {
        if (parser.isSet(select)) {
            model.folders()->setSelectionText(QDir::cleanPath(QDir::current().absoluteFilePath(parser.value(select))));
        }
        started = true;
    });
    begin.start();
    deadline.start(20000);
    app.exec();
    return status;
}
