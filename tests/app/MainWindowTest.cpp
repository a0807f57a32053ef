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

} // namespace

// The window as the application starts it, over a temporary game folder, worked through its sidebar.
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

    click(window, findItems(window->contentItem(), "clientRow").at(1));
    EXPECT_EQ(model.selection(), (dir / "World of Warcraft/_retail_").native());
    ASSERT_TRUE(QTest::qWaitFor([&] { return textOf(window->contentItem(), "headerTitle") == "正式服"; }, 2000));

    // "重新扫描" keeps a selection still found and falls back to the first folder otherwise.
    const auto rescan = findItems(window->contentItem(), "rescanButton");
    ASSERT_EQ(rescan.size(), 1);
    click(window, rescan.first());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.busy(); }, 10000));
    EXPECT_EQ(model.selection(), (dir / "World of Warcraft/_retail_").native());
    std::filesystem::remove_all(dir / "World of Warcraft/_retail_");
    click(window, rescan.first());
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows(window).size() == 1; }, 10000)) << rows(window).size();
    EXPECT_EQ(model.selection(), (dir / "World of Warcraft/_classic_").native());

    // "选择游戏目录…" asks for a folder and rescans with it saved.
    platform.nextChoice = toQString(dir / "魔兽世界");
    const auto buttons = findItems(window->contentItem(), "chooseGameButton");
    ASSERT_EQ(buttons.size(), 1);
    click(window, buttons.first());
    EXPECT_EQ(platform.panelTitles, QStringList{"选择魔兽世界目录或版本文件夹"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows(window).size() == 2; }, 10000)) << rows(window).size();
    EXPECT_EQ(rows(window)[1], (std::pair<QString, QString>{"经典旧世 / 专家 / 赛季服", "魔兽世界"}));
    EXPECT_EQ(model.selection(), (dir / "World of Warcraft/_classic_").native());
}
