#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

#include "AppShell.h"
#include "model/AppModel.h"
#include "support/FakePlatform.h"
#include "support/GameFixture.h"
#include "support/QtPrint.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

// The visible items named `name` below `root`, top to bottom.
QList<QQuickItem*> findItems(QQuickItem* root, const QString& name) {
    QList<QQuickItem*> items;
    const std::function<void(QQuickItem*)> visit = [&](QQuickItem* item) {
        if (item->objectName() == name && item->isVisible()) {
            items.append(item);
        }
        for (QQuickItem* child : item->childItems()) {
            visit(child);
        }
    };
    visit(root);
    std::sort(items.begin(), items.end(), [](QQuickItem* a, QQuickItem* b) {
        return a->mapToScene({0, 0}).y() < b->mapToScene({0, 0}).y();
    });
    return items;
}

// The texts of the visible items named `name`, top to bottom.
QStringList texts(QQuickItem* root, const char* name) {
    QStringList out;
    for (QQuickItem* item : findItems(root, QString::fromLatin1(name))) {
        out.append(item->property("text").toString());
    }
    return out;
}

void click(QQuickWindow* window, QQuickItem* item) {
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
                      item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
}

// The visible item named `name` below `parent` (the first from the top); the test fails without one.
QQuickItem* item(QQuickItem* parent, const QString& name) {
    const auto items = findItems(parent, name);
    EXPECT_FALSE(items.isEmpty()) << "no visible item named " << name.toStdString();
    return items.isEmpty() ? nullptr : items.first();
}

// The visible row named `rowName` that holds a text starting with `text`.
QQuickItem* row(QQuickItem* root, const QString& rowName, const QString& text) {
    for (QQuickItem* candidate : findItems(root, rowName)) {
        const std::function<bool(QQuickItem*)> holds = [&](QQuickItem* inner) {
            if (inner->property("text").toString().startsWith(text)) {
                return true;
            }
            const auto children = inner->childItems();
            return std::any_of(children.begin(), children.end(), holds);
        };
        if (holds(candidate)) {
            return candidate;
        }
    }
    ADD_FAILURE() << "no row " << rowName.toStdString() << " with " << text.toStdString();
    return nullptr;
}

// Whether the open menu holding `first` and `last` has laid them out: entries take clicks only
// once they stand where they are drawn.
bool menuLaidOut(QQuickItem* root, const QString& first, const QString& last) {
    const auto top = findItems(root, first);
    const auto bottom = findItems(root, last);
    return top.size() == 1 && bottom.size() == 1 &&
           top.first()->mapToScene({0, 0}).y() < bottom.first()->mapToScene({0, 0}).y();
}

bool settled(AppModel& model) {
    return QTest::qWaitFor([&] { return !model.operation()->busy() && !model.folders()->refreshing(); }, 10000);
}

// The loaded window over `platform`'s roots, its first scan and refresh done.
struct Window {
    QQmlApplicationEngine engine;
    QQuickWindow* window = nullptr;
    QQuickItem* root = nullptr;

    explicit Window(AppModel& model) {
        window = loadMainWindow(engine, model);
        if (window != nullptr) {
            window->resize(1050, 2400); // every section on screen, so that clicks land without scrolling
            root = window->contentItem();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
            EXPECT_TRUE(settled(model));
        }
    }
    void click(const QString& name) {
        if (QQuickItem* found = item(root, name)) {
            ::click(window, found);
        }
    }
};

} // namespace

