#include <QAbstractItemModelTester>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string_view>

#include "fs/Sys.h"
#include "model/AppModel.h"
#include "model/Rows.h"
#include "packs/PackRegistry.h"
#include "support/FakePlatform.h"
#include "support/GameFixture.h"
#include "support/QtPrint.h"

using namespace olvex;
using namespace olvex::test;

namespace {

using Names = std::vector<std::string>;
const QString kTickTheBox = QStringLiteral("请先退出魔兽世界，并勾选确认。");
const QString kGameRunning = QStringLiteral("检测到魔兽世界仍在运行，请完全退出游戏。");
const RunningApplication kBrowser{Path("/opt/firefox"), Path("/opt/firefox/firefox"), "Firefox"};
const RunningApplication kGame{std::nullopt, Path("/wine/drive_c/Wow.exe"), std::nullopt};

// The model over a real service on a fixture's game folder. Every list it shows is watched by a
// model tester from before its first row, so every test also checks the lists' change signals.
struct Harness {
    GameFixture game;
    FakePlatform platform;
    // While set, the service's free-space checks (made before any commit) wait.
    std::atomic<bool> holdSpaceCheck = false;
    std::unique_ptr<AppModel> model;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;

    explicit Harness(const Names& flavors = {"_retail_"}) {
        for (const auto& flavor : flavors) {
            game.root(flavor);
        }
    }
    // Creates the model and scans the game folder, which selects the first version folder.
    AppModel& open() {
        platform.roots = {game.game};
        auto space = [this](const Path&) {
            while (holdSpaceCheck) {
                QThread::msleep(1);
            }
            return std::int64_t{1} << 40;
        };
        model = std::make_unique<AppModel>(
            platform, AppModel::Scanner{},
            std::make_unique<ManagerService>(space, ManagerService::Hook{}, game.temporary()));
        for (QAbstractItemModel* list : std::initializer_list<QAbstractItemModel*>{
                 model->folders()->clients(), model->addons(), model->packs()->installed(), model->packs()->retired(),
                 model->backups()->list(), model->backups()->scopePicker()->scopes(),
                 model->backups()->scopePicker()->addons(), model->backups()->health()->damaged(),
                 model->packs()->preview()->addons()}) {
            testers.push_back(std::make_unique<QAbstractItemModelTester>(
                list, QAbstractItemModelTester::FailureReportingMode::Fatal));
        }
        model->folders()->scan();
        EXPECT_TRUE(settle());
        return *model;
    }
    // Waits until no scan, operation or refresh is under way.
    bool settle() const {
        return QTest::qWaitFor([&] { return !model->operation()->busy() && !model->folders()->refreshing(); }, 10000);
    }
    // Waits likewise, then what the player reads: the error when one is shown, else the message.
    QString outcome() const {
        EXPECT_TRUE(settle());
        return model->operation()->hasError() ? model->operation()->errorText() : model->operation()->message();
    }
};

Names folders(const std::vector<InstalledAddon>& addons) {
    Names names;
    for (const auto& addon : addons) {
        names.push_back(addon.folder.filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

QStringList column(const QAbstractItemModel* rows, const QByteArray& role) {
    const int key = rows->roleNames().key(role, -1);
    QStringList values;
    for (int row = 0; row < rows->rowCount(); ++row) {
        values.append(rows->data(rows->index(row, 0), key).toString());
    }
    return values;
}

QString idOf(const LocalBackup& backup) {
    return QString::fromStdString(backup.id.text());
}

// The log lines from `from` on, without their timestamps.
QStringList logTexts(AppModel& model, qsizetype from = 0) {
    QStringList texts;
    for (const QString& line : model.operation()->events().mid(from)) {
        texts.append(line.section(QLatin1Char(' '), 1));
    }
    return texts;
}

} // namespace

// While the scanner runs elsewhere commands are ignored; a model destroyed meanwhile is left alone.
TEST(AppModel, ScanRunsOffTheMainThreadAndCommandsWaitForIt) {
    QSemaphore release;
    std::atomic<QThread*> scanThread = nullptr;
    std::vector<Path> scannedRoots;
    FakePlatform platform;
    platform.roots = {"/default/one", "/default/two"};
    platform.store[AppModel::savedKey] = QStringList{"/saved"};
    auto model = std::make_unique<AppModel>(platform, [&](const std::vector<Path>& roots) {
        scanThread = QThread::currentThread();
        scannedRoots = roots;
        release.acquire();
        return ScanReport{};
    });
    bool finished = false;
    QObject::connect(model->folders(), &FolderController::scanFinished, [&] { finished = true; });
    model->folders()->scan();
    ASSERT_TRUE(QTest::qWaitFor([&] { return scanThread != nullptr; }, 5000)); // after the staging clean-up
    model->folders()->scan(QStringLiteral("/ignored"));
    model->folders()->forgetRoot(QStringLiteral("/saved"));
    platform.nextChoice = QStringLiteral("/ignored");
    model->folders()->chooseGame();
    EXPECT_EQ(platform.writes, 1); // the first scan's own write, and no other
    EXPECT_EQ(platform.store.value(AppModel::savedKey), QStringList{"/saved"});

    model.reset();
    release.release();
    QThreadPool::globalInstance()->waitForDone();
    QTest::qWait(50); // lets the watcher resume the scan task, which must not touch the model
    EXPECT_FALSE(finished);
    EXPECT_NE(scanThread, QThread::currentThread());
    EXPECT_EQ(scannedRoots, (std::vector<Path>{"/default/one", "/default/two", "/saved"}));
}

// Without plain roots the window searches where the user's launchers keep the game, and each row
// says which one keeps it.
TEST(AppModel, TheDefaultScanSearchesTheUsersWinePrefixAndNamesItsSource) {
    GameFixture home;
    const Path retail = home.dir.path() / ".wine/drive_c/Program Files (x86)/World of Warcraft/_retail_";
    std::filesystem::create_directories(retail);
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QByteArray::fromStdString(home.dir.path().native()));
    for (const char* variable : {"WINEPREFIX", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
        qunsetenv(variable);
    }
    FakePlatform platform;
    platform.roots = std::nullopt;
    AppModel model(platform);
    model.folders()->scan();
    const bool scanned = QTest::qWaitFor([&] { return model.folders()->clients()->rowCount() > 0; }, 10000);
    qputenv("HOME", savedHome);
    ASSERT_TRUE(scanned);
    const QModelIndex row = model.folders()->clients()->index(0);
    EXPECT_EQ(row.data(ClientListModel::PathRole).toString(), toQString(retail));
    EXPECT_EQ(row.data(ClientListModel::SourceRole).toString(), QStringLiteral("Wine"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model.operation()->busy() && !model.folders()->refreshing(); }, 10000));
}

TEST(AppModel, ScanMessageNamesEachKindOfTroubleInOrder) {
    EXPECT_EQ(
        scanMessage(
            {{GameClient("/g/_retail_"), GameClient("/g/_classic_")}, {"/a", "/b"}, {"/x", "/y", "/z"}, true, {}, {}},
            {"/b", "/c"}),
        "找到 2 个版本目录。扫描范围有限，其他位置请手动选择。 有 3 个位置无法访问，请检查权限。 "
        "已达到扫描深度或数量上限，请手动选择。 有 1 个已保存位置不存在或磁盘离线。");
}

// A pack import previews, is refused until the box is ticked (the preview stays, nothing is
// written), then installs and refreshes every list; a newer release retires what it drops.
TEST(AppModel, PackImportInstallsOnlyWithTheBoxTickedAndRefreshesTheLists) {
    Harness h;
    h.game.addAddon("Beta");
    h.game.addAddon("Keep");
    AppModel& model = h.open();
    model.packs()->chooseZIP(toQString(h.game.pack("pack.zip", {"Alpha", "Beta", "Gamma"}, "1.0")));
    ASSERT_TRUE(h.settle());
    ASSERT_TRUE(model.packs()->preview()->shown()) << model.operation()->errorText().toStdString();
    EXPECT_EQ(model.operation()->message(), "整合包已验证，请核对安装预览。");
    EXPECT_EQ(column(model.packs()->preview()->addons(), "status"), (QStringList{"新增", "替换", "新增"}));

    const auto before = snapshotTree(h.game.root());
    model.packs()->install();
    EXPECT_EQ(h.outcome(), kTickTheBox);
    EXPECT_TRUE(model.packs()->preview()->shown());
    EXPECT_EQ(snapshotTree(h.game.root()), before);

    model.folders()->setGameClosed(true);
    model.packs()->install();
    EXPECT_EQ(h.outcome(), "已安装 3 个插件。同名插件已替换，其余插件和 WTF 配置已保留。");
    EXPECT_FALSE(model.packs()->preview()->shown());
    EXPECT_EQ(model.packs()->preview()->addons()->rowCount(), 0);
    EXPECT_EQ(readFile(h.game.addons() / "Beta/core.lua"), "-- Beta 1.0");
    EXPECT_EQ(folders(model.addons()->addonList()), (Names{"Alpha", "Beta", "Gamma", "Keep"}));
    EXPECT_EQ(model.addons()->rowCount(), 4);
    EXPECT_EQ(column(model.packs()->installed(), "heading"), QStringList{"测试整合包 · 1.0"});
    EXPECT_EQ(column(model.backups()->list(), "reason"), QStringList{"安装 pack.zip 前自动备份"});
    EXPECT_EQ(logTexts(model),
              (QStringList{"导入 ZIP：开始", "正在解压", "正在校验", "导入 ZIP：成功", "安装插件：开始",
                           "安装插件：失败；请在界面查看详情", "安装插件：开始", "正在校验", "正在准备文件", "正在备份",
                           "正在提交，请勿退出", "操作完成", "安装插件：成功"}));

    model.packs()->chooseZIP(toQString(h.game.pack("pack-2.zip", {"Alpha", "Beta"}, "2.0")));
    ASSERT_TRUE(h.settle());
    model.packs()->install();
    EXPECT_EQ(h.outcome(), "已安装 2 个插件。同名插件已替换，其余插件和 WTF 配置已保留。");
    EXPECT_EQ(column(model.packs()->retired(), "name"), QStringList{"Gamma"});
    EXPECT_EQ(column(model.packs()->installed(), "heading"), QStringList{"测试整合包 · 2.0"});
}

// Cancelled before its commit, an install leaves the add-on folder as it was and the model idle.
TEST(AppModel, CancelledInstallChangesNothingAndResetsTheOperation) {
    Harness h;
    h.game.addAddon("Beta");
    AppModel& model = h.open();
    model.packs()->chooseZIP(toQString(h.game.pack("pack.zip", {"Alpha", "Beta"})));
    ASSERT_TRUE(h.settle());
    const auto before = snapshotTree(h.game.addons());
    model.folders()->setGameClosed(true);
    h.holdSpaceCheck = true; // the service cannot reach its commit before the cancel
    model.packs()->install();
    model.operation()->cancelOperation();
    EXPECT_FALSE(model.operation()->canCancel());
    h.holdSpaceCheck = false;
    EXPECT_EQ(h.outcome(), "已取消，游戏文件保持操作前状态。");
    EXPECT_FALSE(model.operation()->hasError()) << model.operation()->errorText().toStdString();
    EXPECT_FALSE(model.operation()->busy());
    EXPECT_FALSE(model.operation()->stage());
    EXPECT_FALSE(model.operation()->canCancel());
    EXPECT_FALSE(model.operation()->operation());
    EXPECT_FALSE(model.operation()->operationID());
    EXPECT_EQ(logTexts(model).last(), "安装插件：取消");
    EXPECT_EQ(snapshotTree(h.game.addons()), before);
}

// The control of an ended operation may still be held (and report) elsewhere: its reports
// change nothing, neither when idle nor during a later operation.
TEST(AppModel, StageReportsOfAnEndedOperationAreIgnored) {
    Harness h;
    h.game.addCharacter("ACC", "Realm", "Hero", "x");
    AppModel& model = h.open();
    model.folders()->setGameClosed(true);
    model.backups()->backup();
    const std::shared_ptr<OperationControl> ended = model.operation()->operation();
    ASSERT_TRUE(ended);
    ASSERT_TRUE(h.settle());
    const auto logged = model.operation()->events().size();

    ended->report(OperationStage::committing);
    QTest::qWait(20);
    EXPECT_FALSE(model.operation()->stage());
    EXPECT_EQ(model.operation()->events().size(), logged);

    model.backups()->retainRecent(); // reports no stage of its own
    ended->report(OperationStage::committing);
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(logTexts(model, logged), (QStringList{"保留最近备份：开始", "保留最近备份：成功"}));
}

#ifdef OLVEX_FAULT_INJECTION
// Refreshes of a folder the user has just left answer after the new folder's refresh started:
// neither their lists nor their failure may reach the window.
TEST(AppModel, RefreshOfAFolderLeftMidwayLeavesTheNewFolderAlone) {
    Harness h({"_classic_", "_retail_"});
    h.game.addAddon("ClassicOne", "_classic_");
    h.game.addAddon("RetailOne", "_retail_");
    AppModel& model = h.open();
    const QString classic = toQString(h.game.root("_classic_")), retail = toQString(h.game.root("_retail_"));
    ASSERT_EQ(model.folders()->selectionText(), classic);
    std::vector<Names> shown;
    QObject::connect(model.addons(), &AddonFilterModel::addonsChanged,
                     [&] { shown.push_back(folders(model.addons()->addonList())); });
    // The service's thread waits at its first file-system call until the user has left the
    // folder: a quick service could otherwise answer the whole refresh before the switch.
    const auto visitRetail = [&] {
        std::atomic<bool> hold = true;
        sys::fault::Plan plan;
        plan.onCall = [&hold](long, const char*) {
            while (hold) {
                QThread::msleep(1);
            }
        };
        sys::fault::arm(plan);
        model.folders()->setSelectionText(retail);
        model.folders()->setSelectionText(classic);
        hold = false;
        const bool settled = h.settle();
        sys::fault::disarm();
        return settled;
    };

    ASSERT_TRUE(visitRetail());
    EXPECT_EQ(shown, std::vector<Names>{Names{"ClassicOne"}});

    makeDirs(h.game.addons("_retail_") / kRegistryName); // its refresh now fails
    shown.clear();
    ASSERT_TRUE(visitRetail());
    EXPECT_FALSE(model.operation()->hasError()) << model.operation()->errorText().toStdString();
    EXPECT_EQ(shown, std::vector<Names>{Names{"ClassicOne"}});
}
#endif

// Two backups of an unchanged WTF share every file: each row says that removing it alone frees
// nothing, and the store's line counts the shared content once.
TEST(AppModel, BackupRowsSayWhatRemovingEachFreesAndTheStoreLineCountsSharedFilesOnce) {
    Harness h;
    writeFile(h.game.wtf() / "Account/ACC/SavedVariables/A.lua", std::string(3072, 'x'));
    h.game.snapshot(BackupKind::wtf);
    h.game.snapshot(BackupKind::wtf);
    AppModel& model = h.open();
    EXPECT_EQ(column(model.backups()->list(), "size"), QStringList(2, QStringLiteral("3.0 KB · 删除可释放 0 字节")));
    EXPECT_EQ(model.backups()->storeText(), QStringLiteral("共 2 份备份，实际占用 3.0 KB（未改动的文件由各备份共用）"));
}

// A failed refresh shows its error and empties the backups, which cannot be trusted any more;
// the other lists stay as they were.
TEST(AppModel, RefreshFailureEmptiesOnlyTheBackups) {
    Harness h;
    h.game.addAddon("Kept");
    h.game.addCharacter("ACC", "Realm", "Hero", "x");
    h.game.snapshot(BackupKind::wtf);
    AppModel& model = h.open();
    ASSERT_EQ(model.backups()->list()->rowCount(), 1);

    h.game.addAddon("Later");
    const Path registry = h.game.addons() / kRegistryName;
    makeDirs(registry); // installedAddons succeeds, installedPacks refuses a folder
    model.folders()->refresh();
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(model.operation()->errorText().toStdString(), "拒绝链接或特殊文件：" + registry.native());
    EXPECT_TRUE(model.backups()->backupList().empty());
    EXPECT_EQ(model.backups()->list()->rowCount(), 0);
    EXPECT_EQ(folders(model.addons()->addonList()), Names{"Kept"});
    EXPECT_EQ(model.addons()->rowCount(), 1);
}

// The scope picker lists a configuration backup's scopes with the first chosen; confirming
// restores only the chosen character. An add-on backup has no scopes and opens no picker.
TEST(AppModel, ScopePickerRestoresOnlyTheChosenScope) {
    Harness h;
    h.game.addCharacter("ACC", "Realm", "Hero", "old");
    h.game.addCharacter("ACC", "Realm", "Other", "old");
    const LocalBackup wtf = h.game.snapshot(BackupKind::wtf), addons = h.game.snapshot(BackupKind::addons);
    AppModel& model = h.open();

    model.backups()->chooseScope(idOf(addons));
    EXPECT_EQ(h.outcome(), "备份中没有可选择的账号或角色目录，可使用整目录恢复。");
    EXPECT_FALSE(model.backups()->scopePicker()->shown());

    model.backups()->chooseScope(idOf(wtf));
    ASSERT_TRUE(h.settle());
    EXPECT_FALSE(model.operation()->hasError()) << model.operation()->errorText().toStdString();
    EXPECT_TRUE(model.backups()->scopePicker()->shown());
    EXPECT_EQ(column(model.backups()->scopePicker()->scopes(), "relativePath"),
              (QStringList{"Account/ACC", "Account/ACC/Realm", "Account/ACC/Realm/Hero", "Account/ACC/Realm/Other"}));
    EXPECT_EQ(model.backups()->scopePicker()->selectionText(), "Account/ACC");

    const Path realm = h.game.wtf() / "Account/ACC/Realm";
    writeFile(realm / "Hero/AddOns.txt", "new");
    writeFile(realm / "Other/AddOns.txt", "new");
    model.backups()->scopePicker()->setSelectionText(QStringLiteral("Account/ACC/Realm/Hero"));
    model.folders()->setGameClosed(true);
    model.backups()->confirmScope();
    EXPECT_FALSE(model.backups()->scopePicker()->shown());
    EXPECT_EQ(h.outcome(), "已恢复WTF 配置，恢复前的状态也已自动备份。");
    EXPECT_EQ(readFile(realm / "Hero/AddOns.txt"), "old");
    EXPECT_EQ(readFile(realm / "Other/AddOns.txt"), "new");
    EXPECT_EQ(model.backups()->list()->rowCount(), 3); // with the one taken before the restore
}

// The add-on settings' health follows every refresh; a damaged file's repair is confirmed with
// its source and date, refused (changing nothing) without the box, and checked again after.
TEST(AppModel, SettingsHealthAfterEachRefreshAndItsConfirmedRepair) {
    Harness h;
    const Path account = h.game.wtf() / "Account/ACC/SavedVariables";
    const Path hero = h.game.wtf() / "Account/ACC/Realm/Hero/SavedVariables";
    writeFile(account / "Details.lua", "DetailsDB = {}\n");
    writeFile(hero / "WeakAuras.lua", "WeakAurasSaved = {}\n");
    AppModel& model = h.open();
    SettingsHealth* health = model.backups()->health();
    EXPECT_EQ(health->summary(), "插件配置完好（2 个文件）");
    EXPECT_EQ(health->damaged()->rowCount(), 0);

    writeFile(hero / "WeakAuras.lua", "WeakAurasSaved = {\n  [\"d\"] = \"cut");
    writeFile(hero / "WeakAuras.lua.bak", "WeakAurasSaved = { 1 }\n");
    const auto bakDate = QFileInfo(toQString(hero / "WeakAuras.lua.bak")).lastModified();
    model.folders()->refresh();
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(health->summary(), "1 个插件配置文件已损坏（共 2 个）");
    const QString path = QStringLiteral("WTF/Account/ACC/Realm/Hero/SavedVariables/WeakAuras.lua");
    const QString source = QStringLiteral("游戏自动保存的 .bak 副本（") +
                           QLocale().toString(bakDate, QStringLiteral("yyyy年M月d日 HH:mm")) + QStringLiteral("）");
    EXPECT_EQ(column(health->damaged(), "path"), QStringList{path});
    EXPECT_EQ(column(health->damaged(), "state"), QStringList{"内容被截断（第 2 行）"});
    EXPECT_EQ(column(health->damaged(), "place"), QStringList{"角色 ACC / Realm / Hero"});
    EXPECT_EQ(column(health->damaged(), "source"), QStringList{"修复来源：" + source});

    health->setRepairCandidate(path);
    EXPECT_EQ(health->repairTitle(), "修复插件配置？");
    EXPECT_EQ(health->repairMessage(), "将用" + source + "替换“" + path +
                                           "”（内容被截断（第 2 行））。\n修复前会先备份整个 "
                                           "WTF（损坏的文件也保留在备份中），其他文件不变。请确认游戏已退出。");
    health->confirmRepair();
    EXPECT_EQ(h.outcome(), kTickTheBox);
    EXPECT_EQ(readFile(hero / "WeakAuras.lua"), "WeakAurasSaved = {\n  [\"d\"] = \"cut");
    model.operation()->dismissError();

    model.folders()->setGameClosed(true);
    health->setRepairCandidate(path);
    health->confirmRepair();
    EXPECT_EQ(h.outcome(), "已修复 1 个插件配置文件（修复前的 WTF 已自动备份）。");
    EXPECT_EQ(readFile(hero / "WeakAuras.lua"), "WeakAurasSaved = { 1 }\n");
    EXPECT_EQ(health->summary(), "插件配置完好（2 个文件）");
    EXPECT_EQ(model.backups()->list()->rowCount(), 1); // the WTF backup taken first
}

// A check that takes longer than a moment shows how far it has come, and the result after.
TEST(AppModel, SettingsHealthShowsDeterminateProgressWhenItTakesLonger) {
    Harness h;
    writeFile(h.game.wtf() / "Account/ACC/SavedVariables/Details.lua", "DetailsDB = {}\n");
    AppModel& model = h.open();
    SettingsHealth* health = model.backups()->health();
    // The service's thread waits at its first read until the progress has shown.
    std::atomic<bool> hold = true;
    sys::fault::Plan plan;
    plan.onCall = [&hold](long, const char* name) {
        while (hold && std::string_view(name) == "read") {
            QThread::msleep(1);
        }
    };
    writeFile(h.game.wtf() / "Account/ACC/SavedVariables/Details.lua", "DetailsDB = { 1 }\n"); // not cached
    sys::fault::arm(plan);
    model.folders()->refresh();
    const bool shown = QTest::qWaitFor([&] { return health->showsProgress(); }, 5000);
    const double progress = health->progress();
    const QString text = health->progressText();
    hold = false;
    const bool settled = h.settle();
    sys::fault::disarm();
    ASSERT_TRUE(shown);
    EXPECT_EQ(progress, 0.0); // the total known, nothing read yet
    EXPECT_EQ(text, "正在检查插件配置… 0%");
    ASSERT_TRUE(settled);
    EXPECT_FALSE(health->showsProgress());
    EXPECT_EQ(health->summary(), "插件配置完好（1 个文件）");
}

// Old files an installation replaced and could not delete are named under the status line until
// the next operation starts.
TEST(AppModel, OldFilesThatCouldNotBeDeletedAreToldUntilTheNextOperation) {
    Harness h;
    writeFile(h.game.addons() / "Alpha/old.lua", "old");
    AppModel& model = h.open();
    sys::fault::Plan plan;
    plan.inject = [](const sys::fault::Call& call) {
        return std::string_view(call.name) == "unlinkat" && std::string_view(call.path) == "old.lua" ? EPERM : 0;
    };
    sys::fault::arm(plan);
    model.folders()->setGameClosed(true);
    model.packs()->chooseZIP(toQString(h.game.pack("pack.zip", {"Alpha"})));
    ASSERT_TRUE(h.settle());
    model.packs()->install();
    ASSERT_TRUE(h.settle());
    // The deletion runs in the background; a later refresh hears of its failure.
    const bool told = QTest::qWaitFor(
        [&] {
            if (!model.folders()->hasOldFiles() && !model.folders()->refreshing()) {
                model.folders()->refresh();
            }
            return model.folders()->hasOldFiles();
        },
        5000);
    sys::fault::disarm();
    ASSERT_TRUE(told);
    std::vector<Path> trash;
    for (const auto& entry : fs::directory_iterator(h.game.root() / ".olvex-manager")) {
        if (entry.path().filename().native().starts_with("trash-")) {
            trash.push_back(entry.path());
        }
    }
    ASSERT_EQ(trash.size(), 1u);
    EXPECT_EQ(model.folders()->oldFilesText(),
              "被替换的旧文件未能全部删除，仍占用磁盘空间（之后的操作会再试）：\n" + toQString(trash.front()));
    model.backups()->backup();
    EXPECT_FALSE(model.folders()->hasOldFiles());
    ASSERT_TRUE(h.settle());
}

// By add-on, the scope picker restores that add-on's settings at every level and leaves every
// other file as it is.
TEST(AppModel, ScopePickerByAddonRestoresOnlyThatAddonsSettings) {
    Harness h;
    const Path account = h.game.wtf() / "Account/ACC/SavedVariables";
    const Path hero = h.game.wtf() / "Account/ACC/Realm/Hero/SavedVariables";
    for (const Path& folder : {account, hero}) {
        writeFile(folder / "Alpha.lua", "AlphaDB = { old = true }\n");
        writeFile(folder / "Beta.lua", "BetaDB = { old = true }\n");
    }
    const LocalBackup wtf = h.game.snapshot(BackupKind::wtf);
    for (const Path& folder : {account, hero}) {
        writeFile(folder / "Alpha.lua", "AlphaDB = {}\n");
        writeFile(folder / "Beta.lua", "BetaDB = {}\n");
    }
    AppModel& model = h.open();
    ScopePicker* picker = model.backups()->scopePicker();
    model.backups()->chooseScope(idOf(wtf));
    ASSERT_TRUE(h.settle());
    ASSERT_TRUE(picker->shown());
    picker->setByAddon(true);
    EXPECT_EQ(column(picker->addons(), "name"), (QStringList{"Alpha", "Beta"}));
    EXPECT_EQ(picker->selectionText(), ""); // every account and character
    picker->setAddonSelectionText(QStringLiteral("Alpha"));
    auto expected = snapshotTree(h.game.wtf());
    expected["Account/ACC/SavedVariables/Alpha.lua"] = "AlphaDB = { old = true }\n";
    expected["Account/ACC/Realm/Hero/SavedVariables/Alpha.lua"] = "AlphaDB = { old = true }\n";
    model.folders()->setGameClosed(true);
    model.backups()->confirmScope();
    EXPECT_EQ(h.outcome(), "已恢复插件“Alpha”的配置，其余文件未改动（恢复前的 WTF 已自动备份）。");
    EXPECT_EQ(snapshotTree(h.game.wtf()), expected);
}

// An exported configuration backup (proposed as kind-UUID.olvexbackup, possible while the game
// runs) imports back after confirmation and brings the configuration of its time.
TEST(AppModel, ExportedBackupImportsBack) {
    Harness h;
    h.game.addCharacter("ACC", "Realm", "Hero", "old");
    const LocalBackup wtf = h.game.snapshot(BackupKind::wtf);
    const auto exported = snapshotTree(h.game.wtf());
    AppModel& model = h.open();
    const Path out = h.game.dir / "out.olvexbackup";
    h.platform.nextChoice = toQString(out);
    h.platform.running = {kGame};
    model.backups()->exportBackup(idOf(wtf));
    ASSERT_TRUE(h.settle());
    EXPECT_FALSE(model.operation()->hasError()) << model.operation()->errorText().toStdString();
    EXPECT_EQ(h.platform.proposedNames, QStringList{"wtf-" + idOf(wtf).toUpper() + ".olvexbackup"});
    EXPECT_EQ(model.operation()->message(), "备份已导出。请妥善保管，可将 WTF 备份复制到另一台电脑后导入。");

    writeFile(h.game.wtf() / "Account/ACC/Realm/Hero/AddOns.txt", "changed");
    writeFile(h.game.wtf() / "Config.wtf", "later");
    h.platform.running = {};
    model.backups()->chooseConfiguration();
    EXPECT_TRUE(model.backups()->hasImportCandidate());
    model.folders()->setGameClosed(true);
    model.backups()->confirmImport();
    EXPECT_FALSE(model.backups()->hasImportCandidate());
    EXPECT_EQ(h.outcome(), "配置已校验并导入，原配置已自动备份。");
    EXPECT_EQ(snapshotTree(h.game.wtf()), exported);
    EXPECT_EQ(model.backups()->list()->rowCount(), 2);
}

// Moving backups aside and back needs neither a closed game nor the ticked box.
TEST(AppModel, RecycleRetainAndRecoverWorkWhileTheGameRuns) {
    Harness h;
    h.game.addCharacter("ACC", "Realm", "Hero", "x");
    h.game.snapshot(BackupKind::wtf);
    h.game.snapshot(BackupKind::wtf);
    AppModel& model = h.open();
    h.platform.running = {kGame};
    ASSERT_EQ(model.backups()->backupList().size(), 2u);
    const LocalBackup first = model.backups()->backupList().front();

    model.backups()->setRecycleCandidate(idOf(first));
    model.backups()->confirmRecycle();
    EXPECT_FALSE(model.backups()->hasRecycleCandidate());
    EXPECT_EQ(h.outcome(), "备份已移入可恢复区，仍占磁盘空间。确认无需保留后可在文件管理器中清理。");
    EXPECT_EQ(model.backups()->list()->rowCount(), 1);
    EXPECT_TRUE(fs::exists(h.game.root() / ".olvex-manager/recycled-backups" / first.id.text()));

    model.backups()->retainRecent();
    EXPECT_EQ(h.outcome(), "每类保留最近 5 份，其余已移入可恢复区（仍占磁盘空间）。");
    EXPECT_EQ(model.backups()->list()->rowCount(), 1);

    model.backups()->recoverRecycled();
    EXPECT_EQ(h.outcome(), "已恢复可恢复区中的备份。");
    EXPECT_EQ(model.backups()->list()->rowCount(), 2);
}

// The log keeps its last 100 lines in the store, stamped in UTC; the export is the header and
// the lines byte for byte, replacing an older file; a failed export shows its error.
TEST(AppModel, LogKeepsTheLast100LinesAndExportsThemExactly) {
    const QString header =
        QStringLiteral("KelvarnTarnel · 本地操作日志\n仅记录阶段与结果，不含路径、账号、WTF 内容或错误原文。\n");
    const QString key = QString::fromLatin1(OperationLog::storeKey);
    Harness h;
    QStringList old;
    for (int i = 0; i < 100; ++i) {
        old.append(QStringLiteral("2026-03-01T08:15:02Z 旧记录 %1").arg(i));
    }
    h.platform.store[key] = old;
    AppModel& model = h.open();
    model.backups()->retainRecent(); // logs two lines
    ASSERT_TRUE(h.settle());
    const QStringList stored = h.platform.store.value(key).value_or(QStringList());
    EXPECT_EQ(stored, model.operation()->events());
    ASSERT_EQ(stored.size(), 100);
    EXPECT_EQ(stored.mid(0, 98), old.mid(2));
    const QRegularExpression stamped(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ) 保留最近备份：(开始|成功)$"));
    for (const QString& line : stored.mid(98)) {
        const auto match = stamped.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        const auto time = QDateTime::fromString(match.captured(1), Qt::ISODate);
        EXPECT_LT(std::abs(time.secsTo(QDateTime::currentDateTimeUtc())), 60);
    }

    const Path file = h.game.dir / "log.txt";
    writeFile(file, "an older, longer export that must not survive in any part");
    h.platform.nextChoice = toQString(file);
    model.operation()->exportLog();
    const std::string expected = (header + stored.join(QLatin1Char('\n'))).toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return readFile(file) == expected; }, 5000)) << readFile(file);

    FakePlatform empty;
    AppModel fresh(empty);
    empty.nextChoice = toQString(h.game.dir / "empty.txt");
    fresh.operation()->exportLog();
    EXPECT_TRUE(QTest::qWaitFor([&] { return fs::exists(h.game.dir / "empty.txt"); }, 5000));
    EXPECT_EQ(readFile(h.game.dir / "empty.txt"), header.toStdString());

    h.platform.nextChoice = toQString(h.game.dir / "missing/log.txt");
    model.operation()->exportLog();
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.operation()->hasError(); }, 5000));
    EXPECT_TRUE(model.operation()->errorText().endsWith("文件或目录不存在。"))
        << model.operation()->errorText().toStdString();
}

