#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "discovery/GameScanner.h"
#include "fs/Sys.h"
#include "support/TestSupport.h"

using namespace olvex;
using namespace olvex::test;

namespace {
std::vector<std::string> ids(const ScanReport& report) {
    std::vector<std::string> out;
    for (const auto& client : report.clients) {
        out.push_back(client.id());
    }
    return out;
}
} // namespace

TEST(GameScanner, FindsVersionFoldersOnceEachAndReportsMissingAndInaccessibleRoots) {
    TempDir dir;
    const Path game = dir / "World of Warcraft";
    makeDirs(game / "_retail_/Interface");
    makeDirs(game / "_classic_");
    makeDirs(game / "_Retail_");                                   // wrong case: not a version folder
    makeDirs(game / "_retail_/_ptr_");                             // inside a version folder: never entered
    makeDirs(dir / "hidden/.cache/_classic_");                     // a hidden folder is never entered
    fs::create_directory_symlink(game, dir / "hidden/inner-link"); // nor a link below a root
    fs::create_directory_symlink(game, dir / "link");
    writeFile(dir / "file", "x");
    const Path missing = dir / "missing", belowLink = dir / "link/_retail_", dotdot = game / "../World of Warcraft";
    auto report = GameScanner::scanReport(
        {game, game, game / "_retail_", dir.path(), missing, dir / "file", dir / "link", belowLink, dotdot});
    EXPECT_EQ(ids(report), (std::vector<std::string>{(game / "_classic_").native(), (game / "_retail_").native()}));
    EXPECT_EQ(report.missingRoots, (std::vector<Path>{missing}));
    EXPECT_EQ(report.inaccessibleRoots, (std::vector<Path>{dir / "link", belowLink, dotdot}));
    EXPECT_FALSE(report.reachedLimit);

    // A version folder picked itself, with a trailing slash.
    EXPECT_EQ(ids(GameScanner::scanReport({Path((game / "_retail_").native() + "/")})),
              std::vector<std::string>{(game / "_retail_").native()});
}

TEST(GameScanner, DepthLimitIsThreeLevelsBelowTheRoot) {
    TempDir dir;
    makeDirs(dir / "a/b/_retail_"); // depth 3: found
    auto atThree = GameScanner::scanReport({dir.path()});
    EXPECT_EQ(ids(atThree), (std::vector<std::string>{(dir / "a/b/_retail_").native()}));
    EXPECT_FALSE(atThree.reachedLimit);

    makeDirs(dir / "a/b/c/_classic_"); // depth 4: not found, limit flagged
    auto atFour = GameScanner::scanReport({dir.path()});
    EXPECT_EQ(ids(atFour), (std::vector<std::string>{(dir / "a/b/_retail_").native()}));
    EXPECT_TRUE(atFour.reachedLimit);
}

TEST(GameScanner, FolderCountLimitIsSharedByAllRoots) {
    TempDir dir;
    // Root (1) + 4998 folders = 4999 counted; the version folder is number 5000 and counts.
    makeDirs(dir / "r");
    for (int i = 0; i < 4998; ++i) {
        makeDirs(dir / ("r/f" + std::to_string(i)));
    }
    makeDirs(dir / "second/_retail_");
    auto exact = GameScanner::scanReport({dir / "r", dir / "second/_retail_"});
    EXPECT_EQ(exact.clients.size(), 1u);
    EXPECT_FALSE(exact.reachedLimit);

    makeDirs(dir / "r/one-more");
    auto over = GameScanner::scanReport({dir / "r", dir / "second/_retail_"});
    EXPECT_TRUE(over.clients.empty());
    EXPECT_TRUE(over.reachedLimit);
}