// The window as the application starts it, over a temporary game folder, worked through its buttons.
TEST(MainWindow, ListsTheVersionFoldersFoundAndFollowsTheChosenAndForgottenFolders) {
    TempDir dir;
    const Path game = dir / "World of Warcraft";
    makeDirs(game / "_retail_");
    makeDirs(game / "_classic_");
    makeDirs(dir / "魔兽世界/_classic_era_");
    const QString chosen = toQString(dir / "魔兽世界");
    FakePlatform platform;
    platform.roots = {game, dir / "gone"}; // a missing default root is the rule and goes unmentioned
    AppModel model(platform);
    EXPECT_EQ(model.operation()->message(), "请选择游戏目录，开始管理本地插件。");
    EXPECT_EQ(model.folders()->headerTitle(), "欢迎来到Tarnel");
    QQmlApplicationEngine engine;
    QQuickWindow* window = loadMainWindow(engine, model);
    ASSERT_NE(window, nullptr);
    QQuickItem* root = window->contentItem();

    // The window starts the first scan itself; the busy bar says so until the report is in.
    EXPECT_EQ(texts(root, "busyText"), QStringList{"正在扫描"});
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(texts(root, "busyText"), QStringList{});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->title(), "Kelvarn · Tarnel");
    EXPECT_EQ(window->size(), QSize(1050, 740));
    const QStringList found{"进度怀旧服", "正式服"};
    ASSERT_TRUE(QTest::qWaitFor([&] { return texts(root, "rowTitle") == found; }, 5000));
    EXPECT_EQ(texts(root, "rowSubtitle"), QStringList(2, "World of Warcraft"));
    EXPECT_EQ(texts(root, "headerTitle"), QStringList{"进度怀旧服"});
    EXPECT_EQ(texts(root, "statusLine"), QStringList{"找到 2 个版本目录。扫描范围有限，其他位置请手动选择。"});
    EXPECT_EQ(platform.store.value(AppModel::savedKey), QStringList()); // written back even when empty
    EXPECT_EQ(model.operation()->errorText(), "");

    click(window, findItems(root, "clientRow").at(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return texts(root, "headerTitle") == QStringList{"正式服"}; }, 10000));
    ASSERT_TRUE(settled(model));
    // "重新扫描" keeps a selection still found and falls back to the first folder otherwise.
    const auto rescan = findItems(root, "rescanButton");
    ASSERT_EQ(rescan.size(), 1);
    click(window, rescan.first());
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(model.folders()->selection(), (game / "_retail_").native());
    std::filesystem::remove_all(game / "_retail_");
    click(window, rescan.first());
    ASSERT_TRUE(QTest::qWaitFor([&] { return texts(root, "rowTitle") == QStringList{"进度怀旧服"}; }, 10000));
    EXPECT_EQ(model.folders()->selection(), (game / "_classic_").native());

    // "选择游戏目录…" rescans with the folder saved, once however often chosen; cancelled, nothing.
    const auto choose = findItems(root, "chooseGameButton");
    ASSERT_EQ(choose.size(), 1);
    platform.nextChoice = chosen;
    const int writes = platform.writes;
    for (int round = 1; round <= 2; ++round) {
        click(window, choose.first());
        ASSERT_TRUE(settled(model));
        EXPECT_EQ(platform.writes, writes + round);
        EXPECT_EQ(platform.store.value(AppModel::savedKey), QStringList{chosen});
    }
    EXPECT_EQ(platform.panelTitles, QStringList(2, "选择魔兽世界目录或版本文件夹"));
    const QStringList withChosen{"进度怀旧服", "经典旧世 / 专家 / 赛季服"};
    ASSERT_TRUE(QTest::qWaitFor([&] { return texts(root, "rowTitle") == withChosen; }, 10000));
    EXPECT_EQ(texts(root, "rowSubtitle"), (QStringList{"World of Warcraft", "魔兽世界"}));
    platform.nextChoice.reset();
    click(window, choose.first());
    EXPECT_FALSE(model.operation()->busy());
    EXPECT_EQ(platform.writes, writes + 2);

    // Forgetting removes every copy; with nothing found the welcome texts come back.
    std::filesystem::remove_all(game);
    platform.store[AppModel::savedKey] = QStringList{chosen, "/other", chosen};
    model.folders()->forgetRoot(chosen);
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(platform.store.value(AppModel::savedKey), QStringList{"/other"});
    EXPECT_EQ(model.folders()->savedRoots(), QStringList{"/other"});
    EXPECT_FALSE(model.folders()->hasSelection());
    EXPECT_EQ(texts(root, "headerTitle"), QStringList{"欢迎来到Tarnel"});
    EXPECT_EQ(texts(root, "headerSubtitle"), QStringList{"为国服玩家准备的原生 Linux 插件管理工具"});
    for (const char* name :
         {"chooseZipButton", "backupButton", "revealBackupsButton", "importWtfButton", "manageBackupsButton"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(item(root, QString::fromLatin1(name))->isEnabled());
    }
    EXPECT_EQ(
        texts(root, "statusLine"),
        QStringList{"未扫描到游戏。请手动选择 World of Warcraft 或版本文件夹。 有 1 个已保存位置不存在或磁盘离线。"});
    platform.store[AppModel::savedKey] = std::nullopt; // a stored value that is not a string list: no saved roots
    model.folders()->scan(chosen);
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(platform.store.value(AppModel::savedKey), QStringList{chosen});
}