// Each rule that makes a program count as the game refuses a changing command once the box is
// ticked; an unticked box refuses before any process is looked at.
TEST(AppModel, GameRunningRefusesByEachRule) {
    Harness h({"_classic_", "_retail_"});
    h.game.addCharacter("ACC", "Realm", "Hero", "x", "_classic_");
    AppModel& model = h.open();
    model.folders()->setGameClosed(true);
    const std::vector<std::pair<const char*, RunningApplication>> cases = {
        {"Windows executable", kGame},
        {"executable without extension", {std::nullopt, Path("/opt/game/WoWClassicB"), "Launcher"}},
        {"name", {std::nullopt, Path("/usr/bin/wine64"), "World of WarCraft"}},
        {"Chinese name", {std::nullopt, std::nullopt, "魔兽世界"}},
        {"bundle in another version folder", {h.game.root("_retail_") / "Tools/Helper", Path("/x/helper"), "Helper"}},
    };
    for (const auto& [rule, application] : cases) {
        SCOPED_TRACE(rule);
        h.platform.running = {kBrowser, application};
        model.backups()->backup();
        EXPECT_EQ(h.outcome(), kGameRunning);
    }
    EXPECT_TRUE(model.backups()->backupList().empty());

    h.platform.running = {kBrowser};
    model.backups()->backup();
    ASSERT_TRUE(h.settle());
    EXPECT_FALSE(model.operation()->hasError()) << model.operation()->errorText().toStdString();
    EXPECT_EQ(model.backups()->list()->rowCount(), 1);

    model.folders()->setGameClosed(false);
    h.platform.processReads = 0;
    model.backups()->backup();
    EXPECT_EQ(h.outcome(), kTickTheBox);
    EXPECT_EQ(h.platform.processReads, 0);
}

