#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

#include "AppShell.h"
#include "model/AppModel.h"
#include "support/FakePlatform.h"
#include "support/QtPrint.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

void collect(QQuickItem* item, const QString& objectName, QList<QQuickItem*>& out) {
    if (item->objectName() == objectName && item->isVisible()) {
        out.append(item);
    }
    for (QQuickItem* child : item->childItems()) {
        collect(child, objectName, out);
    }
}

// The visible items named `objectName`, top to bottom.
QList<QQuickItem*> findItems(QQuickWindow* window, const QString& objectName) {
    QList<QQuickItem*> items;
    collect(window->contentItem(), objectName, items);
    std::sort(items.begin(), items.end(), [](QQuickItem* a, QQuickItem* b) {
        return a->mapToScene({0, 0}).y() < b->mapToScene({0, 0}).y();
    });
    return items;
}

QString textOf(QQuickItem* root, const char* name) {
    QList<QQuickItem*> items;
    collect(root, QString::fromLatin1(name), items);
    return items.size() == 1 ? items.first()->property("text").toString() : QStringLiteral("<missing>");
}

std::vector<std::pair<QString, QString>> rows(QQuickWindow* window) {
    std::vector<std::pair<QString, QString>> out;
    for (QQuickItem* row : findItems(window, "clientRow")) {
        out.emplace_back(textOf(row, "rowTitle"), textOf(row, "rowSubtitle"));
    }
    return out;
}

void click(QQuickWindow* window, QQuickItem* item) {
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

} // namespace

// Starts the window as the application does, over a temporary game folder instead of the
// default roots, and works it through its sidebar.
TEST(MainWindow, ListsTheVersionFoldersFoundAndRescansWithAChosenFolder) {
    TempDir dir;
    makeDirs(dir / "World of Warcraft/_retail_");
    makeDirs(dir / "World of Warcraft/_classic_");
    makeDirs(dir / "魔兽世界/_classic_era_");
    FakePlatform platform;
    platform.roots = {dir / "World of Warcraft"};
    AppModel model(platform);
    QQmlApplicationEngine engine;
    QQuickWindow* window = loadMainWindow(engine, model);
    ASSERT_NE(window, nullptr);

    // The window starts the first scan itself; the busy bar says so until the report is in.
    EXPECT_TRUE(model.busy());
    EXPECT_EQ(textOf(window->contentItem(), "busyText"), "正在扫描");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.busy(); }, 10000));
    EXPECT_EQ(textOf(window->contentItem(), "busyText"), "<missing>");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->title(), "Kelvarn · Tarnel");
    EXPECT_EQ(window->size(), QSize(1050, 740));

    const std::vector<std::pair<QString, QString>> found{{"进度怀旧服", "World of Warcraft"},
                                                         {"正式服", "World of Warcraft"}};
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows(window) == found; }, 5000)) << rows(window).size();
    EXPECT_EQ(textOf(window->contentItem(), "headerTitle"), "进度怀旧服");
    EXPECT_EQ(textOf(window->contentItem(), "statusLine"), "找到 2 个版本目录。扫描范围有限，其他位置请手动选择。");

    // Clicking a row selects its folder.
    click(window, findItems(window, "clientRow").at(1));
    EXPECT_EQ(model.selection(), (dir / "World of Warcraft/_retail_").native());
    ASSERT_TRUE(QTest::qWaitFor([&] { return textOf(window->contentItem(), "headerTitle") == "正式服"; }, 2000));

    // "选择游戏目录…" asks for a folder and rescans with it saved.
    platform.nextChoice = toQString(dir / "魔兽世界");
    const auto buttons = findItems(window, "chooseGameButton");
    ASSERT_EQ(buttons.size(), 1);
    click(window, buttons.first());
    EXPECT_EQ(platform.panelTitles, QStringList{"选择魔兽世界目录或版本文件夹"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.busy(); }, 10000));
    const auto withChosen =
        std::vector<std::pair<QString, QString>>{found[0], found[1], {"经典旧世 / 专家 / 赛季服", "魔兽世界"}};
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows(window) == withChosen; }, 5000)) << rows(window).size();
    EXPECT_EQ(model.selection(), (dir / "World of Warcraft/_retail_").native());
    EXPECT_EQ(platform.store.value(AppModel::savedKey), QStringList{toQString(dir / "魔兽世界")});
}
