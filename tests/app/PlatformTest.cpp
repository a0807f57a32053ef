#include <QSettings>
#include <gtest/gtest.h>

#include "platform/LinuxPlatform.h"
#include "support/QtPrint.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

// One process folder of a /proc-style tree.
void addProcess(const Path& proc, const std::string& pid, const std::string& exe, const std::string& comm,
                const std::string& cmdline) {
    const Path folder = proc / pid;
    makeDirs(folder);
    std::filesystem::create_symlink(exe, folder / "exe");
    writeFile(folder / "comm", comm + "\n");
    writeFile(folder / "cmdline", cmdline);
}

std::string nul(std::initializer_list<std::string> parts) {
    std::string out;
    for (const auto& part : parts) {
        out += part;
        out.push_back('\0');
    }
    return out;
}

} // namespace

TEST(LinuxPlatform, StringListsSurviveTheSettingsFileExactly) {
    TempDir dir;
    const std::vector<QStringList> lists{
        {},
        {"/Games/World of Warcraft"},
        {"/a, b", "/魔兽世界/_retail_", "/x=y;z\"q\\"},
    };
    for (size_t i = 0; i < lists.size(); ++i) {
        SCOPED_TRACE(lists[i].join('|').toStdString());
        LinuxPlatform::Options written;
        written.settingsFile = toQString(dir / ("written" + std::to_string(i) + ".ini"));
        LinuxPlatform(written).setStringList("Olvex.selectedRoots", lists[i]);
        // Read a copy: QSettings shares one cache per file within a process, so only a file
        // it has never seen proves what is on disk.
        LinuxPlatform::Options copy;
        copy.settingsFile = toQString(dir / ("copy" + std::to_string(i) + ".ini"));
        writeFile(toPath(copy.settingsFile), readFile(toPath(written.settingsFile)));
        EXPECT_EQ(LinuxPlatform(copy).stringList("Olvex.selectedRoots"), lists[i]);
    }

    const Path foreign = dir / "foreign.ini";
    // INI values carry no type beyond text and lists; a byte array is something else.
    writeFile(foreign, "[General]\nOlvex.bytes=@ByteArray(xyz)\n");
    LinuxPlatform::Options options;
    options.settingsFile = toQString(foreign);
    LinuxPlatform platform(options);
    EXPECT_EQ(platform.stringList("Olvex.bytes"), std::nullopt);
    EXPECT_EQ(platform.stringList("Olvex.absent"), std::nullopt);
}

TEST(LinuxPlatform, ListsTheProgramsOfItsProcTreeForTheGameCheck) {
    TempDir dir;
    const Path proc = dir / "proc";
    addProcess(proc, "100", "/usr/bin/bash", "bash", nul({"bash", "-l"}));
    LinuxPlatform::Options options;
    options.settingsFile = toQString(dir / "settings.ini");
    options.procRoot = proc;
    LinuxPlatform platform(options);
    auto harmless = platform.runningApplications();
    ASSERT_EQ(harmless.size(), 1u);
    EXPECT_FALSE(countsAsGame(harmless[0], {}));

    // The game under Wine: the loader runs a Windows program named on the command line.
    addProcess(proc, "200", "/usr/lib/wine/wine64-preloader", "Wow.exe",
               nul({R"(C:\Program Files (x86)\World of Warcraft\_retail_\Wow.exe)"}));
    auto apps = platform.runningApplications();
    ASSERT_EQ(apps.size(), 2u);
    EXPECT_TRUE(std::any_of(apps.begin(), apps.end(), [](const auto& app) { return countsAsGame(app, {}); }));
}