#ifdef OLVEX_FAULT_INJECTION
// Over a real copy, the progress read on the main thread never falls within a stage and shows
// the copy complete before the next stage starts.
// A restore copies the backup, then backs up what it replaces: one bar over both copies, which
// is about half full when the second starts, never falls, and reaches one.
TEST(AppModel, ProgressIsOneBarOverTheWholeOperation) {
    Harness h;
    for (int i = 0; i < 4; ++i) {
        writeFile(h.game.wtf() / ("Account/ACC/SavedVariables/Big" + std::to_string(i) + ".lua"),
                  std::string(10 << 20, 'x'));
    }
    const LocalBackup backup = h.game.snapshot(BackupKind::wtf);
    AppModel& model = h.open();
    model.folders()->setGameClosed(true);
    // The readings come at a steady rate; whenever a step's copy is complete the service waits
    // (once per position, 2 s at most) until the model shows where the whole operation stands.
    std::atomic<OperationControl*> control = nullptr;
    std::atomic<double> shown = -1;
    std::atomic<std::int64_t> waitedAt = -1;
    sys::fault::Plan plan;
    plan.onCall = [&](long, const char*) {
        OperationControl* running = control;
        const auto step = running == nullptr ? OperationControl::Progress{} : running->progress();
        if (step.total <= 0 || step.done < step.total) {
            return;
        }
        const auto whole = running->overall();
        if (whole.total <= 0 || waitedAt.exchange(whole.done) == whole.done) {
            return;
        }
        const double share = static_cast<double>(whole.done) / static_cast<double>(whole.total);
        for (int i = 0; i < 200 && std::abs(shown - share) > 1e-9; ++i) {
            QThread::msleep(10);
        }
    };
    sys::fault::arm(plan);
    std::vector<std::pair<std::optional<OperationStage>, double>> readings;
    QObject::connect(model.operation(), &OperationStatus::progressChanged, [&] {
        readings.emplace_back(model.operation()->stage(), model.operation()->progress());
        shown = model.operation()->progress();
    });
    model.backups()->setRestoreCandidate(QString::fromStdString(backup.id.text()));
    model.backups()->confirmRestore();
    // Held, so that the hook may read it while the checks after the operation run.
    const std::shared_ptr<OperationControl> running = model.operation()->operation();
    control = running.get();
    const bool settled = h.settle();
    control = nullptr;
    sys::fault::disarm();
    ASSERT_TRUE(settled);
    EXPECT_FALSE(model.operation()->hasError()) << model.operation()->errorText().toStdString();
    double highest = -1, beforeBackup = -1;
    for (const auto& [stage, progress] : readings) {
        if (progress >= 0) {
            EXPECT_GE(progress, highest) << "the bar fell";
            highest = std::max(highest, progress);
        }
        if (stage == OperationStage::preparing) {
            beforeBackup = std::max(beforeBackup, progress);
        }
    }
    EXPECT_GT(beforeBackup, 0.0);
    EXPECT_LE(beforeBackup, 0.55) << "the restore's own copy filled the bar";
    EXPECT_EQ(highest, 1.0);
}
#endif