namespace {

// Protobuf wire format by hand: a length-delimited field.
std::string field(int number, const std::string& bytes) {
    std::string out(1, static_cast<char>(number << 3 | 2));
    for (size_t n = bytes.size();; n >>= 7) {
        out += static_cast<char>((n & 0x7f) | (n > 0x7f ? 0x80 : 0));
        if (n <= 0x7f) {
            break;
        }
    }
    return out + bytes;
}

// A product.db naming each install path.
void writeProductDatabase(const Path& drive, const std::vector<std::string>& paths) {
    std::string database;
    for (const auto& path : paths) {
        database += field(1, field(2, "wow") + field(3, field(1, path)));
    }
    writeFile(drive / "ProgramData/Battle.net/Agent/product.db", database);
}

// A Wine prefix as Wine leaves it: drive_c, and dosdevices with c: and z: (the whole disk).
Path makePrefix(const Path& prefix, const Path& zTarget = "/") {
    makeDirs(prefix / "drive_c/windows/system32");
    makeDirs(prefix / "drive_c/users/player");
    makeDirs(prefix / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
    fs::create_directory_symlink(zTarget, prefix / "dosdevices/z:");
    return prefix / "drive_c";
}

// A home where every launcher has installed the game, with the damage players' disks show.
struct FakeHome {
    TempDir dir;
    const Path home = dir / "home";
    const Path lutrisPrefix = home / "Games/world-of-warcraft";
    const Path classicPrefix = dir / "Prefixes/classic";
    const Path customPrefix = dir / "custom prefix";
    const Path windows = dir / "media/p/Windows";
    const Path data = dir / "media/p/Data";
    const Path locked = home / ".local/share/bottles/bottles/Locked";
    const std::string wow = "World of Warcraft";

    FakeHome() {
        // Lutris: a game record in the configuration folder, its prefix under ~/Games with a
        // database naming C:, a D: mapped outside the prefix, Z: and a looping E:.
        writeFile(home / ".config/lutris/games/world-of-warcraft-1700000000.yml",
                  "game:\n  exe: x.exe\n  prefix: ~/Games/world-of-warcraft\ngame_slug: world-of-warcraft\n");
        const Path driveC = makePrefix(lutrisPrefix);
        makeDirs(driveC / "Program Files (x86)" / wow / "_retail_");
        makeDirs(driveC / "Program Files (x86)" / wow / "_classic_");
        makeDirs(dir / "drives/D/Games/魔兽世界/_classic_era_");
        makeDirs(dir / "elsewhere" / wow / "_anniversary_");
        fs::create_directory_symlink(dir / "drives/D", lutrisPrefix / "dosdevices/d:");
        fs::create_symlink("e:", lutrisPrefix / "dosdevices/e:");
        writeProductDatabase(driveC, {"C:/Program Files (x86)/World of Warcraft", "D:\\Games\\魔兽世界",
                                      "Z:" + (dir / "elsewhere" / wow).native(), "E:/Games/World of Warcraft"});
        writeFile(home / ".config/lutris/games/huge.yml", std::string(2 * 1024 * 1024, '#'));
        writeFile(home / ".config/lutris/games/offline.yml", "game:\n  prefix: " + (dir / "offline/pfx").native());
        writeFile(home / ".config/lutris/system.yml", "system:\n  game_path: ~/LutrisGames\n");
        makeDirs(home / "LutrisGames/Manual" / wow / "_retail_");
        fs::create_directory_symlink(home / "Games/loop-b", home / "Games/loop-a");
        fs::create_directory_symlink(home / "Games/loop-a", home / "Games/loop-b");
        // Newer Lutris keeps records in the data folder; this prefix's z: holds a game that only
        // a walk of z: would find.
        writeFile(home / ".local/share/lutris/games/wow-classic.yml",
                  "game:\n  prefix: " + classicPrefix.native() + "\ngame_slug: wow-classic\n");
        writeFile(home / ".local/share/lutris/games/broken.yml", "game: [");
        makeDirs(makePrefix(classicPrefix, dir / "zroot") / "Games" / wow / "_classic_ptr_");
        makeDirs(dir / "zroot/Games" / wow / "_retail_");
        writeFile(home / ".var/app/net.lutris.Lutris/data/lutris/games/beta.yml",
                  "game:\n  prefix: ~/Flatpak/beta\nslug: beta\n");
        makeDirs(makePrefix(home / "Flatpak/beta") / "Program Files" / wow / "_beta_");
        // Bottles, native (with a damaged database) and Flatpak; one bottle cannot be listed.
        const Path bottle = makePrefix(home / ".local/share/bottles/bottles/Battle.net");
        makeDirs(bottle / "Program Files (x86)" / wow / "_ptr_");
        writeFile(bottle / "ProgramData/Battle.net/Agent/product.db", field(1, "cut short").substr(0, 6));
        makeDirs(makePrefix(home / ".var/app/com.usebottles.bottles/data/bottles/bottles/Other") /
                 "魔兽世界/_classic_beta_");
        makeDirs(locked);
        // Steam: ~/.steam/steam links to the install, whose list names a second library; the
        // Flatpak's list is damaged.
        writeFile(home / ".local/share/Steam/steamapps/libraryfolders.vdf",
                  "\"libraryfolders\" { \"0\" { \"path\" \"" + (home / ".local/share/Steam").native() +
                      "\" } \"1\" { \"path\" \"" + (dir / "SteamLibrary").native() + "\" } }");
        makeDirs(home / ".steam");
        fs::create_directory_symlink("../.local/share/Steam", home / ".steam/steam");
        makeDirs(makePrefix(dir / "SteamLibrary/steamapps/compatdata/3001234567/pfx") / "Program Files (x86)" / wow /
                 "_retail_");
        writeFile(home / ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/libraryfolders.vdf",
                  "\"libraryfolders\" " + std::string(10000, '{'));
        // PlayOnLinux, ~/.wine and $WINEPREFIX.
        makeDirs(makePrefix(home / ".PlayOnLinux/wineprefix/WoW") / "Program Files" / wow / "_classic_");
        makeDirs(makePrefix(home / ".wine") / "Program Files (x86)" / wow / "_retail_");
        makeDirs(makePrefix(customPrefix) / "Program Files/魔兽世界/_retail_");
        // A Windows partition and a data drive mounted for the user.
        makeDirs(windows / "Windows/System32");
        makeDirs(windows / "Program Files (x86)" / wow / "_retail_");
        makeDirs(windows / "Games/WoW/_classic_");
        writeProductDatabase(windows, {"C:\\Games\\WoW"});
        makeDirs(data / "Games" / wow / "_classic_era_");
    }

    UserEnvironment environment() const {
        UserEnvironment environment = UserEnvironment::forHome(home, "p");
        environment.winePrefix = customPrefix;
        environment.mountRoots = {dir / "media/p", dir / "mnt"};
        return environment;
    }
};

// Each client's path and how it was found.
std::map<std::string, std::string> sources(const ScanReport& report) {
    std::map<std::string, std::string> out;
    for (const auto& client : report.clients) {
        out[client.id()] = report.sourceOf(client).displayText();
    }
    return out;
}

// Runs the scan with the listing of one folder failing as an unreadable folder does (the
// tests run as root, for whom permissions deny nothing).
ScanReport scanWithUnreadable(const Path& unreadable, const std::function<ScanReport()>& scan) {
    sys::fault::arm({.inject = [&](const sys::fault::Call& call) {
        return std::string_view(call.name) == "listDirectory" && call.path == unreadable.native() ? EACCES : 0;
    }});
    ScanReport report = scan();
    sys::fault::disarm();
    return report;
}

} // namespace

TEST(GameScanner, FindsTheGameWhereEveryLinuxLauncherKeepsIt) {
    FakeHome fake;
    const Path& dir = fake.dir.path();
    const std::string wow = fake.wow;
    const ScanReport report =
        scanWithUnreadable(fake.locked, [&] { return GameScanner::scanDefaultPlaces(fake.environment(), {}); });
    const std::string lutris = "Lutris：world-of-warcraft";
    const std::string drivesText = "已挂载的磁盘：";
    EXPECT_EQ(
        sources(report),
        (std::map<std::string, std::string>{
            {fake.lutrisPrefix / "drive_c/Program Files (x86)" / wow / "_classic_", lutris},
            {fake.lutrisPrefix / "drive_c/Program Files (x86)" / wow / "_retail_", lutris},
            {dir / "drives/D/Games/魔兽世界/_classic_era_", lutris},
            {dir / "elsewhere" / wow / "_anniversary_", lutris},
            {fake.classicPrefix / "drive_c/Games" / wow / "_classic_ptr_", "Lutris：wow-classic"},
            {fake.home / "Flatpak/beta/drive_c/Program Files" / wow / "_beta_", "Lutris：beta"},
            {fake.home / "LutrisGames/Manual" / wow / "_retail_", "Lutris"},
            {fake.home / ".local/share/bottles/bottles/Battle.net/drive_c/Program Files (x86)" / wow / "_ptr_",
             "Bottles：Battle.net"},
            {fake.home / ".var/app/com.usebottles.bottles/data/bottles/bottles/Other/drive_c/"
                         "魔兽世界/_classic_beta_",
             "Bottles：Other"},
            {dir / "SteamLibrary/steamapps/compatdata/3001234567/pfx/drive_c/Program Files (x86)" / wow / "_retail_",
             "Steam"},
            {fake.home / ".PlayOnLinux/wineprefix/WoW/drive_c/Program Files" / wow / "_classic_", "PlayOnLinux：WoW"},
            {fake.home / ".wine/drive_c/Program Files (x86)" / wow / "_retail_", "Wine"},
            {fake.customPrefix / "drive_c/Program Files/魔兽世界/_retail_", "Wine：" + fake.customPrefix.native()},
            {fake.windows / "Program Files (x86)" / wow / "_retail_", drivesText + fake.windows.native()},
            {fake.windows / "Games/WoW/_classic_", drivesText + fake.windows.native()},
            {fake.data / "Games" / wow / "_classic_era_", drivesText + fake.data.native()},
        }));
    std::vector<Path> unreadable = report.unreadableFiles;
    std::sort(unreadable.begin(), unreadable.end());
    EXPECT_EQ(unreadable,
              (std::vector<Path>{
                  fake.home / ".config/lutris/games/huge.yml",
                  fake.home / ".local/share/bottles/bottles/Battle.net/drive_c/ProgramData/Battle.net/Agent/product.db",
                  fake.home / ".local/share/lutris/games/broken.yml",
                  fake.home / ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/libraryfolders.vdf"}));
    EXPECT_EQ(report.inaccessibleRoots, (std::vector<Path>{fake.locked}));
    EXPECT_EQ(report.missingRoots, (std::vector<Path>{dir / "offline/pfx"})); // named by a record: an offline drive
    EXPECT_FALSE(report.reachedLimit);
}

// A folder the player picks is searched with the same knowledge: a Lutris game folder (its
// prefix), the folder holding it, a prefix, drive_c, a mounted Windows drive.
TEST(GameScanner, PickedFoldersAreSearchedAsPrefixesAndDrives) {
    FakeHome fake;
    const Path& dir = fake.dir.path();
    const std::string wow = fake.wow;
    const std::vector<std::string> lutrisGames{dir / "drives/D/Games/魔兽世界/_classic_era_",
                                               dir / "elsewhere" / wow / "_anniversary_",
                                               fake.lutrisPrefix / "drive_c/Program Files (x86)" / wow / "_classic_",
                                               fake.lutrisPrefix / "drive_c/Program Files (x86)" / wow / "_retail_"};
    const std::vector<std::pair<Path, std::vector<std::string>>> picks{
        {fake.lutrisPrefix, lutrisGames},
        {fake.home / "Games", lutrisGames},
        {fake.classicPrefix, {fake.classicPrefix / "drive_c/Games" / wow / "_classic_ptr_"}}, // z: is not walked
        {fake.home / ".wine/drive_c", {fake.home / ".wine/drive_c/Program Files (x86)" / wow / "_retail_"}},
        {fake.windows, {fake.windows / "Games/WoW/_classic_", fake.windows / "Program Files (x86)" / wow / "_retail_"}},
    };
    for (const auto& [root, expected] : picks) {
        SCOPED_TRACE(root);
        const ScanReport report = GameScanner::scanReport({root});
        EXPECT_EQ(ids(report), expected);
        for (const auto& client : report.clients) {
            EXPECT_EQ(report.sourceOf(client).displayText(), "手动选择");
        }
        EXPECT_TRUE(report.inaccessibleRoots.empty());
        EXPECT_FALSE(report.reachedLimit);
    }
}

// A home where nothing is installed: the usual folders are absent, which is not news.
TEST(GameScanner, AnEmptyHomeReportsNothing) {
    TempDir dir;
    UserEnvironment environment = UserEnvironment::forHome(dir / "home", "p");
    environment.mountRoots = {dir / "mnt"};
    const ScanReport report = GameScanner::scanDefaultPlaces(environment, {dir / "picked"});
    EXPECT_TRUE(report.clients.empty());
    EXPECT_EQ(report.missingRoots, (std::vector<Path>{dir / "picked"}));
    EXPECT_TRUE(report.inaccessibleRoots.empty());
    EXPECT_TRUE(report.unreadableFiles.empty());
}
