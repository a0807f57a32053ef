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
    const QString file = toQString(dir / "settings.ini");
    const std::vector<QStringList> lists{
        {},
        {"/Games/World of Warcraft"},
        {"/a, b", "/魔兽世界/_retail_", "/x=y;z\"q\\"},
    };
    for (const auto& list : lists) {
        SCOPED_TRACE(list.join('|').toStdString());
        LinuxPlatform::Options options;
        options.settingsFile = file;
        LinuxPlatform(options).setStringList("Olvex.selectedRoots", list);
        // A new instance reads what the first one stored: nothing waits for an orderly exit.
        EXPECT_EQ(LinuxPlatform(options).stringList("Olvex.selectedRoots"), list);
    }

    QSettings(file, QSettings::IniFormat).setValue("Olvex.number", 7);
    LinuxPlatform::Options options;
    options.settingsFile = file;
    LinuxPlatform platform(options);
    EXPECT_EQ(platform.stringList("Olvex.number"), std::nullopt);
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