// Files dropped on the window: one local ZIP starts its preview; anything else is refused with
// a message and starts nothing.
TEST(AppModel, DroppedFilesPreviewOnlyOneZip) {
    Harness harness;
    const Path zip = harness.game.pack("drop.zip", {"Dropped"});
    AppModel& model = harness.open();
    const QUrl zipUrl = QUrl::fromLocalFile(toQString(zip));
    const QString refusal = QStringLiteral("只能导入一个本地 ZIP 整合包，请拖入单个 .zip 文件。");
    for (const QList<QUrl>& urls :
         {QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/readme.txt"))}, QList<QUrl>{zipUrl, zipUrl},
          QList<QUrl>{QUrl(QStringLiteral("https://x/p.zip"))}}) {
        model.packs()->dropFiles(urls);
        EXPECT_EQ(model.operation()->errorText(), refusal);
        model.operation()->dismissError();
    }
    EXPECT_FALSE(model.operation()->busy());
    model.packs()->dropFiles({zipUrl});
    ASSERT_TRUE(harness.settle());
    EXPECT_EQ(model.operation()->errorText(), "");
    ASSERT_TRUE(model.packs()->preview()->shown());
    EXPECT_EQ(model.packs()->preview()->preview()->addons, Names{"Dropped"});
}

