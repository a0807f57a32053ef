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

QString textOf(QQuickItem* root, const char* name) {
    const auto items = findItems(root, QString::fromLatin1(name));
    return items.size() == 1 ? items.first()->property("text").toString() : QStringLiteral("<missing>");
}

std::vector<std::pair<QString, QString>> rows(QQuickWindow* window) {
    std::vector<std::pair<QString, QString>> out;
    for (QQuickItem* row : findItems(window->contentItem(), "clientRow")) {
        out.emplace_back(textOf(row, "rowTitle"), textOf(row, "rowSubtitle"));
    }
    return out;
}

void click(QQuickWindow* window, QQuickItem* item) {
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
                      item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
}

bool settled(AppModel& model) {
    return QTest::qWaitFor([&] { return !model.busy(); }, 10000);
}

} // namespace

// The window as the application starts it, over a temporary game folder, worked through its
// sidebar and toolbar.
TEST(MainWindow, ListsTheVersionFoldersFoundAndFollowsTheChosenAndForgottenFolders) {
    TempDir dir;
    const Path game = dir / "World of Warcraft";
    makeDirs(game / "_retail_");
    makeDirs(game / "_classic_");
    makeDirs(dir / "魔兽世界/_classic_era_");
    const QString chosen = toQString(dir / "魔兽世界");
    const QString savedKey = QString::fromLatin1(AppModel::savedKey);
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
    EXPECT_TRUE(model.busy());
    EXPECT_EQ(textOf(root, "busyText"), "正在扫描");
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(textOf(root, "busyText"), "<missing>");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->title(), "Kelvarn · Tarnel");
    EXPECT_EQ(window->size(), QSize(1050, 740));
    const std::vector<std::pair<QString, QString>> found{{"进度怀旧服", "World of Warcraft"},
                                                         {"正式服", "World of Warcraft"}};
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows(window) == found; }, 5000)) << rows(window).size();
    EXPECT_EQ(textOf(root, "headerTitle"), "进度怀旧服");
    EXPECT_EQ(textOf(root, "statusLine"), "找到 2 个版本目录。扫描范围有限，其他位置请手动选择。");
    EXPECT_EQ(platform.store.value(savedKey), QStringList()); // written back even when empty

    click(window, findItems(root, "clientRow").at(1));
    EXPECT_EQ(model.selection(), (game / "_retail_").native());
    ASSERT_TRUE(QTest::qWaitFor([&] { return textOf(root, "headerTitle") == "正式服"; }, 2000));
    // "重新扫描" keeps a selection still found and falls back to the first folder otherwise.
    const auto rescan = findItems(root, "rescanButton");
    ASSERT_EQ(rescan.size(), 1);
    click(window, rescan.first());
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(model.selection(), (game / "_retail_").native());
    std::filesystem::remove_all(game / "_retail_");
    click(window, rescan.first());
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows(window).size() == 1; }, 10000)) << rows(window).size();
    EXPECT_EQ(model.selection(), (game / "_classic_").native());

    // "选择游戏目录…" asks for a folder and rescans with it saved; chosen again it is written
    // again, never listed twice; a cancelled panel does nothing at all.
    const auto choose = findItems(root, "chooseGameButton");
    ASSERT_EQ(choose.size(), 1);
    platform.nextChoice = chosen;
    const int writes = platform.writes;
    for (int round = 1; round <= 2; ++round) {
        click(window, choose.first());
        ASSERT_TRUE(settled(model));
        EXPECT_EQ(platform.writes, writes + round);
        EXPECT_EQ(platform.store.value(savedKey), QStringList{chosen});
    }
    EXPECT_EQ(platform.panelTitles, QStringList(2, "选择魔兽世界目录或版本文件夹"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows(window).size() == 2; }, 10000)) << rows(window).size();
    EXPECT_EQ(rows(window)[1], (std::pair<QString, QString>{"经典旧世 / 专家 / 赛季服", "魔兽世界"}));
    EXPECT_EQ(model.savedRoots(), QStringList{chosen});
    platform.nextChoice.reset();
    click(window, choose.first());
    EXPECT_FALSE(model.busy());
    EXPECT_EQ(platform.writes, writes + 2);

    // Forgetting removes every copy; with nothing found the welcome texts come back.
    std::filesystem::remove_all(game);
    platform.store[savedKey] = QStringList{chosen, "/other", chosen};
    model.forgetRoot(chosen);
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(platform.store.value(savedKey), QStringList{"/other"});
    EXPECT_EQ(model.savedRoots(), QStringList{"/other"});
    EXPECT_FALSE(model.selection().has_value());
    EXPECT_FALSE(model.hasSelection());
    EXPECT_EQ(textOf(root, "headerSubtitle"), "为国服玩家准备的原生 macOS 插件管理工具");
    EXPECT_EQ(textOf(root, "statusLine"),
              "未扫描到游戏。请手动选择 World of Warcraft 或版本文件夹。 有 1 个已保存位置不存在或磁盘离线。");
    platform.store[savedKey] = std::nullopt; // a stored value that is not a string list: no saved roots
    model.scan(chosen);
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(platform.store.value(savedKey), QStringList{chosen});
}
