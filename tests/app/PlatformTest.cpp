#include <QSettings>
#include <gtest/gtest.h>

#include "model/GameRunningCheck.h"
#include "platform/LinuxPlatform.h"
#include "support/QtPrint.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {

// One process folder of a /proc-style tree; an empty `exe` leaves the link out, as for a
// process of another user.
void addProcess(const Path& proc, const std::string& pid, const std::string& exe, const std::string& comm,
                const std::string& cmdline, const std::string& environ = {}) {
    const Path folder = proc / pid;
    makeDirs(folder);
    if (!exe.empty()) {
        std::filesystem::create_symlink(exe, folder / "exe");
    }
    writeFile(folder / "comm", comm + "\n");
    writeFile(folder / "cmdline", cmdline);
    writeFile(folder / "environ", environ);
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

TEST(LinuxPlatform, ReadsNativeAndWineProcessesAndCatchesTheGame) {
    TempDir dir;
    const Path proc = dir / "proc";
    const Path prefix = dir / "prefix";
    const Path retail = prefix / "drive_c/Program Files (x86)/World of Warcraft/_retail_";
    makeDirs(retail);
    makeDirs(prefix / "dosdevices");
    std::filesystem::create_symlink("../drive_c", prefix / "dosdevices/c:");

    addProcess(proc, "100", "/usr/bin/bash", "bash", nul({"bash", "-l"}));
    addProcess(proc, "200", "/usr/lib/wine/wine64-preloader", "Wow.exe",
               nul({R"(C:\Program Files (x86)\World of Warcraft\_retail_\Wow.exe)", "-launch"}),
               nul({"HOME=/home/nobody", "WINEPREFIX=" + prefix.native()}));
    addProcess(proc, "300", "/usr/lib/wine/wine64-preloader", "Launcher.exe",
               nul({R"(C:\Program Files (x86)\World of Warcraft\_retail_\Launcher.exe)"}),
               nul({"WINEPREFIX=" + prefix.native()}));
    addProcess(proc, "400", "", "WowClassic.exe", nul({R"(Z:\games\wow\_classic_\WowClassic.exe)"}));
    addProcess(proc, "500", "", "kworker/0:1", "");
    makeDirs(proc / "self"); // not a process number: skipped

    auto apps = readRunningApplications(toQString(proc));
    std::sort(apps.begin(), apps.end(),
              [](const auto& a, const auto& b) { return a.localizedName.value_or("") < b.localizedName.value_or(""); });
    const QString retailText = toQString(retail);
    const QList<RunningApplication> expected{
        {retailText + "/Launcher.exe", R"(C:\Program Files (x86)\World of Warcraft\_retail_\Launcher.exe)",
         "Launcher.exe"},
        {retailText + "/Wow.exe", R"(C:\Program Files (x86)\World of Warcraft\_retail_\Wow.exe)", "Wow.exe"},
        {"/games/wow/_classic_/WowClassic.exe", R"(Z:\games\wow\_classic_\WowClassic.exe)", "WowClassic.exe"},
        {"/usr/bin/bash", "/usr/bin/bash", "bash"},
        {std::nullopt, std::nullopt, "kworker/0:1"},
    };
    ASSERT_EQ(apps, expected);

    const std::vector<GameClient> found{GameClient(retail)};
    struct Case {
        RunningApplication app;
        std::vector<GameClient> clients;
        bool game;
    };
    const std::vector<Case> cases{
        {expected[0], found, true},  // any program inside a found version folder
        {expected[0], {}, false},    // ... and only there
        {expected[1], {}, true},     // Wow.exe under Wine, by its name alone
        {expected[2], {}, true},     // WowClassic.exe
        {expected[3], found, false}, // bash
        {expected[4], found, false}, // kernel thread
        {{"/opt/x/WoWT", "/opt/x/WoWT", std::nullopt}, {}, true},
        {{"/opt/x/wowx", "/opt/x/wowx", std::nullopt}, {}, false},
        {{std::nullopt, std::nullopt, "World of WARCRAFT"}, {}, true},
        {{std::nullopt, std::nullopt, "魔兽世界"}, {}, true},
        {{std::nullopt, std::nullopt, "魔兽"}, {}, false},
        {{retailText + "x/Wow2", std::nullopt, std::nullopt}, found, false}, // a sibling, not inside
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(countsAsGame(cases[i].app, cases[i].clients), cases[i].game);
    }
}

TEST(LinuxPlatform, MapsWindowsPathsThroughThePrefixDrives) {
    TempDir dir;
    makeDirs(dir / "prefix/drive_c/Games");
    makeDirs(dir / "prefix/dosdevices");
    std::filesystem::create_symlink("../drive_c", dir / "prefix/dosdevices/c:");
    const QString prefix = toQString(dir / "prefix");
    EXPECT_EQ(wineLocalPath(R"(c:\Games\Wow.exe)", prefix), toQString(dir / "prefix/drive_c/Games/Wow.exe"));
    EXPECT_EQ(wineLocalPath(R"(Z:\srv\Wow.exe)", QString()), "/srv/Wow.exe");
    EXPECT_EQ(wineLocalPath(R"(D:\Games\Wow.exe)", prefix), std::nullopt); // no such drive
    EXPECT_EQ(wineLocalPath(R"(\\server\share\Wow.exe)", prefix), std::nullopt);
}