// A pack imported through the preview sheet as a player would: the install button waits for the
// tick, a running game is refused inside the sheet, and the next release leaves retired add-ons
// that can be cleaned only while unchanged.
TEST(MainWindow, ImportsPacksThroughTheSheetAndCleansUpRetiredAddons) {
    GameFixture fixture;
    const Path addons = fixture.addons();
    fixture.addAddon("Existing");
    const Path first = fixture.pack("v1.zip", {"Kept", "Dropped", "Edited"}, "1.0");
    const Path second = fixture.pack("v2.zip", {"Kept"}, "2.0");
    FakePlatform platform;
    platform.roots = {fixture.dir.path()};
    AppModel model(platform);
    Window ui(model);
    ASSERT_NE(ui.window, nullptr);

    platform.nextChoice = toQString(first);
    ui.click("chooseZipButton");
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(platform.panelTitles.last(), "导入本地插件整合包");
    EXPECT_EQ(texts(ui.root, "previewPackLine"), QStringList{"测试整合包：未安装 → 1.0"});
    EXPECT_EQ(texts(ui.root, "previewCountLine"), QStringList{"3 个插件 · 0 个同名插件将替换"});
    EXPECT_FALSE(item(ui.root, "installButton")->isEnabled());
    QTest::keyClick(ui.window, Qt::Key_Escape); // but never a sheet
    EXPECT_TRUE(model.packs()->preview()->shown());
    ui.click("sheetGameClosedCheck");
    ASSERT_TRUE(item(ui.root, "installButton")->isEnabled());
    EXPECT_TRUE(model.folders()->gameClosed()); // the sheet's box and the window's are one confirmation

    platform.running = {{std::nullopt, Path("/opt/wine/drive_c/Wow.exe"), std::nullopt}};
    ui.click("installButton");
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(texts(ui.root, "sheetError"), QStringList{"检测到魔兽世界仍在运行，请完全退出游戏。"});
    EXPECT_EQ(findItems(ui.root, "errorAlert"), QList<QQuickItem*>{}); // shown in the sheet, not over it
    EXPECT_FALSE(std::filesystem::exists(addons / "Kept"));

    platform.running.clear();
    ui.click("installButton");
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(findItems(ui.root, "installSheet"), QList<QQuickItem*>{});
    EXPECT_EQ(texts(ui.root, "statusLine"),
              QStringList{"已安装 3 个插件。同名插件已替换，其余插件和 WTF 配置已保留。"});
    EXPECT_EQ(texts(ui.root, "addonTitle"), (QStringList{"Dropped", "Edited", "Existing", "Kept"}));
    EXPECT_EQ(texts(ui.root, "packHeading"), QStringList{"测试整合包 · 1.0"});

    writeFile(addons / "Edited/core.lua", "-- changed by the player\n");
    platform.nextChoice = toQString(second);
    ui.click("chooseZipButton");
    ASSERT_TRUE(settled(model));
    ui.click("installButton");
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(texts(ui.root, "retiredText"),
              (QStringList{"Dropped：已不随整合包发布", "Edited：已不随整合包发布（已修改或被其他包使用，保留）"}));
    const auto clean = findItems(ui.root, "cleanRetiredButton");
    ASSERT_EQ(clean.size(), 1); // only the unchanged one may go
    click(ui.window, clean.first());
    ASSERT_EQ(texts(ui.root, "dialogTitle"), QStringList{"备份并清理旧整合包插件？"});
    QQuickItem* confirm = item(ui.root, "dialogConfirmButton");
    EXPECT_EQ(confirm->property("text").toString(), "备份并清理 Dropped");
    click(ui.window, confirm);
    ASSERT_TRUE(settled(model));
    EXPECT_FALSE(std::filesystem::exists(addons / "Dropped"));
    EXPECT_TRUE(std::filesystem::exists(addons / "Edited"));
    EXPECT_EQ(texts(ui.root, "statusLine"), QStringList{"已备份并清理旧整合包插件，其他插件保留。"});
}

