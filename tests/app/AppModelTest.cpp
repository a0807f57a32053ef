#include <QSemaphore>
#include <atomic>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <gtest/gtest.h>

#include "model/AppModel.h"
#include "support/FakePlatform.h"
#include "support/QtPrint.h"

using namespace olvex;
using namespace olvex::test;

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
    QObject::connect(model.get(), &AppModel::scanFinished, [&] { finished = true; });
    model->scan();
    ASSERT_TRUE(QTest::qWaitFor([&] { return scanThread != nullptr; }, 5000)); // after the staging clean-up
    model->scan(QStringLiteral("/ignored"));
    model->forgetRoot(QStringLiteral("/saved"));
    platform.nextChoice = QStringLiteral("/ignored");
    model->chooseGame();
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

TEST(AppModel, ScanMessageNamesEachKindOfTroubleInOrder) {
    EXPECT_EQ(
        scanMessage({{GameClient("/g/_retail_"), GameClient("/g/_classic_")}, {"/a", "/b"}, {"/x", "/y", "/z"}, true},
                    {"/b", "/c"}),
        "找到 2 个版本目录。扫描范围有限，其他位置请手动选择。 有 3 个位置无法访问，请检查权限。 "
        "已达到扫描深度或数量上限，请手动选择。 有 1 个已保存位置不存在或磁盘离线。");
}