// Quitting while an operation runs cancels it and waits for its end; idle, it quits at once.
TEST(AppModel, QuitWaitsForTheRunningOperationToEnd) {
    Harness harness;
    harness.game.addCharacter("A", "R", "C", "x");
    AppModel& model = harness.open();
    EXPECT_TRUE(model.operation()->requestQuit());
    model.folders()->setGameClosed(true);
    harness.holdSpaceCheck = true;
    model.backups()->backup();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.operation()->stage() == OperationStage::backingUp; }, 5000));
    bool ready = false;
    QObject::connect(model.operation(), &OperationStatus::quitReady, [&] { ready = true; });
    EXPECT_FALSE(model.operation()->requestQuit());
    EXPECT_TRUE(model.operation()->quitPending());
    EXPECT_FALSE(model.operation()->canCancel());
    harness.holdSpaceCheck = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready; }, 5000));
    EXPECT_EQ(model.operation()->message(), "已取消，游戏文件保持操作前状态。");
    EXPECT_TRUE(model.backups()->backupList().empty());
}

// A second Ctrl+O or click while the ZIP panel is open asks for no second panel on top.
TEST(AppModel, APanelIsNeverOpenedOverItself) {
    Harness harness;
    const Path zip = harness.game.pack("one.zip", {"One"});
    AppModel& model = harness.open();
    harness.platform.nextChoice = toQString(zip);
    harness.platform.whilePanelOpen = [&] { model.packs()->chooseZIP(); };
    model.packs()->chooseZIP();
    ASSERT_TRUE(harness.settle());
    EXPECT_EQ(harness.platform.panelTitles, QStringList{"导入本地插件整合包"});
    EXPECT_TRUE(model.packs()->preview()->shown());
}

// Data read from a pack is never taken for a pattern; sizes and dates read as Chinese desktops
// write them.
TEST(Rows, ComposeDataLiterallyAndWriteSizesAndDatesTheChineseWay) {
    ManagedPack pack;
    pack.manifest = {"id", "名", "1.0", "_retail_", "x%1y%2"};
    pack.addons = {"A", "B", "C"};
    EXPECT_EQ(rows::pack(pack).caption, "来源声明：x%1y%2 · 管理 3 个插件");

    const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China);
    for (const auto& [bytes, text] : std::vector<std::pair<std::int64_t, QString>>{
             {1700, "1.7 KB"}, {3'355'443, "3.2 MB"}, {5'368'709'120, "5.0 GB"}}) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(rows::sizeText(bytes, chinese), text);
    }
    const QDateTime date(QDate(2026, 12, 7), QTime(16, 41, 5));
    EXPECT_EQ(rows::dateText(date, chinese), "2026年12月7日 16:41");
    EXPECT_EQ(rows::dateTextWithSeconds(date, chinese), "2026年12月7日 16:41:05");
}
