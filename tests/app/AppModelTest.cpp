#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <gtest/gtest.h>

#include "model/AppModel.h"
#include "support/FakePlatform.h"
#include "support/QtPrint.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

const QString kSavedKey = QString::fromLatin1(AppModel::savedKey);

// Starts a scan and waits for its report to be applied.
bool scanAndWait(AppModel& model, std::optional<QString> extra = std::nullopt) {
    model.scan(extra);
    return QTest::qWaitFor([&] { return !model.busy(); }, 10000);
}

std::vector<std::string> ids(const AppModel& model) {
    std::vector<std::string> out;
    for (const auto& client : model.clientList()) {
        out.push_back(client.id());
    }
    return out;
}

} // namespace

TEST(AppModel, ScanSelectsFirstFolderKeepsAFoundSelectionAndDropsAVanishedOne) {
    TempDir dir;
    const Path game = dir / "World of Warcraft";
    makeDirs(game / "_retail_");
    makeDirs(game / "_classic_");
    FakePlatform platform;
    platform.roots = {game};
    AppModel model(platform);
    EXPECT_EQ(model.message(), "请选择游戏目录，开始管理本地插件。");
    EXPECT_EQ(model.headerTitle(), "欢迎来到Tarnel");

    ASSERT_TRUE(scanAndWait(model));
    EXPECT_EQ(ids(model), (std::vector<std::string>{(game / "_classic_").native(), (game / "_retail_").native()}));
    EXPECT_EQ(model.selection(), (game / "_classic_").native());
    EXPECT_EQ(model.headerTitle(), "进度怀旧服");
    EXPECT_EQ(model.headerSubtitle(), toQString(game / "_classic_"));
    EXPECT_EQ(model.message(), "找到 2 个版本目录。扫描范围有限，其他位置请手动选择。");
    // The saved roots are written back even when there are none.
    EXPECT_EQ(platform.store.value(kSavedKey), QStringList());

    model.setSelectionText(toQString(game / "_retail_"));
    makeDirs(game / "_ptr_");
    ASSERT_TRUE(scanAndWait(model));
    EXPECT_EQ(model.selection(), (game / "_retail_").native());

    std::filesystem::remove_all(game / "_retail_");
    ASSERT_TRUE(scanAndWait(model));
    EXPECT_EQ(model.selection(), (game / "_classic_").native());

    std::filesystem::remove_all(game);
    ASSERT_TRUE(scanAndWait(model));
    EXPECT_TRUE(model.clientList().empty());
    EXPECT_FALSE(model.selection().has_value());
    EXPECT_FALSE(model.hasSelection());
    EXPECT_EQ(model.headerSubtitle(), "为国服玩家准备的原生 macOS 插件管理工具");
    EXPECT_EQ(model.message(), "未扫描到游戏。请手动选择 World of Warcraft 或版本文件夹。");
}

TEST(AppModel, ChoosingAFolderSavesItOnceAndRescans) {
    TempDir dir;
    makeDirs(dir / "elsewhere/_classic_era_");
    const QString chosen = toQString(dir / "elsewhere");
    FakePlatform platform;
    AppModel model(platform);

    platform.nextChoice = chosen;
    model.chooseGame();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.busy(); }, 10000));
    EXPECT_EQ(platform.panelTitles, QStringList{"选择魔兽世界目录或版本文件夹"});
    EXPECT_EQ(platform.store.value(kSavedKey), QStringList{chosen});
    EXPECT_EQ(model.savedRoots(), QStringList{chosen});
    EXPECT_EQ(ids(model), std::vector<std::string>{(dir / "elsewhere/_classic_era_").native()});

    // The same folder again: rescanned and written back, never listed twice.
    const int writes = platform.writes;
    model.chooseGame();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.busy(); }, 10000));
    EXPECT_EQ(platform.writes, writes + 1);
    EXPECT_EQ(platform.store.value(kSavedKey), QStringList{chosen});

    // A cancelled panel does nothing at all.
    platform.nextChoice.reset();
    model.chooseGame();
    EXPECT_FALSE(model.busy());
    EXPECT_EQ(platform.writes, writes + 1);

    // Forgetting it removes every copy and rescans without it.
    platform.store[kSavedKey] = QStringList{chosen, "/other", chosen};
    model.forgetRoot(chosen);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.busy(); }, 10000));
    EXPECT_EQ(platform.store.value(kSavedKey), QStringList{"/other"});
    EXPECT_EQ(model.savedRoots(), QStringList{"/other"});
    EXPECT_TRUE(model.clientList().empty());
    EXPECT_EQ(model.message(),
              "未扫描到游戏。请手动选择 World of Warcraft 或版本文件夹。 有 1 个已保存位置不存在或磁盘离线。");

    // A stored value that is not a string list counts as no saved roots.
    platform.store[kSavedKey] = std::nullopt;
    ASSERT_TRUE(scanAndWait(model, chosen));
    EXPECT_EQ(platform.store.value(kSavedKey), QStringList{chosen});
}