// Backups as the player meets them: the whole-restore confirmation, one character restored from
// the scope picker, and the locks a pending recovery puts on thinning and recycling.
TEST(MainWindow, RestoresOneCharacterAndGuardsAPendingRecovery) {
    GameFixture fixture;
    const Path retail = fixture.root();
    const Path realm = fixture.wtf() / "Account/PLAYER/艾露恩";
    fixture.addCharacter("PLAYER", "艾露恩", "小明", "backed up A");
    fixture.addCharacter("PLAYER", "艾露恩", "小红", "backed up B");
    fixture.addAddon("Existing");
    fixture.snapshot(BackupKind::wtf);
    fixture.snapshot(BackupKind::addons);
    writeFile(realm / "小明/AddOns.txt", "changed A");
    writeFile(realm / "小红/AddOns.txt", "changed B");
    FakePlatform platform;
    platform.roots = {fixture.dir.path()};
    AppModel model(platform);
    Window ui(model);
    ASSERT_NE(ui.window, nullptr);
    ui.click("gameClosedCheck");
    ASSERT_TRUE(model.folders()->gameClosed());

    const auto openMenu = [&](const QString& heading) {
        QQuickItem* backup = row(ui.root, "backupRow", heading);
        ASSERT_NE(backup, nullptr);
        click(ui.window, item(backup, "backupActionsButton"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return menuLaidOut(ui.root, "restoreItem", "recycleItem"); }, 2000));
    };
    openMenu("插件 · ");
    EXPECT_EQ(findItems(ui.root, "chooseScopeItem"), QList<QQuickItem*>{}); // no scopes in add-ons
    ui.click("restoreItem");
    ASSERT_EQ(texts(ui.root, "dialogTitle"), QStringList{"恢复插件？"});
    QTest::keyClick(ui.window, Qt::Key_Escape); // Esc dismisses a confirmation
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.backups()->hasRestoreCandidate(); }, 2000));

    openMenu("WTF 配置 · ");
    ui.click("chooseScopeItem");

    ASSERT_TRUE(settled(model));
    ASSERT_EQ(texts(ui.root, "scopeTitle").size(), 4);
    click(ui.window, row(ui.root, "scopeRow", "角色：PLAYER / 艾露恩 / 小明"));
    ui.click("confirmScopeButton");
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(readFile(realm / "小明/AddOns.txt"), "backed up A");
    EXPECT_EQ(readFile(realm / "小红/AddOns.txt"), "changed B");
    EXPECT_EQ(texts(ui.root, "statusLine"), QStringList{"已恢复WTF 配置，恢复前的状态也已自动备份。"});

    writeFile(retail / ".olvex-manager/active.json", R"({"kind":"wtf"})");
    ui.click("rescanButton");
    ASSERT_TRUE(settled(model));
    EXPECT_FALSE(findItems(ui.root, "recoveryBox").isEmpty());
    ui.click("manageBackupsButton");
    ASSERT_TRUE(QTest::qWaitFor([&] { return menuLaidOut(ui.root, "retainRecentItem", "recoverRecycledItem"); }, 2000));
    EXPECT_FALSE(item(ui.root, "retainRecentItem")->isEnabled());
    EXPECT_TRUE(item(ui.root, "recoverRecycledItem")->isEnabled());
}
