#include <gtest/gtest.h>
#include <memory>

#include "platform/LinuxPlatform.h"
#include "support/QtPrint.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

TEST(LinuxPlatform, StringListsSurviveTheSettingsFileExactly) {
    TempDir dir;
    const auto platform = [&](const std::string& file) {
        LinuxPlatform::Options options;
        options.settingsFile = toQString(dir / file);
        return std::make_unique<LinuxPlatform>(options);
    };
    const std::vector<QStringList> lists{
        {}, {"/Games/World of Warcraft"}, {"/a, b", "/魔兽世界/_retail_", "/x=y;z\"q\\"}};
    for (size_t i = 0; i < lists.size(); ++i) {
        SCOPED_TRACE(lists[i].join('|').toStdString());
        const std::string name = std::to_string(i) + ".ini";
        platform("written" + name)->setStringList("Olvex.selectedRoots", lists[i]);
        // QSettings shares one cache per file within a process: only a file it has never seen
        // proves what is on disk.
        writeFile(dir / ("copy" + name), readFile(dir / ("written" + name)));
        EXPECT_EQ(platform("copy" + name)->stringList("Olvex.selectedRoots"), lists[i]);
    }
    // INI values carry no type beyond text and lists; a byte array is something else.
    writeFile(dir / "foreign.ini", "[General]\nOlvex.bytes=@ByteArray(xyz)\n");
    EXPECT_EQ(platform("foreign.ini")->stringList("Olvex.bytes"), std::nullopt);
}

// Which programs count as the game is the core's rule; the platform has to deliver them.
TEST(LinuxPlatform, ListsTheRunningProgramsForTheGameCheck) {
    const Path self = std::filesystem::read_symlink("/proc/self/exe");
    const auto apps = LinuxPlatform().runningApplications();
    EXPECT_TRUE(std::any_of(apps.begin(), apps.end(), [&](const auto& app) { return app.executableURL == self; }));
}