TEST(AppModel, ScanRunsOffTheMainThreadAndCommandsWaitForIt) {
    QSemaphore release;
    QThread* scanThread = nullptr;
    std::vector<Path> scannedRoots;
    AppModel::Scanner scanner = [&](const std::vector<Path>& roots) {
        scanThread = QThread::currentThread();
        scannedRoots = roots;
        release.acquire();
        return ScanReport{};
    };
    FakePlatform platform;
    platform.roots = {"/default/one", "/default/two"};
    platform.store[kSavedKey] = QStringList{"/saved"};
    AppModel model(platform, scanner);

    model.scan();
    EXPECT_TRUE(model.busy());
    EXPECT_EQ(model.busyText(), "正在扫描");
    const int writes = platform.writes;
    model.scan(QStringLiteral("/ignored"));
    model.forgetRoot(QStringLiteral("/saved"));
    platform.nextChoice = QStringLiteral("/ignored");
    model.chooseGame();
    EXPECT_EQ(platform.writes, writes);
    EXPECT_EQ(platform.store.value(kSavedKey), QStringList{"/saved"});

    release.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.busy(); }, 10000));
    EXPECT_NE(scanThread, QThread::currentThread());
    EXPECT_EQ(scannedRoots, (std::vector<Path>{"/default/one", "/default/two", "/saved"}));
}

TEST(AppModel, AModelDestroyedDuringAScanIgnoresTheLateReport) {
    QSemaphore release;
    FakePlatform platform;
    auto model = std::make_unique<AppModel>(platform, [&](const std::vector<Path>&) {
        release.acquire();
        return ScanReport{};
    });
    bool finished = false;
    QObject::connect(model.get(), &AppModel::scanFinished, [&] { finished = true; });
    model->scan();
    model.reset();
    release.release();
    QThreadPool::globalInstance()->waitForDone();
    QTest::qWait(50); // lets the watcher resume the scan task, which must not touch the model
    EXPECT_FALSE(finished);
}

TEST(AppModel, ScanMessageNamesEachKindOfTrouble) {
    const GameClient retail("/g/_retail_");
    const GameClient classic("/g/_classic_");
    struct Case {
        const char* name;
        ScanReport report;
        QStringList saved;
        QString expected;
    };
    const std::vector<Case> cases{
        {"nothing found, limit reached",
         {{}, {}, {}, true},
         {},
         "未扫描到游戏。请手动选择 World of Warcraft 或版本文件夹。 已达到扫描深度或数量上限，请手动选择。"},
        {"two found, one inaccessible",
         {{classic, retail}, {}, {"/locked"}, false},
         {},
         "找到 2 个版本目录。扫描范围有限，其他位置请手动选择。 有 1 个位置无法访问，请检查权限。"},
        {"missing default roots are not counted, missing saved roots are",
         {{retail}, {"/Volumes", "/saved/a", "/saved/b"}, {}, false},
         {"/saved/a", "/saved/b", "/saved/present"},
         "找到 1 个版本目录。扫描范围有限，其他位置请手动选择。 有 2 个已保存位置不存在或磁盘离线。"},
        {"every warning, in order",
         {{retail}, {"/saved/a"}, {"/x", "/y", "/z"}, true},
         {"/saved/a"},
         "找到 1 个版本目录。扫描范围有限，其他位置请手动选择。 有 3 个位置无法访问，请检查权限。 "
         "已达到扫描深度或数量上限，请手动选择。 有 1 个已保存位置不存在或磁盘离线。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(scanMessage(c.report, c.saved), c.expected);
    }
}
