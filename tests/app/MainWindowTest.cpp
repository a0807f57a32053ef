#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

#include "AppShell.h"
#include "model/AppModel.h"
#include "support/FakePlatform.h"
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

bool settled(AppModel& model) {
    return QTest::qWaitFor([&] { return !model.busy() && !model.refreshing(); }, 10000);
}

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
    EXPECT_EQ(model.message(), "请选择游戏目录，开始管理本地插件。");
    EXPECT_EQ(model.headerTitle(), "欢迎来到Tarnel");
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
    EXPECT_EQ(model.errorText(), "");

    click(window, findItems(root, "clientRow").at(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return texts(root, "headerTitle") == QStringList{"正式服"}; }, 2000));
    ASSERT_TRUE(settled(model));
    // "重新扫描" keeps a selection still found and falls back to the first folder otherwise.
    const auto rescan = findItems(root, "rescanButton");
    ASSERT_EQ(rescan.size(), 1);
    click(window, rescan.first());
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(model.selection(), (game / "_retail_").native());
    std::filesystem::remove_all(game / "_retail_");
    click(window, rescan.first());
    ASSERT_TRUE(QTest::qWaitFor([&] { return texts(root, "rowTitle") == QStringList{"进度怀旧服"}; }, 10000));
    EXPECT_EQ(model.selection(), (game / "_classic_").native());

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
    EXPECT_FALSE(model.busy());
    EXPECT_EQ(platform.writes, writes + 2);

    // Forgetting removes every copy; with nothing found the welcome texts come back.
    std::filesystem::remove_all(game);
    platform.store[AppModel::savedKey] = QStringList{chosen, "/other", chosen};
    model.forgetRoot(chosen);
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(platform.store.value(AppModel::savedKey), QStringList{"/other"});
    EXPECT_EQ(model.savedRoots(), QStringList{"/other"});
    EXPECT_FALSE(model.hasSelection());
    EXPECT_EQ(texts(root, "headerSubtitle"), QStringList{"为国服玩家准备的原生 Linux 插件管理工具"});
    EXPECT_EQ(
        texts(root, "statusLine"),
        QStringList{"未扫描到游戏。请手动选择 World of Warcraft 或版本文件夹。 有 1 个已保存位置不存在或磁盘离线。"});
    platform.store[AppModel::savedKey] = std::nullopt; // a stored value that is not a string list: no saved roots
    model.scan(chosen);
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(platform.store.value(AppModel::savedKey), QStringList{chosen});
}
