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

bool settled(AppModel& model) {
    return QTest::qWaitFor([&] { return !model.busy(); }, 10000);
}

bool scanned(AppModel& model, std::optional<QString> extra = std::nullopt) {
    model.scan(extra);
    return settled(model);
}

} // namespace

// Which folder stays selected across scans is the window's test; this one follows the saved roots.
TEST(AppModel, ChosenFoldersAreSavedOnceAndForgottenEverywhere) {
    TempDir dir;
    makeDirs(dir / "elsewhere/_classic_era_");
    const QString chosen = toQString(dir / "elsewhere");
    FakePlatform platform;
    platform.roots = {dir / "gone"}; // a missing default root is the rule and goes unmentioned
    AppModel model(platform);
    EXPECT_EQ(model.message(), "请选择游戏目录，开始管理本地插件。");
    EXPECT_EQ(model.headerTitle(), "欢迎来到Tarnel");
    ASSERT_TRUE(scanned(model));
    EXPECT_EQ(platform.store.value(kSavedKey), QStringList()); // written back even when empty

    // A folder chosen twice is rescanned and saved each time, never listed twice.
    platform.nextChoice = chosen;
    for (int writes = 2; writes <= 3; ++writes) {
        model.chooseGame();
        ASSERT_TRUE(settled(model));
        EXPECT_EQ(platform.writes, writes);
        EXPECT_EQ(platform.store.value(kSavedKey), QStringList{chosen});
    }
    EXPECT_EQ(model.savedRoots(), QStringList{chosen});
    EXPECT_EQ(model.selection(), (dir / "elsewhere/_classic_era_").native());
    platform.nextChoice.reset(); // a cancelled panel does nothing at all
    model.chooseGame();
    EXPECT_FALSE(model.busy());
    EXPECT_EQ(platform.writes, 3);

    platform.store[kSavedKey] = QStringList{chosen, "/other", chosen};
    model.forgetRoot(chosen);
    ASSERT_TRUE(settled(model));
    EXPECT_EQ(platform.store.value(kSavedKey), QStringList{"/other"});
    EXPECT_EQ(model.savedRoots(), QStringList{"/other"});
    EXPECT_FALSE(model.selection().has_value());
    EXPECT_FALSE(model.hasSelection());
    EXPECT_EQ(model.headerSubtitle(), "为国服玩家准备的原生 macOS 插件管理工具");
    EXPECT_EQ(model.message(),
              "未扫描到游戏。请手动选择 World of Warcraft 或版本文件夹。 有 1 个已保存位置不存在或磁盘离线。");
    platform.store[kSavedKey] = std::nullopt; // a stored value that is not a string list: no saved roots
    ASSERT_TRUE(scanned(model, chosen));
    EXPECT_EQ(platform.store.value(kSavedKey), QStringList{chosen});
}

// While the scanner runs elsewhere the model is busy and ignores commands; a model destroyed
// meanwhile is never touched by the late report.
TEST(AppModel, ScanRunsOffTheMainThreadAndCommandsWaitForIt) {
    QSemaphore release;
    QThread* scanThread = nullptr;
    std::vector<Path> scannedRoots;
    FakePlatform platform;
    platform.roots = {"/default/one", "/default/two"};
    platform.store[kSavedKey] = QStringList{"/saved"};
    auto model = std::make_unique<AppModel>(platform, [&](const std::vector<Path>& roots) {
        scanThread = QThread::currentThread();
        scannedRoots = roots;
        release.acquire();
        return ScanReport{};
    });
    bool finished = false;
    QObject::connect(model.get(), &AppModel::scanFinished, [&] { finished = true; });
    model->scan();
    EXPECT_TRUE(model->busy());
    EXPECT_EQ(model->busyText(), "正在扫描");
    model->scan(QStringLiteral("/ignored"));
    model->forgetRoot(QStringLiteral("/saved"));
    platform.nextChoice = QStringLiteral("/ignored");
    model->chooseGame();
    EXPECT_EQ(platform.writes, 1); // the first scan's own write, and no other
    EXPECT_EQ(platform.store.value(kSavedKey), QStringList{"/saved"});

    model.reset();
    release.release();
    QThreadPool::globalInstance()->waitForDone();
    QTest::qWait(50); // lets the watcher resume the scan task, which must not touch the model
    EXPECT_FALSE(finished);
    EXPECT_NE(scanThread, QThread::currentThread());
    EXPECT_EQ(scannedRoots, (std::vector<Path>{"/default/one", "/default/two", "/saved"}));
}

TEST(AppModel, ScanMessageNamesEachKindOfTroubleInOrder) {
    EXPECT_EQ(
        scanMessage({{GameClient("/g/_retail_"), GameClient("/g/_classic_")}, {"/a", "/b"}, {"/x", "/y", "/z"}, true},
                    {"/b", "/c"}),
        "找到 2 个版本目录。扫描范围有限，其他位置请手动选择。 有 3 个位置无法访问，请检查权限。 "
        "已达到扫描深度或数量上限，请手动选择。 有 1 个已保存位置不存在或磁盘离线。");
}
